// Telldus Core stand-in for tests and the demo. No hardware, no Qt.
//
// Environment, read at tdInit and at the first call after load or tdClose
// (so a test can change the devices between cases by calling tdInit again):
//   TELLDUS_SIM_DEVICES  "1:Lampa,2:Summer i hallen": id:name pairs in index
//                        order. Names keep their blanks; UTF-8 is handed out
//                        as windows-1252, like the real library's 8-bit text.
//                        An id of -1 or below is reported as such by
//                        tdGetDeviceId (a device the client must skip).
//   TELLDUS_SIM_LOG      file that receives one line per tdTurnOn/tdTurnOff:
//                        "<ms since epoch> ON|OFF <id>\n", appended with a
//                        single write so another process sees it at once.
//
// tdLastSentCommand answers from what this process sent, on top of what the
// log held when the environment was read, so the last state survives a
// restart of the client.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#define TD_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kTurnOn = 1;
constexpr int kTurnOff = 2;

struct State {
    bool configured = false;
    std::vector<std::pair<int, std::string>> devices;
    std::string logPath;
    std::map<int, int> lastSent;
};

std::mutex g_mutex;
State g_state;

// UTF-8 to windows-1252 for the Latin-1 range; anything else becomes '?'.
// Invalid sequences are passed through byte by byte.
std::string toCodePage(const std::string& utf8)
{
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        const int extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || i + static_cast<size_t>(extra) >= utf8.size()) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        unsigned cp = c & (0x3F >> extra);
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(utf8[i + k]);
            if ((cc & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        out += cp >= 0xA0 && cp <= 0xFF ? static_cast<char>(cp) : '?';
        i += extra + 1;
    }
    return out;
}

void loadLog(State& s);

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
                s.devices.emplace_back(static_cast<int>(id), toCodePage(entry.substr(colon + 1)));
        }
        start = end + 1;
    }
    loadLog(s);
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

// Last command per id as the log tells it; a line still being written is not
// a command yet.
void loadLog(State& s)
{
    if (s.logPath.empty())
        return; // nothing to learn from: keep what this process sent
    s.lastSent.clear();
    const int fd = ::open(s.logPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    std::string content;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        content.append(buf, static_cast<size_t>(n));
    ::close(fd);

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

void send(int id, int command)
{
    std::lock_guard lock(g_mutex);
    State& s = state();
    s.lastSent[id] = command;
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

} // namespace

TD_EXPORT void tdInit(void)
{
    std::lock_guard lock(g_mutex);
    readEnvironment(g_state);
}

TD_EXPORT void tdClose(void)
{
    std::lock_guard lock(g_mutex);
    g_state = State{};
}

TD_EXPORT void tdReleaseString(char* text)
{
    std::free(text);
}

TD_EXPORT int tdGetNumberOfDevices(void)
{
    std::lock_guard lock(g_mutex);
    return static_cast<int>(state().devices.size());
}

TD_EXPORT int tdGetDeviceId(int index)
{
    std::lock_guard lock(g_mutex);
    const State& s = state();
    if (index < 0 || static_cast<size_t>(index) >= s.devices.size())
        return -1;
    return s.devices[static_cast<size_t>(index)].first;
}

TD_EXPORT char* tdGetName(int id)
{
    std::lock_guard lock(g_mutex);
    const std::string* name = findName(state(), id);
    const std::string text = name ? *name : std::string();
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

TD_EXPORT int tdLastSentCommand(int id, int methods)
{
    std::lock_guard lock(g_mutex);
    const State& s = state();
    const auto it = s.lastSent.find(id);
    const int last = it == s.lastSent.end() ? 0 : it->second;
    return (last & methods) ? last : 0;
}

TD_EXPORT int tdTurnOn(int id)
{
    send(id, kTurnOn);
    return 0;
}

TD_EXPORT int tdTurnOff(int id)
{
    send(id, kTurnOff);
    return 0;
}
