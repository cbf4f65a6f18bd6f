#pragma once
// Tells systemd how the program is doing: ready, the status line, and the
// watchdog ping from the event loop, so that a frozen loop gets restarted.
// Does nothing unless the service manager named a socket (NOTIFY_SOCKET).
#include <QObject>
#include <QString>
#include <QTimer>

namespace quvo {

class ServiceNotifier : public QObject {
    Q_OBJECT
public:
    explicit ServiceNotifier(QObject* parent = nullptr);

    bool active() const { return m_active; }
    int watchdogIntervalMs() const { return m_watchdog.isActive() ? m_watchdog.interval() : 0; }

    void ready();
    void status(const QString& text);
    void stopping();
    // Names another process of the service as its main process.
    void handOver(qint64 pid);

private:
    void send(const QByteArray& state);

    QTimer m_watchdog;
    QString m_lastStatus;
    bool m_active = false;
};

} // namespace quvo
