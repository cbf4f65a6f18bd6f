#pragma once
// Where the core's timers come from. The program runs on the system clock;
// a test steps a manual one and every timer due by then fires, in order.
#include <QObject>
#include <memory>
#include <vector>

namespace quvo {

// The part of QTimer the core uses, with the same meaning: start() restarts a
// running timer, and so does setInterval().
class Timer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void start() = 0;
    void start(int ms)
    {
        setInterval(ms);
        start();
    }
    virtual void stop() = 0;
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    virtual bool isActive() const = 0;
    virtual void setSingleShot(bool singleShot) = 0;
    virtual void setTimerType(Qt::TimerType) {}

signals:
    void timeout();
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::unique_ptr<Timer> createTimer() = 0;
    // Monotonic milliseconds; only differences mean anything.
    virtual qint64 nowMs() const = 0;

    static Clock& system();
};

class ManualTimer;

class ManualClock : public Clock {
public:
    ManualClock();
    ~ManualClock() override;
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    std::unique_ptr<Timer> createTimer() override;
    qint64 nowMs() const override { return m_now; }

    // Moves time on by ms. Each timer due meanwhile fires at its own time,
    // earliest first (started first on a tie), with what it queued delivered
    // before the next one.
    void advance(qint64 ms);
    // Milliseconds until the next timer is due; -1 when none runs.
    qint64 nextDueInMs() const;

private:
    friend class ManualTimer;
    ManualTimer* nextDue(qint64 until) const;
    qint64 m_now = 0;
    quint64 m_starts = 0;
    std::vector<ManualTimer*> m_timers;
};

} // namespace quvo
