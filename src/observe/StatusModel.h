#pragma once
// What the status endpoint reports: the connection, the call list and each
// receiver, with counters since the start. Fed by the observer from the
// core's signals; times for the thresholds come from the clock.
#include "common/Clock.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <vector>

namespace quvo {

class StatusModel {
public:
    // Health: failed when the server is gone this long, or a receiver that
    // should be on has been failing this long; shorter faults warn.
    static constexpr qint64 kServerFailMs = 60'000;
    static constexpr qint64 kReceiverFailMs = 10'000;
    static constexpr std::array<double, 11> kLatencyBuckets{0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                                            0.5,   1,    2.5,   5,    10};

    enum class Health { Pass, Warn, Fail };

    struct Receiver {
        QString name;
        bool intendedOn = false;
        bool lastSentOn = false;      // the library's last accepted command
        bool shouldBeOn = false;      // an activation runs or the decision is on
        qint64 shouldBeOnSinceMs = 0;
        bool fault = false;
        QString faultText;
        qint64 faultSinceMs = 0;
        qint64 faultSinceWallMs = 0;
        qint64 lastSuccessWallMs = 0; // 0: none yet
        // [on][ok]
        quint64 commands[2][2] = {{0, 0}, {0, 0}};
        qint64 commandAskedMs = -1;   // a call list asked for a switch-on then
    };

    explicit StatusModel(Clock& clock);

    int addReceiver(const QString& name);
    // The receivers after the first become these, in order; one of the same
    // name keeps what was counted for it.
    void setOtherReceivers(const QStringList& names);
    Receiver& receiver(int index) { return m_receivers[std::size_t(index)]; }
    const std::vector<Receiver>& receivers() const { return m_receivers; }

    void setConnected(bool up);
    void setStatusText(const QString& text) { m_statusText = text; }
    void callListSeen(int unconfirmed);
    void setShouldBeOn(int index, bool on);
    // A call list wanted the receiver on: its command is timed.
    void switchOnAsked(int index);
    void commandDone(int index, bool on, bool ok);
    void setFault(int index, bool fault, const QString& text);
    void libraryRestarted() { ++m_libraryRestarts; }
    void serverError() { ++m_serverErrors; }

    Health health() const;
    QByteArray healthJson(const QString& version) const;
    QByteArray metricsText() const;
    static int httpStatus(Health h) { return h == Health::Fail ? 503 : 200; }

private:
    Health serverHealth() const;
    Health receiverHealth(const Receiver& r) const;
    void observeLatency(double seconds);

    Clock& m_clock;
    std::vector<Receiver> m_receivers;
    bool m_connected = false;
    bool m_everConnected = false;
    qint64 m_downSinceMs = 0;
    qint64 m_downSinceWallMs = 0;
    QString m_statusText;
    qint64 m_lastListMs = -1;
    int m_unconfirmed = 0;
    quint64 m_reconnects = 0;
    quint64 m_libraryRestarts = 0;
    quint64 m_serverErrors = 0;
    std::array<quint64, kLatencyBuckets.size()> m_buckets{};
    quint64 m_latencyCount = 0;
    double m_latencySum = 0;
};

} // namespace quvo
