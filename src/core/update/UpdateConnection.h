#pragma once
// The update connection: its socket and the one wait that bounds each step
// of a check (connect, first answer, file).
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

namespace quvo {

class UpdateConnection : public QObject {
    Q_OBJECT
public:
    explicit UpdateConnection(QObject* parent = nullptr);
    ~UpdateConnection() override;

    // A numeric name counts only by the four parts that make it an address.
    void open(const QString& name, quint16 port);
    void abort();
    bool idle() const { return m_socket.state() == QAbstractSocket::UnconnectedState; }
    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    // Nothing goes out on a connection that is not up.
    void send(const QByteArray& wireBytes);

    void restartWait(int ms);
    void stopWait() { m_wait.stop(); }

    QTcpSocket& socket() { return m_socket; }

signals:
    void connected();
    // Each piece read, in order; also what is left when the connection closes.
    void received(const QByteArray& chunk);
    void failed(QAbstractSocket::SocketError error);
    void closed();
    void waitExpired();

private:
    void readAll();

    QTcpSocket m_socket;
    QTimer m_wait;
    bool m_inRead = false;
};

} // namespace quvo
