#pragma once
// An in-process call server that records the frames the client sends and
// writes whatever the test tells it to, in as many pieces as asked.
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QStringList>
#include <functional>

namespace quvo::test {

class FakeServer : public QObject {
public:
    QTcpServer server;
    QTcpSocket* peer = nullptr;
    QByteArray received;      // from the current connection
    QByteArray earlier;       // from connections before it
    int connections = 0;
    // Called for each complete frame the client sends; may answer.
    std::function<void(const QByteArray& frame)> onFrame;

    // port 0: any free one; listen() may be called again later for a given port.
    explicit FakeServer(bool listening = true)
    {
        if (listening)
            server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                peer = s;
                ++connections;
                earlier += received;
                received.clear();
                QObject::connect(s, &QTcpSocket::readyRead, this, [this, s] {
                    if (s != peer)
                        return;
                    const int before = frames().size();
                    received += s->readAll();
                    const QList<QByteArray> all = frames();
                    for (int i = before; i < all.size(); ++i)
                        if (onFrame)
                            onFrame(all[i]);
                });
            }
        });
    }
    quint16 port() const { return server.serverPort(); }

    // Frames sent by the client so far, in order, as wire bytes.
    QList<QByteArray> frames() const
    {
        QList<QByteArray> out;
        int pos = 0;
        while ((pos = received.indexOf('\xA4', pos)) >= 0) {
            const int colon = received.indexOf(':', pos);
            if (colon < 0)
                break;
            const QByteArray tag = received.mid(pos + 1, colon - pos - 1);
            const int end = received.indexOf(tag + '\xA4', colon);
            if (end < 0)
                break;
            out << received.mid(pos, end + tag.size() + 1 - pos);
            pos = end + tag.size() + 1;
        }
        return out;
    }
    QStringList tags() const
    {
        QStringList t;
        for (const QByteArray& f : frames())
            t << QString::fromLatin1(f.mid(1, f.indexOf(':') - 1));
        return t;
    }
    bool waitForTagCount(const QString& tag, int count, int ms = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        while (tags().count(tag) < count && timer.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return tags().count(tag) >= count;
    }
    bool waitForPeer(int ms = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!peer && timer.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return peer != nullptr;
    }
    void send(const QByteArray& bytes, int pieceSize = 0)
    {
        if (!peer)
            return;
        if (pieceSize <= 0) {
            peer->write(bytes);
            peer->flush();
            return;
        }
        for (int i = 0; i < bytes.size(); i += pieceSize) {
            peer->write(bytes.mid(i, pieceSize));
            peer->flush();
            // Give each piece its own read on the client's side.
            for (int k = 0; k < 3; ++k)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        }
    }
    void dropPeer()
    {
        if (peer) {
            peer->abort();
            peer->deleteLater();
            peer = nullptr;
        }
    }
};

// "¤TAG:" + body + ":TAG¤" in windows-1252 (body is Latin-1 here).
inline QByteArray frame(const char* tag, const QByteArray& body)
{
    return QByteArray("\xA4") + tag + ':' + body + ':' + tag + '\xA4';
}

} // namespace quvo::test
