#include "device/TelldusWorker.h"

#include "common/Text.h"
#include "device/TelldusLibrary.h"

#include <QLocale>
#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace quvo {

namespace {

struct Job {
    enum Kind { Lookup, Switch, Status, Close } kind = Lookup;
    quint64 serial = 0;
    QString name;
    int id = 0;
    bool on = false;
    int times = 1;
};

constexpr int kBothMethods = TelldusLibrary::kTurnOn | TelldusLibrary::kTurnOff;

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

    // Hands a result to the owner's thread, unless the owner has gone.
    template <typename F>
    void post(F deliver)
    {
        std::lock_guard lock(mutex);
        if (owner)
            QMetaObject::invokeMethod(owner, [o = owner, deliver] { deliver(o); }, Qt::QueuedConnection);
    }

    bool switchQueued() const
    {
        return std::any_of(queue.begin(), queue.end(), [](const Job& j) { return j.kind == Job::Switch; });
    }

    void run();
    void runLookup(const Job& job);
    void runSwitch(const Job& job);
    void runStatus(const Job& job);
};

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
        lib.init();
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
            if (wake.wait_for(lock, std::chrono::milliseconds(kRepeatGapMs),
                              [this] { return stop || switchQueued(); }))
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

void TelldusWorker::Shared::run()
{
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stop || !queue.empty(); });
        if (queue.empty())
            break; // stopped
        const Job job = std::move(queue.front());
        queue.pop_front();
        busy = true;
        lock.unlock();
        switch (job.kind) {
        case Job::Lookup: runLookup(job); break;
        case Job::Switch: runSwitch(job); break;
        case Job::Status: runStatus(job); break;
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

void TelldusWorker::lookup(quint64 serial, const QString& upperName)
{
    Job job;
    job.kind = Job::Lookup;
    job.serial = serial;
    job.name = upperName;
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->closed || m_shared->stop)
        return;
    auto& q = m_shared->queue;
    q.erase(std::remove_if(q.begin(), q.end(), [](const Job& j) { return j.kind == Job::Lookup; }), q.end());
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
    // decides. This keeps the queue short while the service stalls.
    auto& q = m_shared->queue;
    q.erase(std::remove_if(q.begin(), q.end(),
                           [id](const Job& j) { return (j.kind == Job::Switch || j.kind == Job::Status) && j.id == id; }),
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
    m_shared->queue.clear();
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

bool TelldusWorker::waitForIdle(int waitMs)
{
    std::unique_lock lock(m_shared->mutex);
    return m_shared->settled.wait_for(lock, std::chrono::milliseconds(waitMs),
                                      [&] { return m_shared->closed || (m_shared->queue.empty() && !m_shared->busy); });
}

} // namespace quvo
