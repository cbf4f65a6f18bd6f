#include "app/ServiceNotifier.h"

#include <QByteArray>
#include <cstdint>
#include <systemd/sd-daemon.h>

namespace quvo {

ServiceNotifier::ServiceNotifier(QObject* parent) : QObject(parent)
{
    m_active = !qEnvironmentVariableIsEmpty("NOTIFY_SOCKET");
    if (!m_active)
        return;

    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        // A program started by the self-update takes over as the service's
        // main process; it must not inherit a WATCHDOG_PID naming this one,
        // or it would never ping.
        qunsetenv("WATCHDOG_PID");
        const uint64_t halfMs = usec / 2000;
        m_watchdog.setInterval(int(halfMs < 1 ? 1 : halfMs > 0x7fffffff ? 0x7fffffff : halfMs));
        connect(&m_watchdog, &QTimer::timeout, this, [this] { send("WATCHDOG=1"); });
        m_watchdog.start();
    }
}

void ServiceNotifier::send(const QByteArray& state)
{
    if (m_active)
        sd_notify(0, state.constData());
}

void ServiceNotifier::ready() { send("READY=1"); }

void ServiceNotifier::status(const QString& text)
{
    if (text == m_lastStatus)
        return;
    m_lastStatus = text;
    QByteArray line = text.toUtf8();
    line.replace('\n', ' ');
    send("STATUS=" + line);
}

void ServiceNotifier::stopping() { send("STOPPING=1"); }

void ServiceNotifier::handOver(qint64 pid) { send("MAINPID=" + QByteArray::number(pid)); }

} // namespace quvo
