#include "device/TelldusWorker.h"

#include "common/Text.h"
#include "device/TelldusLibrary.h"

#include <QLocale>
#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <sys/types.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quvo {

namespace {

struct Job {
    enum Kind { Lookup, Switch, Status, List, Close } kind = Lookup;
    quint64 serial = 0;
    const void* requester = nullptr;
    QString name;
    int id = 0;
    bool on = false;
    int times = 1;
};

constexpr int kBothMethods = TelldusLibrary::kTurnOn | TelldusLibrary::kTurnOff;

std::set<pid_t> threadIds()
{
    std::set<pid_t> ids;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(dir)) {
            const long id = std::strtol(entry->d_name, nullptr, 10);
            if (id > 0)
                ids.insert(pid_t(id));
        }
        ::closedir(dir);
    }
    return ids;
}

// User plus system time of one of our threads, in clock ticks; -1 once it has gone.
long threadTicks(pid_t id)
{
    std::ifstream in("/proc/self/task/" + std::to_string(id) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return -1;
    const size_t close = line.rfind(')'); // the thread's name may hold blanks
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    long utime = 0, stime = 0;
    for (int index = 0; index < 13 && fields >> field; ++index) {
        if (index == 11)
            utime = std::strtol(field.c_str(), nullptr, 10);
        else if (index == 12)
            stime = std::strtol(field.c_str(), nullptr, 10);
    }
    return utime + stime;
}

} // namespace

struct TelldusWorker::Shared {
    std::mutex mutex;
    std::condition_variable wake;     // a job was queued, or stop
    std::condition_variable settled;  // the queue ran empty, or the close is done
    std::deque<Job> queue;
    bool busy = false;
    bool closed = false;
    bool stop = false;
    TelldusWorker* owner = nullptr;   // null once the owner is gone
    TelldusLibrary lib;               // touched by the worker thread only
    std::thread thread;
    quint64 lookupSerial = 0;         // owner's thread, under the mutex

    // The vendor library keeps a thread of its own on the service's event
    // socket. Once the service has gone away under it, that thread reads the
    // dead socket in a tight loop, even after the service is back, until
    // tdClose. So its processor time is watched, and a busy one is ended by
    // closing and opening the library again. Worker thread only, but for the
    // interval.
    std::vector<pid_t> libraryThreads;
    long watchedTicks = 0;
    std::chrono::steady_clock::time_point watchedAt;
    std::chrono::milliseconds watchInterval{kLibraryWatchMs};
    std::chrono::milliseconds repeatGap{kRepeatGapMs};

    // Hands a result to the owner's thread, unless the owner has gone.
    template <typename F>
    void post(F deliver)
    {
        std::lock_guard lock(mutex);
        if (owner)
            QMetaObject::invokeMethod(owner, [o = owner, deliver] { deliver(o); }, Qt::QueuedConnection);
    }

    // Another receiver's command does not make this one's repeats moot.
    bool switchQueued(int id) const
    {
        return std::any_of(queue.begin(), queue.end(),
                           [id](const Job& j) { return j.kind == Job::Switch && j.id == id; });
    }

    void run();
    void initLibrary();
    bool watchDue() const
    {
        return !libraryThreads.empty() && std::chrono::steady_clock::now() >= watchedAt + watchInterval;
    }
    void watchLibraryThreads();
    long libraryTicks();
    void runLookup(const Job& job);
    void runSwitch(const Job& job);
    void runStatus(const Job& job);
    void runList();
};

void TelldusWorker::Shared::initLibrary()
{
    // tdInit is where the library starts its thread, when it has none.
    const std::set<pid_t> before = threadIds();
    lib.init();
    std::vector<pid_t> started;
    for (const pid_t id : threadIds()) {
        if (!before.count(id))
            started.push_back(id);
    }
    if (!started.empty()) {
        libraryThreads = std::move(started);
        watchedTicks = libraryTicks();
        watchedAt = std::chrono::steady_clock::now();
    }
}

long TelldusWorker::Shared::libraryTicks()
{
    long sum = 0;
    for (auto it = libraryThreads.begin(); it != libraryThreads.end();) {
        const long ticks = threadTicks(*it);
        if (ticks < 0) {
            it = libraryThreads.erase(it);
            continue;
        }
        sum += ticks;
        ++it;
    }
    return sum;
}

