// Telldus Core stand-in for tests and the demo. No hardware, no Qt. Answers
// as the vendor's library does with its service: UTF-8 names, "UNKNOWN" for
// an unknown id, 2 (off) for a device never switched, negative codes on
// failure, and the last command left as it was when a switch fails.
//
// Environment, read at tdInit and at the first call after load or tdClose
// (so a test can change the devices between cases by calling tdInit again):
//   TELLDUS_SIM_DEVICES  "1:Lampa,2:Summer i hallen": id:name pairs in index
//                        order. Names keep their blanks and are handed out as
//                        given (UTF-8). An id of -1 or below is reported as
//                        such by tdGetDeviceId (a device the client must skip).
//   TELLDUS_SIM_LOG      file that receives one line per tdTurnOn/tdTurnOff
//                        that was sent: "<ms since epoch> ON|OFF <id>\n",
//                        appended with a single write so another process sees
//                        it at once.
// Faults, read at every call so that they can change while a program runs:
//   TELLDUS_SIM_FAIL     "notfound": switches answer -1 (TellStick not found,
//                        an unplugged transmitter) and send nothing.
//   TELLDUS_SIM_STALL_MS N: every call that would ask the service waits N ms
//                        and answers -6 (service not running); a call still
//                        waiting when the stall is lifted goes through.
//   TELLDUS_SIM_EVENTS   "lost": the service went away under the event
//                        connection. As in the vendor's library, the event
//                        thread tdInit started then reads the dead socket in a
//                        tight loop until tdClose, even once this is cleared.
//   TELLDUS_SIM_LOSS     P from 0 to 1: the radio drops each command with
//                        probability P after the library reported success
//                        (the real library cannot know either).
//   TELLDUS_SIM_CONTROL  a file of KEY=value lines (FAIL=notfound,
//                        STALL_MS=9500, EVENTS=lost, LOSS=0.3); while it
//                        exists it replaces the variables above. Remove it or
//                        empty it to clear them.
// The receivers behind the radio:
//   TELLDUS_SIM_RECEIVER file of "<id> ON|OFF" lines, the state each
//                        receiver is really in, rewritten whole (write and
//                        rename) at every change; read at tdInit.
//   TELLDUS_SIM_SEED     seeds the radio's losses, so a run can be replayed;
//                        read at tdInit, the sequence starts again when it
//                        changes.
//
// tdLastSentCommand answers from what this process sent, on top of what the
// log held when the environment was read, so the last state survives a
// restart of the client.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <algorithm>
#include <atomic>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#define TD_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kTurnOn = 1;
constexpr int kTurnOff = 2;
constexpr int kNotFound = -1;           // TELLSTICK_ERROR_NOT_FOUND
constexpr int kDeviceNotFound = -3;     // TELLSTICK_ERROR_DEVICE_NOT_FOUND
constexpr int kNoService = -6;          // TELLSTICK_ERROR_CONNECTING_SERVICE

struct State {
    bool configured = false;
    std::vector<std::pair<int, std::string>> devices;
    std::string logPath;
    std::map<int, int> lastSent;
};

// What the receivers heard; outlives tdClose, as real receivers do.
struct Radio {
    std::string path;
    std::map<int, int> heard;
    std::string seedText;
    std::mt19937_64 random{std::random_device{}()};
};

std::mutex g_mutex;
State g_state;
Radio g_radio;

void loadLog(State& s);
void readRadio(Radio& r);
void appendLog(const State& s, int id, int command);

void readEnvironment(State& s)
{
    s.devices.clear();
    s.logPath.clear();
    if (const char* log = std::getenv("TELLDUS_SIM_LOG"))
        s.logPath = log;
    const char* list = std::getenv("TELLDUS_SIM_DEVICES");
    std::string text = list ? list : "";
    size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string entry = text.substr(start, end - start);
        const size_t colon = entry.find(':');
        if (colon != std::string::npos) {
            char* stop = nullptr;
            const std::string idText = entry.substr(0, colon);
            const long id = std::strtol(idText.c_str(), &stop, 10);
            if (!idText.empty() && stop && *stop == '\0')
                s.devices.emplace_back(static_cast<int>(id), entry.substr(colon + 1));
        }
        start = end + 1;
    }
    loadLog(s);
    readRadio(g_radio);
    s.configured = true;
}

State& state()
{
    if (!g_state.configured)
        readEnvironment(g_state);
    return g_state;
}

const std::string* findName(const State& s, int id)
{
    for (const auto& d : s.devices)
        if (d.first == id)
            return &d.second;
    return nullptr;
}

bool readFile(const char* path, std::string& content)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        content.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return true;
}

