#pragma once
// The real client core in its own thread with its own event loop, connected
// over loopback to a bare server socket in the calling thread, which watches
// the Telldus simulator's log for the receiver's switching.
#include "common/SettingsStore.h"
#include "common/UserInterface.h"
#include "common/ClientIdentity.h"
#include "core/Dispatcher.h"
#include "core/HardwareClient.h"
#include "core/ServerConnection.h"
#include "core/UpdateClient.h"
#include "device/Activation.h"
#include "device/DeviceController.h"
#include "device/TelldusWorker.h"

#include <QDir>
#include <QMetaObject>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quvo::bench {

using Clock = std::chrono::steady_clock;

inline std::string frame(const std::string& tag, const std::string& body)
{
    return "\xA4" + tag + ":" + body + ":" + tag + "\xA4";
}

inline const std::string kUnconfirmed =
    frame("CURRENTLIST", "Lakare:1:255:0:\xA4%Reception~7~2026-12-09 10:00:00~255~0~~~%\xA4");
inline const std::string kConfirmed =
    frame("CURRENTLIST", "Lakare:1:255:0:\xA4%Reception~7~2026-12-09 10:00:00~255~17~2026-12-09 10:01:00~Anna~%\xA4");

class WireRig {
public:
    WireRig()
    {
        m_log = m_dir.filePath("telldus.log").toStdString();
        qputenv("QUVO_TELLDUS_LIBRARY", TELLDUS_SIM_PATH);
        qputenv("TELLDUS_SIM_DEVICES", "1:Lampa");
        qputenv("TELLDUS_SIM_LOG", QByteArray::fromStdString(m_log));
        // The observer sleeps until the log changes: one spinning on the
        // log would take a core from the client on a two-core machine.
        ::close(::open(m_log.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        m_notify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        ::inotify_add_watch(m_notify, m_log.c_str(), IN_MODIFY);
        qputenv("XDG_DATA_HOME", m_dir.filePath("data").toLocal8Bit());
        QDir::setCurrent(m_dir.path());

        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listener, 1);
        socklen_t len = sizeof addr;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len);
        const int port = ntohs(addr.sin_port);

        m_inThread.moveToThread(&m_thread);
        m_thread.start();
        const QString dir = m_dir.path();
        QMetaObject::invokeMethod(
            &m_inThread,
            [&, port, dir] {
                m_client = new HardwareClient(
                    m_ui, {QStringLiteral("SERVERNAME=127.0.0.1"), QStringLiteral("SERVERPORT=%1").arg(port)},
                    SettingsLocations{dir + QStringLiteral("/user"), dir + QStringLiteral("/machine")});
                m_client->parts().state.UpdateCheckPending = false;
                m_client->FormCreate();
                // Settings the handshake would otherwise ask the server for.
                m_client->settings().WriteSetting("QUVO", "ClientNameUseDefault", "1");
                m_client->settings().WriteSetting("QUVO", "RefreshConnection", "0");
                m_client->settings().WriteSetting("ServerSettings", "SuperviseConnection", "30");
                m_client->parts().device.Edit1Change(QStringLiteral("Lampa"));
                m_client->FormActivate();
            },
            Qt::BlockingQueuedConnection);

        m_fd = ::accept(m_listener, nullptr, nullptr);
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (m_fd < 0 || !readUntil("GETSERVERVERSION\xA4"))
            return;
        send(frame("RETSERVERVERSION", "1.10.4"));
        m_ready = readUntil("GETKLINIKNAMN\xA4");
    }

    ~WireRig()
    {
        ::close(m_fd);
        ::close(m_listener);
        ::close(m_notify);
        QMetaObject::invokeMethod(&m_inThread, [&] { delete m_client; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    bool ready() const { return m_ready; }
    off_t logSize() const { return fileSize(m_log); }

    void send(const std::string& bytes)
    {
        std::size_t off = 0;
        while (off < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            off += std::size_t(n);
        }
    }

    // Waits until the simulator's log has grown past `from` (one line per switch).
    // A pause of 0 spins, for figures in microseconds.
    bool waitForSwitch(off_t from, std::chrono::milliseconds limit) const
    {
        const auto end = Clock::now() + limit;
        while (fileSize(m_log) <= from) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left < 0)
                return false;
            // QUVO_BENCH_SPIN=1: the old spinning observer, for comparison.
            pollfd p {m_notify, POLLIN, 0};
            ::poll(&p, 1, m_spin ? 0 : int(left) + 1);
            char events[4096];
            while (::read(m_notify, events, sizeof events) > 0) {
            }
        }
        return true;
    }

private:
    static off_t fileSize(const std::string& path)
    {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
    }

    bool readUntil(const std::string& needle)
    {
        std::string got;
        char buf[4096];
        while (got.find(needle) == std::string::npos) {
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            got.append(buf, std::size_t(n));
        }
        return true;
    }

    QTemporaryDir m_dir;
    std::string m_log;
    int m_notify = -1;
    bool m_spin = qEnvironmentVariableIntValue("QUVO_BENCH_SPIN") == 1;
    int m_listener = -1;
    int m_fd = -1;
    bool m_ready = false;
    SilentUserInterface m_ui;
    HardwareClient* m_client = nullptr;
    QThread m_thread;
    QObject m_inThread;
};

} // namespace quvo::bench