void TelldusWorker::Shared::watchLibraryThreads()
{
    const long ticks = libraryTicks();
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - watchedAt).count();
    const double busy = seconds > 0 ? double(ticks - watchedTicks) / double(::sysconf(_SC_CLK_TCK)) / seconds : 0;
    watchedTicks = ticks;
    watchedAt = now;
    if (busy < kLibraryBusyShare)
        return;
    lib.close();
    libraryThreads.clear();
    initLibrary();

    post([](TelldusWorker* o) { emit o->libraryRestarted(); });
}

void TelldusWorker::Shared::runLookup(const Job& job)
{
    TelldusLookup r;
    r.serial = job.serial;
    if (!lib.isLoaded())
        lib.load();
    r.loaded = lib.isLoaded();
    if (!r.loaded) {
        r.loadError = lib.loadError();
    } else {
        initLibrary();
        r.count = lib.numberOfDevices();
        if (r.count < 0)
            r.errorText = lib.errorString(r.count);
        const QLocale locale;
        for (int index = 0; index < r.count; ++index) {
            const int id = lib.deviceId(index);
            // 0 stands for "no device" everywhere else, so a device reported
            // with it could be shown as connected and never be switched.
            if (id <= 0)
                continue;
            if (trimControl(locale.toUpper(lib.name(id))) != job.name)
                continue;
            r.deviceId = id;
            r.lastSent = lib.lastSentCommand(id, kBothMethods);
            if (r.lastSent < 0)
                r.errorText = lib.errorString(r.lastSent);
            break;
        }
    }
    post([r](TelldusWorker* o) { emit o->lookedUp(r); });
}

void TelldusWorker::Shared::runSwitch(const Job& job)
{
    bool sent = false;
    int lastError = 0;
    for (int i = 0; i < job.times; ++i) {
        if (i > 0) {
            std::unique_lock lock(mutex);
            // A newer command makes the rest of these repeats moot.
            if (wake.wait_for(lock, repeatGap,
                              [this, &job] { return stop || switchQueued(job.id); }))
                break;
        }
        const int result = job.on ? lib.turnOn(job.id) : lib.turnOff(job.id);
        if (result == 0)
            sent = true;
        else
            lastError = result;
    }
    const int result = sent ? 0 : lastError;
    const QString text = result < 0 ? lib.errorString(result) : QString();
    post([id = job.id, on = job.on, result, text](TelldusWorker* o) { emit o->switched(id, on, result, text); });
}

void TelldusWorker::Shared::runStatus(const Job& job)
{
    const int last = lib.lastSentCommand(job.id, kBothMethods);
    const QString text = last < 0 ? lib.errorString(last) : QString();
    post([id = job.id, last, text](TelldusWorker* o) { emit o->statusRead(id, last, text); });
}

void TelldusWorker::Shared::runList()
{
    if (!lib.isLoaded())
        lib.load();
    const bool loaded = lib.isLoaded();
    int count = 0;
    QStringList names;
    if (loaded) {
        initLibrary();
        count = lib.numberOfDevices();
        for (int index = 0; index < count; ++index) {
            const int id = lib.deviceId(index);
            if (id > 0)
                names << trimControl(lib.name(id));
        }
    }
    post([loaded, count, names](TelldusWorker* o) { emit o->devicesListed(loaded, count, names); });
}

void TelldusWorker::Shared::run()
{
    std::unique_lock lock(mutex);
    for (;;) {
        const auto ready = [this] { return stop || !queue.empty(); };
        if (libraryThreads.empty())
            wake.wait(lock, ready);
        else
            wake.wait_until(lock, watchedAt + watchInterval, ready);
        if (stop && queue.empty())
            break;
        if (watchDue()) {
            busy = true;
            lock.unlock();
            watchLibraryThreads();
            lock.lock();
            busy = false;
        }
        if (queue.empty()) {
            if (stop)
                break;
            settled.notify_all();
            continue;
        }
        const Job job = std::move(queue.front());
        queue.pop_front();
        busy = true;
        lock.unlock();
        switch (job.kind) {
        case Job::Lookup: runLookup(job); break;
        case Job::Switch: runSwitch(job); break;
        case Job::Status: runStatus(job); break;
        case Job::List: runList(); break;
        case Job::Close: lib.close(); break;
        }
        lock.lock();
        busy = false;
        if (job.kind == Job::Close)
            closed = true;
        if (queue.empty() || closed)
            settled.notify_all();
        if (closed)
            break;
    }
}

