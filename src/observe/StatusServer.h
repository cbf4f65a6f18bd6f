#pragma once
// The read-only HTTP endpoint. Every answer is built from memory on the
// event loop; a client that sends too much or too slowly is cut off, and
// no client can hold more than one connection slot of a few.
#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHostAddress>
#include <functional>

namespace quvo {

class StatusServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    static constexpr qint64 kMaxRequestBytes = 8 * 1024;
    static constexpr int kRequestDeadlineMs = 5000;   // from the first byte of a request to its end
    static constexpr int kIdleMs = 60'000;            // a kept-alive connection without a request
    static constexpr int kMaxConnections = 16;

    struct Answer {
        int status = 404;
        QByteArray contentType = "text/plain; charset=utf-8";
        QByteArray body;
    };
    using Handler = std::function<Answer(const QString& path)>;

    explicit StatusServer(Handler handler, QObject* parent = nullptr);

    // False, with the reason, when the address cannot be listened on.
    bool listenOn(const QHostAddress& address, quint16 port, QString* error);
    quint16 port() const { return m_port; }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    Handler m_handler;
    quint16 m_port = 0;
};

} // namespace quvo
