#pragma once
// Tells systemd how the program is doing: ready, the status line, and the
// watchdog ping from the event loop, so that a frozen loop gets restarted.
// Does nothing unless the service manager named a socket (NOTIFY_SOCKET).
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class QSocketNotifier;

namespace quvo {

class ServiceNotifier : public QObject {
    Q_OBJECT
public:
    explicit ServiceNotifier(QObject* parent = nullptr);
    ~ServiceNotifier() override;

    bool active() const { return m_active; }
    int watchdogIntervalMs() const { return m_watchdog.isActive() ? m_watchdog.interval() : 0; }

    void ready();
    void status(const QString& text);
    void stopping();
    // Names another process of the service as its main process; nothing
    // more is sent after it.
    void handOver(qint64 pid);

private:
    void send(const QByteArray& state);
    void sendStatus();
    void watchPredecessor(qint64 pid);
    void stopWatchingPredecessor();

    QTimer m_watchdog;
    QString m_lastStatus;
    bool m_active = false;
    bool m_handedOver = false;
    int m_predecessorFd = -1;
    std::unique_ptr<QSocketNotifier> m_predecessorGone;
};

} // namespace quvo
