#include "app/ServiceNotifier.h"

#include <QByteArray>
#include <QSocketNotifier>
#include <cstdint>
#include <sys/syscall.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

namespace quvo {

namespace {
// Tells a program that the self-update starts which process holds the
// service until it hands it over.
constexpr char kPredecessorVariable[] = "QUVO_PREDECESSOR_PID";
} // namespace

ServiceNotifier::ServiceNotifier(QObject* parent) : QObject(parent)
{
    m_active = !qEnvironmentVariableIsEmpty("NOTIFY_SOCKET");
    if (!m_active)
        return;
    const qint64 predecessor = qgetenv(kPredecessorVariable).toLongLong();
    qputenv(kPredecessorVariable, QByteArray::number(qint64(::getpid())));

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
    if (predecessor > 0)
        watchPredecessor(predecessor);
}

ServiceNotifier::~ServiceNotifier() { stopWatchingPredecessor(); }

void ServiceNotifier::send(const QByteArray& state)
{
    if (m_active && !m_handedOver)
        sd_notify(0, state.constData());
}

void ServiceNotifier::ready() { send("READY=1"); }

void ServiceNotifier::status(const QString& text)
{
    if (text == m_lastStatus)
        return;
    m_lastStatus = text;
    sendStatus();
}

void ServiceNotifier::sendStatus()
{
    if (m_lastStatus.isEmpty())
        return;
    QByteArray line = m_lastStatus.toUtf8();
    line.replace('\n', ' ');
    send("STATUS=" + line);
}

void ServiceNotifier::stopping() { send("STOPPING=1"); }

void ServiceNotifier::handOver(qint64 pid)
{
    send("MAINPID=" + QByteArray::number(pid));
    // What this process said after the hand-over would stand as the
    // service's status over the new program's.
    m_handedOver = true;
    m_watchdog.stop();
    stopWatchingPredecessor();
}

void ServiceNotifier::watchPredecessor(qint64 pid)
{
    // Until the program that started this one has handed over and ended, its
    // last words can outdate this one's status: it is sent again after them.
    // Through syscall(): the C library's declaration lacks C linkage.
    m_predecessorFd = int(::syscall(SYS_pidfd_open, pid_t(pid), 0));
    if (m_predecessorFd < 0)
        return; // gone already: whatever comes from here on is the last word
    m_predecessorGone = std::make_unique<QSocketNotifier>(m_predecessorFd, QSocketNotifier::Read);
    connect(m_predecessorGone.get(), &QSocketNotifier::activated, this, [this] {
        stopWatchingPredecessor();
        sendStatus();
        if (m_watchdog.isActive())
            send("WATCHDOG=1");
    });
}

void ServiceNotifier::stopWatchingPredecessor()
{
    m_predecessorGone.reset();
    if (m_predecessorFd >= 0)
        ::close(m_predecessorFd);
    m_predecessorFd = -1;
}

} // namespace quvo
