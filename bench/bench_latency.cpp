// Time from the call server writing a call list with one unconfirmed call to
// the Telldus library receiving tdTurnOn, over loopback, through the real
// client core and the real library loading path (the Telldus simulator).
//
// The client runs in its own thread with its own event loop; this thread is
// the server and watches the simulator's log for the switch.
#include "common/SettingsStore.h"
#include "core/HardwareClient.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace quvo;
using Clock = std::chrono::steady_clock;

namespace {

std::string frame(const std::string& tag, const std::string& body)
{
    return "\xA4" + tag + ":" + body + ":" + tag + "\xA4";
}

const std::string kUnconfirmed =
    frame("CURRENTLIST", "Lakare:1:255:0:\xA4%Reception~7~2026-12-09 10:00:00~255~0~~~%\xA4");
const std::string kConfirmed =
    frame("CURRENTLIST", "Lakare:1:255:0:\xA4%Reception~7~2026-12-09 10:00:00~255~17~2026-12-09 10:01:00~Anna~%\xA4");

off_t fileSize(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

// Reads from the client until `needle` has arrived.
bool readUntil(int fd, const std::string& needle)
{
    std::string got;
    char buf[4096];
    while (got.find(needle) == std::string::npos) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        got.append(buf, std::size_t(n));
    }
    return true;
}

void sendAll(int fd, const std::string& bytes)
{
    std::size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        off += std::size_t(n);
    }
}

// Waits until the log has grown past `from`; the simulator appends one line per command.
bool waitForGrowth(const std::string& log, off_t from, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    while (fileSize(log) <= from)
        if (Clock::now() > end)
            return false;
    return true;
}

void BM_CallToTurnOn(benchmark::State& state)
{
    QTemporaryDir dir;
    const std::string log = dir.filePath("telldus.log").toStdString();
    qputenv("QUVO_TELLDUS_LIBRARY", TELLDUS_SIM_PATH);
    qputenv("TELLDUS_SIM_DEVICES", "1:Lampa");
    qputenv("TELLDUS_SIM_LOG", QByteArray::fromStdString(log));
    qputenv("XDG_DATA_HOME", dir.filePath("data").toLocal8Bit());
    QDir::setCurrent(dir.path());

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener, 1);
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    const int port = ntohs(addr.sin_port);

    SilentUserInterface ui;
    HardwareClient* client = nullptr;
    QThread thread;
    QObject inThread;
    inThread.moveToThread(&thread);
    thread.start();
    QMetaObject::invokeMethod(
        &inThread,
        [&] {
            client = new HardwareClient(ui, {QStringLiteral("SERVERNAME=127.0.0.1"), QStringLiteral("SERVERPORT=%1").arg(port)},
                                        SettingsLocations{dir.filePath("user"), dir.filePath("machine")});
            client->state().UpdateCheckPending = false;
            client->FormCreate();
            // Settings the handshake would otherwise ask the server for.
            client->settings().WriteSetting("QUVO", "ClientNameUseDefault", "1");
            client->settings().WriteSetting("QUVO", "RefreshConnection", "0");
            client->device().Edit1Change(QStringLiteral("Lampa"));
            client->FormActivate();
        },
        Qt::BlockingQueuedConnection);

    const int fd = ::accept(listener, nullptr, nullptr);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (fd < 0 || !readUntil(fd, "GETSERVERVERSION\xA4")) {
        state.SkipWithError("no handshake from the client");
        return;
    }
    sendAll(fd, frame("RETSERVERVERSION", "1.10.4"));
    readUntil(fd, "GETKLINIKNAMN\xA4");

    std::vector<double> micros;
    micros.reserve(std::size_t(state.max_iterations));
    for (auto _ : state) {
        const off_t before = fileSize(log);
        const auto t0 = Clock::now();
        sendAll(fd, kUnconfirmed);
        if (!waitForGrowth(log, before, std::chrono::seconds(5))) {
            state.SkipWithError("the receiver was not switched on");
            break;
        }
        const auto t1 = Clock::now();
        const double us = std::chrono::duration<double, std::micro>(t1 - t0).count();
        micros.push_back(us);
        state.SetIterationTime(us / 1e6);
        // Confirm, and wait for the switch-off, so that the next call starts a new activation.
        const off_t afterOn = fileSize(log);
        sendAll(fd, kConfirmed);
        waitForGrowth(log, afterOn, std::chrono::seconds(5));
    }
    if (!micros.empty()) {
        std::sort(micros.begin(), micros.end());
        state.counters["median_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
        state.counters["max_us"] = micros.back();
    }
    ::close(fd);
    ::close(listener);
    QMetaObject::invokeMethod(&inThread, [&] { delete client; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}

BENCHMARK(BM_CallToTurnOn)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