TelldusWorker::TelldusWorker(QObject* parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
    // The thread keeps the shared state (and the library) alive for as long as
    // it runs, even past this object when a call stalls at the end.
    m_shared->thread = std::thread([s = m_shared] { s->run(); });
}

TelldusWorker::~TelldusWorker()
{
    const bool finished = close();
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->owner = nullptr;
        m_shared->stop = true;
    }
    m_shared->wake.notify_all();
    if (finished)
        m_shared->thread.join();
    else
        m_shared->thread.detach(); // still inside a stalled call; it ends alone
}

quint64 TelldusWorker::lookup(const void* requester, const QString& upperName)
{
    Job job;
    job.kind = Job::Lookup;
    job.requester = requester;
    job.name = upperName;
    std::lock_guard lock(m_shared->mutex);
    job.serial = ++m_shared->lookupSerial;
    if (m_shared->closed || m_shared->stop)
        return job.serial;
    auto& q = m_shared->queue;
    q.erase(std::remove_if(q.begin(), q.end(),
                           [requester](const Job& j) { return j.kind == Job::Lookup && j.requester == requester; }),
            q.end());
    q.push_back(std::move(job));
    m_shared->wake.notify_all();
    return m_shared->lookupSerial;
}

void TelldusWorker::listDevices()
{
    Job job;
    job.kind = Job::List;
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->closed || m_shared->stop)
        return;
    auto& q = m_shared->queue;
    q.erase(std::remove_if(q.begin(), q.end(), [](const Job& j) { return j.kind == Job::List; }), q.end());
    q.push_back(std::move(job));
    m_shared->wake.notify_all();
}

void TelldusWorker::turn(int id, bool on, int times)
{
    Job job;
    job.kind = Job::Switch;
    job.id = id;
    job.on = on;
    job.times = std::max(1, times);
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->closed || m_shared->stop)
        return;
    // Commands not yet begun would only reach the receiver late: the newest
    // decides. This keeps the queue short while the service stalls. A status
    // read stays: it tells the panel what the commands before it did.
    auto& q = m_shared->queue;
    q.erase(std::remove_if(q.begin(), q.end(), [id](const Job& j) { return j.kind == Job::Switch && j.id == id; }),
            q.end());
    q.push_back(std::move(job));
    m_shared->wake.notify_all();
}

void TelldusWorker::readStatus(int id)
{
    Job job;
    job.kind = Job::Status;
    job.id = id;
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->closed || m_shared->stop)
        return;
    auto& q = m_shared->queue;
    q.erase(std::remove_if(q.begin(), q.end(), [id](const Job& j) { return j.kind == Job::Status && j.id == id; }),
            q.end());
    q.push_back(std::move(job));
    m_shared->wake.notify_all();
}

bool TelldusWorker::close(int waitMs)
{
    std::unique_lock lock(m_shared->mutex);
    if (m_shared->closed || m_shared->stop)
        return m_shared->closed; // an earlier close has waited already
    // The last decided command of each receiver still goes out, within the
    // same wait; lookups and status reads are moot now.
    auto& q = m_shared->queue;
    q.erase(std::remove_if(q.begin(), q.end(), [](const Job& j) { return j.kind != Job::Switch; }), q.end());
    Job job;
    job.kind = Job::Close;
    m_shared->queue.push_back(std::move(job));
    m_shared->wake.notify_all();
    const bool done = m_shared->settled.wait_for(lock, std::chrono::milliseconds(waitMs),
                                                 [&] { return m_shared->closed; });
    // Whatever happened, nothing more goes to the library.
    m_shared->stop = true;
    m_shared->wake.notify_all();
    return done;
}

void TelldusWorker::setLibraryWatchInterval(int ms)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->watchInterval = std::chrono::milliseconds(ms);
    m_shared->wake.notify_all();
}

void TelldusWorker::setRepeatGap(int ms)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->repeatGap = std::chrono::milliseconds(ms);
}

bool TelldusWorker::waitForIdle(int waitMs)
{
    std::unique_lock lock(m_shared->mutex);
    return m_shared->settled.wait_for(lock, std::chrono::milliseconds(waitMs),
                                      [&] { return m_shared->closed || (m_shared->queue.empty() && !m_shared->busy); });
}

} // namespace quvo