// Last command per id as the log tells it; a line still being written is not
// a command yet.
void loadLog(State& s)
{
    if (s.logPath.empty())
        return; // nothing to learn from: keep what this process sent
    s.lastSent.clear();
    std::string content;
    if (!readFile(s.logPath.c_str(), content))
        return;

    size_t pos = 0;
    while (pos < content.size()) {
        const size_t end = content.find('\n', pos);
        if (end == std::string::npos)
            break;
        const std::string line = content.substr(pos, end - pos);
        pos = end + 1;
        const size_t a = line.find(' ');
        const size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
        if (b == std::string::npos)
            continue;
        const std::string word = line.substr(a + 1, b - a - 1);
        const char* idText = line.c_str() + b + 1;
        char* stop = nullptr;
        const long id = std::strtol(idText, &stop, 10);
        if (stop == idText)
            continue;
        if (word == "ON")
            s.lastSent[static_cast<int>(id)] = kTurnOn;
        else if (word == "OFF")
            s.lastSent[static_cast<int>(id)] = kTurnOff;
    }
}

template <typename F>
void forEachLine(const std::string& content, F take)
{
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        if (end == std::string::npos)
            end = content.size();
        take(content.substr(pos, end - pos));
        pos = end + 1;
    }
}

void readRadio(Radio& r)
{
    const char* seed = std::getenv("TELLDUS_SIM_SEED");
    const std::string seedText = seed ? seed : "";
    if (seedText != r.seedText) {
        r.seedText = seedText;
        if (seed)
            r.random.seed(std::strtoull(seed, nullptr, 10));
    }
    const char* path = std::getenv("TELLDUS_SIM_RECEIVER");
    r.path = path ? path : "";
    r.heard.clear();
    std::string content;
    if (r.path.empty() || !readFile(r.path.c_str(), content))
        return;
    forEachLine(content, [&r](const std::string& line) {
        const size_t blank = line.find(' ');
        if (blank == std::string::npos)
            return;
        const int id = static_cast<int>(std::strtol(line.c_str(), nullptr, 10));
        const std::string word = line.substr(blank + 1);
        if (word == "ON" || word == "OFF")
            r.heard[id] = word == "ON" ? kTurnOn : kTurnOff;
    });
}

// A reader of the file sees the old state or the new one, never half.
void writeRadio(const Radio& r)
{
    if (r.path.empty())
        return;
    std::string content;
    for (const auto& [id, command] : r.heard)
        content += std::to_string(id) + (command == kTurnOn ? " ON\n" : " OFF\n");
    const std::string temp = r.path + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const bool written = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    ::close(fd);
    if (written)
        ::rename(temp.c_str(), r.path.c_str());
}

struct Faults {
    bool notFound = false;
    long stallMs = 0;
    bool eventsLost = false;
    double loss = 0;
};

void applyFault(Faults& f, const std::string& key, const std::string& value)
{
    if (key == "FAIL")
        f.notFound = value == "notfound";
    else if (key == "STALL_MS")
        f.stallMs = std::strtol(value.c_str(), nullptr, 10);
    else if (key == "EVENTS")
        f.eventsLost = value == "lost";
    else if (key == "LOSS")
        f.loss = std::clamp(std::strtod(value.c_str(), nullptr), 0.0, 1.0);
}

Faults currentFaults()
{
    Faults f;
    if (const char* control = std::getenv("TELLDUS_SIM_CONTROL")) {
        std::string content;
        if (readFile(control, content)) {
            forEachLine(content, [&f](const std::string& line) {
                const size_t eq = line.find('=');
                if (eq != std::string::npos)
                    applyFault(f, line.substr(0, eq), line.substr(eq + 1));
            });
            return f;
        }
    }
    if (const char* fail = std::getenv("TELLDUS_SIM_FAIL"))
        applyFault(f, "FAIL", fail);
    if (const char* stall = std::getenv("TELLDUS_SIM_STALL_MS"))
        applyFault(f, "STALL_MS", stall);
    if (const char* events = std::getenv("TELLDUS_SIM_EVENTS"))
        applyFault(f, "EVENTS", events);
    if (const char* loss = std::getenv("TELLDUS_SIM_LOSS"))
        applyFault(f, "LOSS", loss);
    return f;
}

// The library's event thread: from tdInit to tdClose. Nothing of it is
// destroyed at exit, where a running std::thread would end the process and
// a condition variable still waited on would hold it.
struct Events {
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable wake;
    std::thread thread;
};
Events* g_events = nullptr;

void eventLoop(Events* e)
{
    for (;;) {
        if (currentFaults().eventsLost) {
            while (!e->stop.load()) {
            }
            return;
        }
        // tdClose must not wait out the pause.
        std::unique_lock lock(e->mutex);
        if (e->wake.wait_for(lock, std::chrono::milliseconds(50), [e] { return e->stop.load(); }))
            return;
    }
}

