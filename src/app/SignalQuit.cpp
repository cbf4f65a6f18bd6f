#include "app/SignalQuit.h"

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quvo {

namespace {

int g_pair[2] = {-1, -1};
QPointer<QSocketNotifier> g_notifier;

extern "C" void quvoQuitSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pair[0], &byte, 1);
    errno = savedErrno;
}

bool setHandler(int signalNumber, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(signalNumber, &action, nullptr) == 0;
}

void release()
{
    setHandler(SIGTERM, SIG_DFL);
    setHandler(SIGINT, SIG_DFL);
    for (int& fd : g_pair) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace

bool installQuitSignals(QObject* context, std::function<void()> onSignal)
{
    if (!context)
        return false;
    if (g_notifier) {
        delete g_notifier.data();
        release();
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pair) != 0)
        return false;

    auto* notifier = new QSocketNotifier(g_pair[1], QSocketNotifier::Read, context);
    const int readEnd = g_pair[1];
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [readEnd, onSignal = std::move(onSignal)] {
        unsigned char bytes[16];
        const ssize_t got = ::read(readEnd, bytes, sizeof bytes);
        for (ssize_t i = 0; i < got; ++i) {
            if (onSignal)
                onSignal();
        }
    });
    QObject::connect(notifier, &QObject::destroyed, [notifier] {
        if (g_notifier.isNull() || g_notifier.data() == notifier)
            release();
    });
    g_notifier = notifier;
    if (!setHandler(SIGTERM, quvoQuitSignal) || !setHandler(SIGINT, quvoQuitSignal)) {
        delete notifier;
        return false;
    }
    return true;
}

} // namespace quvo
