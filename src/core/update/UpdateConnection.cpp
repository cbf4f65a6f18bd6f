#include "core/update/UpdateConnection.h"

#include "common/Paths.h"

#include <QHostAddress>

namespace quvo {

UpdateConnection::UpdateConnection(QObject* parent) : QObject(parent)
{
    m_wait.setSingleShot(true);
    connect(&m_wait, &QTimer::timeout, this, &UpdateConnection::waitExpired);
    connect(&m_socket, &QTcpSocket::connected, this, &UpdateConnection::connected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &UpdateConnection::readAll);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &UpdateConnection::failed);
    connect(&m_socket, &QTcpSocket::disconnected, this, [this] {
        readAll();
        emit closed();
    });
    // While a message opened by a read is up, the read is not taken up again;
    // Qt then holds at most this much and lets TCP hold back the rest.
    m_socket.setReadBufferSize(1024 * 1024);
}

UpdateConnection::~UpdateConnection()
{
    m_socket.disconnect(this);
    m_socket.abort();
}

void UpdateConnection::open(const QString& name, quint16 port)
{
    if (IsNumericAddress(name)) {
        const QString address = name.split(u'.').mid(0, 4).join(u'.');
        m_socket.connectToHost(QHostAddress(address), port);
    } else {
        m_socket.connectToHost(name, port);
    }
}

void UpdateConnection::abort()
{
    m_socket.abort();
}

void UpdateConnection::send(const QByteArray& wireBytes)
{
    if (isConnected())
        m_socket.write(wireBytes);
}

void UpdateConnection::restartWait(int ms)
{
    m_wait.stop();
    m_wait.setInterval(ms);
    m_wait.start();
}

void UpdateConnection::readAll()
{
    // Qt does not announce new data again while this runs.
    if (m_inRead)
        return;
    m_inRead = true;
    while (m_socket.bytesAvailable() > 0)
        emit received(m_socket.readAll());
    m_inRead = false;
}

} // namespace quvo