// A call that would go to the service: true when the service is "down",
// after the stall it costs. Like the real library, which keeps trying for
// its whole stall, the call goes through once the stall is lifted.
bool serviceDown(const Faults& initial)
{
    if (initial.stallMs <= 0)
        return false;
    constexpr long kStepMs = 100;
    for (long waited = 0; waited < initial.stallMs; waited += kStepMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kStepMs, initial.stallMs - waited)));
        if (currentFaults().stallMs <= 0)
            return false;
    }
    return true;
}

int send(int id, int command)
{
    const Faults f = currentFaults();
    if (serviceDown(f))
        return kNoService;
    std::lock_guard lock(g_mutex);
    State& s = state();
    if (!findName(s, id))
        return kDeviceNotFound;
    if (f.notFound)
        return kNotFound;
    s.lastSent[id] = command;
    appendLog(s, id, command);
    // Drawn for every command, lost or not, so a seed replays the same run.
    const bool lost = std::uniform_real_distribution<double>(0.0, 1.0)(g_radio.random) < f.loss;
    if (!lost) {
        const auto heard = g_radio.heard.find(id);
        if (heard == g_radio.heard.end() || heard->second != command) {
            g_radio.heard[id] = command;
            writeRadio(g_radio);
        }
    }
    return 0;
}

// One write, so another process sees the whole line at once.
void appendLog(const State& s, int id, int command)
{
    if (s.logPath.empty())
        return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    const std::string line = std::to_string(ms) + (command == kTurnOn ? " ON " : " OFF ")
        + std::to_string(id) + "\n";
    const int fd = ::open(s.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    ssize_t written = ::write(fd, line.data(), line.size());
    (void)written;
    ::close(fd);
}

char* copyOut(const std::string& text)
{
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

} // namespace

TD_EXPORT void tdInit(void)
{
    std::lock_guard lock(g_mutex);
    readEnvironment(g_state);
    if (!g_events) {
        g_events = new Events;
        g_events->thread = std::thread(eventLoop, g_events);
    }
}

TD_EXPORT void tdClose(void)
{
    std::lock_guard lock(g_mutex);
    g_state = State{};
    if (g_events) {
        {
            std::lock_guard stopLock(g_events->mutex);
            g_events->stop = true;
        }
        g_events->wake.notify_all();
        g_events->thread.join();
        delete g_events;
        g_events = nullptr;
    }
}

TD_EXPORT void tdReleaseString(char* text)
{
    std::free(text);
}

TD_EXPORT int tdGetNumberOfDevices(void)
{
    if (serviceDown(currentFaults()))
        return kNoService;
    std::lock_guard lock(g_mutex);
    return static_cast<int>(state().devices.size());
}

TD_EXPORT int tdGetDeviceId(int index)
{
    if (serviceDown(currentFaults()))
        return kNoService;
    std::lock_guard lock(g_mutex);
    const State& s = state();
    if (index < 0 || static_cast<size_t>(index) >= s.devices.size())
        return -1;
    return s.devices[static_cast<size_t>(index)].first;
}

TD_EXPORT char* tdGetName(int id)
{
    if (serviceDown(currentFaults()))
        return copyOut(std::string());
    std::lock_guard lock(g_mutex);
    const std::string* name = findName(state(), id);
    return copyOut(name ? *name : std::string("UNKNOWN"));
}

TD_EXPORT int tdLastSentCommand(int id, int methods)
{
    if (serviceDown(currentFaults()))
        return kNoService;
    std::lock_guard lock(g_mutex);
    const State& s = state();
    if (!findName(s, id))
        return kDeviceNotFound;
    const auto it = s.lastSent.find(id);
    const int last = it == s.lastSent.end() ? kTurnOff : it->second;
    return (last & methods) ? last : 0;
}

TD_EXPORT int tdTurnOn(int id)
{
    return send(id, kTurnOn);
}

TD_EXPORT int tdTurnOff(int id)
{
    return send(id, kTurnOff);
}

// An older library without the error texts, for the client's fallback.
#ifndef TELLDUS_SIM_NO_ERROR_STRING
TD_EXPORT char* tdGetErrorString(int code)
{
    static const char* const texts[] = {
        "Success",
        "TellStick not found",
        "Permission denied",
        "Device not found",
        "The method you tried to use is not supported by the device",
        "An error occurred while communicating with TellStick",
        "Could not connect to the Telldus Service",
        "Received an unknown response",
        "Syntax error",
        "Broken pipe",
        "An error occurred while communicating with the Telldus Service",
        "Syntax error in the configuration file",
    };
    const long index = code < 0 ? -static_cast<long>(code) : code;
    return copyOut(index < static_cast<long>(std::size(texts)) ? texts[index] : "Unknown error");
}
#endif
