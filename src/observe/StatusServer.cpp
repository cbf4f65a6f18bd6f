#include "observe/StatusServer.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace quvo {

namespace {

// Cut a connection off. Qt's server reads the socket in a slot of the same
// signal: it must not see the socket closed under it.
void dropConnection(QTcpSocket* socket)
{
    QObject::disconnect(socket, &QIODevice::readyRead, nullptr, nullptr);
    socket->abort();
}

// Rides on each socket, its readyRead connected before the HTTP server's:
// counts the bytes of the request under way and times it.
class ConnectionGuard : public QObject {
    Q_OBJECT
public:
    explicit ConnectionGuard(QTcpSocket* socket) : QObject(socket)
    {
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [socket] { dropConnection(socket); });
        m_timer.start(StatusServer::kIdleMs);
        connect(socket, &QIODevice::readyRead, this, [this, socket] {
            if (m_pending == 0)
                m_timer.start(StatusServer::kRequestDeadlineMs);
            m_pending += socket->bytesAvailable();
            if (m_pending > StatusServer::kMaxRequestBytes)
                dropConnection(socket);
        });
    }
    void answered()
    {
        m_pending = 0;
        m_timer.start(StatusServer::kIdleMs);
    }

private:
    QTimer m_timer;
    qint64 m_pending = 0;
};

class GuardedTcpServer : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        if (m_open >= StatusServer::kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        ++m_open;
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        new ConnectionGuard(socket);
        addPendingConnection(socket);
    }

private:
    int m_open = 0;
};

QHttpServerResponder::StatusCode statusCode(int status) { return QHttpServerResponder::StatusCode(status); }

} // namespace

StatusServer::StatusServer(Handler handler, QObject* parent) : QAbstractHttpServer(parent), m_handler(std::move(handler))
{
}

bool StatusServer::listenOn(const QHostAddress& address, quint16 port, QString* error)
{
    auto* server = new GuardedTcpServer(this);
    if (!server->listen(address, port)) {
        if (error)
            *error = server->errorString();
        delete server;
        return false;
    }
    m_port = server->serverPort();
    bind(server);
    return true;
}

bool StatusServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    if (auto* guard = socket->findChild<ConnectionGuard*>(QString(), Qt::FindDirectChildrenOnly))
        guard->answered();
    QHttpServerResponder responder = makeResponder(request, socket);
    if (request.method() != QHttpServerRequest::Method::Get) {
        responder.write(QByteArray("Endast GET\n"), {{"Content-Type", "text/plain; charset=utf-8"}, {"Allow", "GET"}},
                        QHttpServerResponder::StatusCode::MethodNotAllowed);
        return true;
    }
    const Answer answer = m_handler(request.url().path());
    responder.write(answer.body, {{"Content-Type", answer.contentType}}, statusCode(answer.status));
    return true;
}

void StatusServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}

} // namespace quvo

#include "StatusServer.moc"
