#include "common/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

namespace quvo {

namespace {

class SystemTimer final : public Timer {
public:
    SystemTimer() { connect(&m_timer, &QTimer::timeout, this, &Timer::timeout); }
    using Timer::start;
    void start() override { m_timer.start(); }
    void stop() override { m_timer.stop(); }
    void setInterval(int ms) override { m_timer.setInterval(ms); }
    int interval() const override { return m_timer.interval(); }
    bool isActive() const override { return m_timer.isActive(); }
    void setSingleShot(bool singleShot) override { m_timer.setSingleShot(singleShot); }
    void setTimerType(Qt::TimerType type) override { m_timer.setTimerType(type); }

private:
    QTimer m_timer;
};

class SystemClock final : public Clock {
public:
    SystemClock() { m_elapsed.start(); }
    std::unique_ptr<Timer> createTimer() override { return std::make_unique<SystemTimer>(); }
    qint64 nowMs() const override { return m_elapsed.elapsed(); }

private:
    QElapsedTimer m_elapsed;
};

} // namespace

Clock& Clock::system()
{
    static SystemClock clock;
    return clock;
}

class ManualTimer final : public Timer {
public:
    explicit ManualTimer(ManualClock& clock) : m_clock(clock) { m_clock.m_timers.push_back(this); }
    ~ManualTimer() override { std::erase(m_clock.m_timers, this); }

    using Timer::start;
    void start() override
    {
        m_active = true;
        m_due = m_clock.m_now + m_interval;
        m_order = ++m_clock.m_starts;
    }
    void stop() override { m_active = false; }
    void setInterval(int ms) override
    {
        m_interval = std::max(0, ms);
        if (m_active)
            start();
    }
    int interval() const override { return m_interval; }
    bool isActive() const override { return m_active; }
    void setSingleShot(bool singleShot) override { m_singleShot = singleShot; }

    void fire()
    {
        if (m_singleShot) {
            m_active = false;
        } else {
            // An interval of 0 would fire forever within one step.
            m_due += std::max(1, m_interval);
            m_order = ++m_clock.m_starts;
        }
        emit timeout();
    }

    ManualClock& m_clock;
    int m_interval = 0;
    bool m_active = false;
    bool m_singleShot = false;
    qint64 m_due = 0;
    quint64 m_order = 0;
};

ManualClock::ManualClock() = default;

ManualClock::~ManualClock()
{
    // Timers that outlive the clock must not reach it.
    Q_ASSERT(m_timers.empty());
}

std::unique_ptr<Timer> ManualClock::createTimer() { return std::make_unique<ManualTimer>(*this); }

ManualTimer* ManualClock::nextDue(qint64 until) const
{
    ManualTimer* next = nullptr;
    for (ManualTimer* t : m_timers) {
        if (!t->m_active || t->m_due > until)
            continue;
        if (!next || t->m_due < next->m_due || (t->m_due == next->m_due && t->m_order < next->m_order))
            next = t;
    }
    return next;
}

void ManualClock::advance(qint64 ms)
{
    const qint64 target = m_now + std::max<qint64>(0, ms);
    while (ManualTimer* t = nextDue(target)) {
        m_now = std::max(m_now, t->m_due);
        t->fire();
        // The event loop would deliver what the timer queued before the
        // next timer event.
        if (QCoreApplication::instance())
            QCoreApplication::sendPostedEvents();
    }
    m_now = target;
}

qint64 ManualClock::nextDueInMs() const
{
    qint64 best = -1;
    for (const ManualTimer* t : m_timers)
        if (t->m_active && (best < 0 || t->m_due < best))
            best = t->m_due;
    return best < 0 ? -1 : std::max<qint64>(0, best - m_now);
}

} // namespace quvo
