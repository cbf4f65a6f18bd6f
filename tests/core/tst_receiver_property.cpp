// Random scenarios against the client core, its Telldus worker and the
// Telldus simulator with its radio: call lists, "Anslut" with a right or a
// wrong name, the transmitter unplugged, the service stalled, the library's
// thread spinning, a radio that loses commands, mode and blink changes, and
// a quit at any moment, and in half the scenarios two more receivers with
// their own resources and delays. The oracle below knows only the call lists,
// the mode and the clock; what the activation code does is not consulted.
//
// QUVO_PROPERTY_SCENARIOS sets how many (default 200), QUVO_PROPERTY_SEED the
// first seed (a failure names the seed that replays it).
#include "../device/DeviceTestRig.h"

#include "core/Dispatcher.h"
#include "core/HardwareClient.h"
#include "core/ReceiverSet.h"
#include "protocol/StreamReader.h"

#include <QElapsedTimer>
#include <QTest>

#include <map>
#include <random>

using namespace quvo;

namespace {

const QByteArray kDevices = "1:Lampa,2:Summer,3:Korridor";
constexpr qint64 kConvergeMs = 3000;

struct Params {
    quint64 seed = 0;
    double loss = 0;
    int repeat = 1;
    int refreshS = 5;
};

// Divergences and the time the receiver differed from the oracle.
struct Tally {
    int commandsAgainst = 0;   // 1: a command the oracle contradicts
    int notConverged = 0;      // 2: no loss, faults cleared 3 s ago, receiver differs
    int notAsserted = 0;       // 3: an on or an off not sent again in time
    qint64 worstConvergeMs = 0;
    std::map<std::pair<double, int>, std::pair<qint64, qint64>> differMs; // (loss, repeat) -> (differ, total)
    QStringList first;         // the first few failures, with their seeds
    void fail(int& counter, const QString& what)
    {
        ++counter;
        if (first.size() < 5)
            first << what;
    }
};

// What one receiver should be, and what was seen of it.
struct Oracle {
    int id = 1;
    qint64 delayMs = 0;        // how long a call must have waited
    int resource = -1;         // the one served; -1: all
    bool on = false;
    qint64 changedAt = 0;
    bool blinkRun = false;
    qint64 deadline = 0;
    qint64 refreshSince = 0;
    qint64 endedAt = -1;
    bool offsChecked = true;
    std::map<qint64, int> offsSinceEnd;
    qint64 lastOn = -1;
    qint64 mismatchSince = -1;
    bool mismatchTold = false;
    bool countable = false;
    bool matched = false;
};

class Scenario {
public:
    Scenario(const Params& p, Tally& tally)
        : m_p(p), m_tally(tally), m_random(p.seed)
    {
        qputenv("QUVO_TELLDUS_LIBRARY", TELLDUS_SIM_PATH);
        qputenv("TELLDUS_SIM_DEVICES", kDevices);
        qputenv("TELLDUS_SIM_LOG", path("log"));
        qputenv("TELLDUS_SIM_CONTROL", path("control"));
        qputenv("TELLDUS_SIM_RECEIVER", path("receivers"));
        qputenv("TELLDUS_SIM_SEED", QByteArray::number(p.seed));
        writeControl();
        m_client = std::make_unique<HardwareClient>(m_ui, QStringList{}, locationsIn(m_dir), m_clock);
        auto parts = m_client->parts();
        parts.telldus.setRepeatGap(1);
        parts.telldus.setLibraryWatchInterval(50);
        m_client->FormCreate();
        // As stored by hand, read as at start.
        const QString section = QStringLiteral("QUVO_HWClient");
        m_client->settings().WriteSetting(section, QStringLiteral("TellStickRepeat"), QString::number(p.repeat));
        m_client->settings().WriteSetting(section, QStringLiteral("TellStickRefresh"), QString::number(p.refreshS));
        parts.device.restoreName();
        parts.activation.restoreSettings();
        m_secondsMode = pick(3) == 0;
        m_seconds = 2 + pick(20);
        m_client->setActivationSeconds(m_seconds);
        m_client->setActivationSecondsMode(m_secondsMode);
        m_blinkBox = pick(4) == 0;
        m_blinkMs = 300 + 100 * pick(8);
        m_client->setBlinkInterval(m_blinkMs);
        m_client->setBlink(m_blinkBox);
        m_rx.push_back(Oracle{});
        if (pick(2) == 0) {
            // Whatever waits some seconds, and the second resource at once,
            // by its name or its number.
            Oracle summer;
            summer.id = 2;
            summer.delayMs = 1000LL * pick(15);
            Oracle corridor;
            corridor.id = 3;
            corridor.resource = 1;
            corridor.delayMs = pick(2) == 0 ? 0 : 1000LL * (1 + pick(5));
            m_rx.push_back(summer);
            m_rx.push_back(corridor);
            m_client->settings().WriteSetting(ReceiverSet::kSection, QStringLiteral("1"),
                                              QStringLiteral("Summer;*;%1").arg(summer.delayMs / 1000));
            m_client->settings().WriteSetting(ReceiverSet::kSection, QStringLiteral("2"),
                                              QStringLiteral("Korridor;%1;%2").arg(pick(2) ? "resurs1" : "2")
                                                  .arg(corridor.delayMs / 1000));
            parts.receivers.load();
            parts.receivers.lookUp();
        }
        anslut(true);
    }

    void run()
    {
        const int events = 6 + pick(10);
        const int quitAt = pick(4) == 0 ? pick(events) : -1;
        for (int i = 0; i < events && !m_quit; ++i) {
            advance(m_clock.nowMs() + 200 + pick(10'000));
            if (i == quitAt) {
                quit();
                break;
            }
            event(i == 0 ? 0 : pick(100));
        }
        if (!m_quit) {
            // Every fault clears; the receiver must come back by itself.
            m_faults.clear();
            writeControl();
            if (!m_rightName)
                anslut(true);
            clean();
            checkNow();
            advance(m_clock.nowMs() + 8 * 1000 * m_p.refreshS + kConvergeMs + 1000);
            quit();
        }
    }

private:
    QByteArray path(const char* name) const { return m_dir.filePath(QLatin1String(name)).toLocal8Bit(); }
    int pick(int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(m_random)); }
    QString where() const { return QStringLiteral("seed %1 at %2 ms: ").arg(m_p.seed).arg(m_clock.nowMs()); }

    void trace(const QString& what) const
    {
        if (qEnvironmentVariableIsSet("QUVO_PROPERTY_TRACE"))
            qInfo("%lld %s", m_clock.nowMs(), qPrintable(what));
    }

    void event(int roll)
    {
        if (m_faults.remove("EVENTS=lost"))
            writeControl();
        trace(QStringLiteral("event %1 faults %2 name %3 seconds %4 blink %5 on %6")
                  .arg(roll).arg(QStringList(m_faults.begin(), m_faults.end()).join(QLatin1Char(' ')))
                  .arg(m_rightName).arg(m_secondsMode).arg(m_blinkBox).arg(m_rx[0].on));
        if (roll < 50) {
            callList();
        } else if (roll < 70) {
            // A spinning library thread takes a core: it lasts one step.
            static const char* const kinds[] = {"FAIL=notfound", "STALL_MS=5", "EVENTS=lost"};
            const QByteArray kind = kinds[pick(3)];
            if (!m_faults.remove(kind))
                m_faults.insert(kind);
            writeControl();
        } else if (roll < 80) {
            anslut(pick(3) != 0);
        } else if (roll < 90) {
            m_secondsMode = !m_secondsMode;
            m_client->setActivationSecondsMode(m_secondsMode);
            for (Oracle& o : m_rx) {
                if (o.on)
                    o.deadline = m_clock.nowMs() + (m_secondsMode ? 1000LL * m_seconds : Activation::kUntilConfirmedMs);
                if (o.on && !o.blinkRun && !m_secondsMode)
                    o.refreshSince = m_clock.nowMs();
            }
        } else {
            m_blinkBox = !m_blinkBox;
            m_client->setBlink(m_blinkBox);
        }
        clean();
        checkNow();
    }

    void callList()
    {
        QByteArray body;
        const qint64 now = m_clock.nowMs();
        std::map<std::pair<int, int>, qint64> since;   // (resource, caller) -> first seen unconfirmed
        const int resources = pick(12) == 0 ? 0 : 1 + pick(2);
        for (int r = 0; r < resources; ++r) {
            body += "Resurs" + QByteArray::number(r) + ':' + QByteArray::number(r + 1) + ":255:"
                + QByteArray::number(r) + ":\xA4%";
            for (int c = pick(4); c > 0; --c) {
                const bool confirmed = pick(2) == 0;
                if (!confirmed) {
                    const auto before = m_since.find({r, c});
                    since[{r, c}] = before != m_since.end() ? before->second : now;
                }
                body += "Rum " + QByteArray::number(c) + '~' + QByteArray::number(c) + "~2026-12-09 10:00:00~255~"
                    + (confirmed ? "5~2026-12-09 10:01:00~Anna~" : "0~~~");
            }
            body += "%\xA4:";
        }
        if (resources == 0)
            body += ':';
        protocol::StreamReader reader;
        std::vector<protocol::Unit> units;
        const QByteArray bytes = "\xA4" "CURRENTLIST:" + body + "CURRENTLIST\xA4";
        reader.feed(std::string_view(bytes.constData(), std::size_t(bytes.size())), units);
        for (protocol::Unit& u : units)
            m_client->parts().dispatcher.DispatchServerText(std::move(u));

        // The oracle: a call for a receiver's resources that has waited its
        // delay unconfirmed, in this list and every one before since it
        // came, starts its activation unless one runs; a list without one
        // ends it. The primary waits for nothing and serves everything.
        m_since = std::move(since);
        for (Oracle& o : m_rx) {
            if (!m_defined)
                o.changedAt = now;
            if (due(o))
                start(o);
            else if (o.on)
                end(o);
        }
        m_defined = true;
    }

    bool due(const Oracle& o) const
    {
        for (const auto& [call, since] : m_since)
            if ((o.resource < 0 || o.resource == call.first) && m_clock.nowMs() - since >= o.delayMs)
                return true;
        return false;
    }

    bool reachesNow(const Oracle& o) const
    {
        for (const auto& [call, since] : m_since)
            if ((o.resource < 0 || o.resource == call.first) && since + o.delayMs == m_clock.nowMs())
                return true;
        return false;
    }

    // When a call next reaches a receiver's delay between lists; -1: none.
    qint64 nextDue(const Oracle& o) const
    {
        qint64 next = -1;
        for (const auto& [call, since] : m_since) {
            const qint64 at = since + o.delayMs;
            if ((o.resource < 0 || o.resource == call.first) && at > m_clock.nowMs() && (next < 0 || at < next))
                next = at;
        }
        return next;
    }

    void start(Oracle& o)
    {
        if (o.on)
            return;
        o.on = true;
        o.changedAt = m_clock.nowMs();
        o.blinkRun = m_blinkBox;
        o.deadline = m_clock.nowMs() + (m_secondsMode ? 1000LL * m_seconds : Activation::kUntilConfirmedMs);
        o.refreshSince = m_clock.nowMs();
    }

    void end(Oracle& o)
    {
        o.on = false;
        o.endedAt = o.changedAt = m_clock.nowMs();
        o.offsChecked = false;
    }

    void anslut(bool right)
    {
        m_rightName = right;
        m_client->setDeviceName(right ? QStringLiteral("lampa") : QStringLiteral("Lampa "));
        m_client->connectDevice();
    }

    void writeControl()
    {
        QFile control(QString::fromLocal8Bit(path("control")));
        QVERIFY(control.open(QIODevice::WriteOnly | QIODevice::Truncate));
        for (const QByteArray& f : m_faults)
            control.write(f + '\n');
        control.write("LOSS=" + QByteArray::number(m_p.loss) + '\n');
    }

    // Faults cleared and the right device looked up: from now on the
    // receiver must come back by itself.
    void clean()
    {
        const bool now = m_faults.isEmpty() && m_rightName;
        if (now && !m_clean)
            m_cleanSince = m_clock.nowMs();
        m_clean = now;
        if (m_faults.isEmpty() && !m_faultsClear)
            m_faultsClearedSince = m_clock.nowMs();
        m_faultsClear = m_faults.isEmpty();
    }

    // Moves the clock to `to`, stopping at every timer, each time checking.
    void advance(qint64 to)
    {
        for (;;) {
            checkNow(); // what the last step set going is seen at its own time
            const qint64 next = m_clock.nextDueInMs();
            qint64 at = (next < 0 || m_clock.nowMs() + next > to) ? to : m_clock.nowMs() + next;
            // The oracle's own moments: an activation's end, a call reaching a delay.
            for (const Oracle& o : m_rx) {
                if (o.on && o.deadline < at)
                    at = o.deadline;
                const qint64 reach = m_defined && !o.on ? nextDue(o) : -1;
                if (reach >= 0 && reach < at)
                    at = reach;
            }
            m_clock.advance(at - m_clock.nowMs());
            for (Oracle& o : m_rx) {
                if (o.on && o.deadline <= m_clock.nowMs())
                    end(o);
                else if (m_defined && !o.on && o.delayMs > 0 && reachesNow(o))
                    start(o);
            }
            checkNow();
            if (m_clock.nowMs() >= to)
                return;
        }
    }

    void quit()
    {
        m_quit = true;
        m_client->quit();
        checkNow();
    }

    // What each receiver behind the radio is: "ON" or "OFF" by id.
    std::map<int, QString> heardNow() const
    {
        std::map<int, QString> heard;
        QFile file(QString::fromLocal8Bit(path("receivers")));
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray& line : file.readAll().split('\n'))
                if (const qsizetype blank = line.indexOf(' '); blank > 0)
                    heard[line.left(blank).toInt()] = QString::fromLatin1(line.mid(blank + 1));
        return heard;
    }

    Oracle* oracleFor(int id)
    {
        for (Oracle& o : m_rx)
            if (o.id == id)
                return &o;
        return nullptr;
    }

    void checkNow()
    {
        settle(m_client->parts().telldus);
        const qint64 now = m_clock.nowMs();

        // 1: what is handed to the library agrees with the oracle.
        QFile log(QString::fromLocal8Bit(path("log")));
        if (log.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> lines = log.readAll().split('\n');
            // Two timers due at the same moment (a re-sent off, a call
            // reaching its delay) may each send: what a receiver is left
            // with at one moment is its last command then.
            std::map<Oracle*, bool> last;
            for (; m_linesSeen < lines.size() - 1; ++m_linesSeen) {
                const bool on = lines[m_linesSeen].contains(" ON ");
                trace(QString::fromLatin1(lines[m_linesSeen]));
                Oracle* o = oracleFor(lines[m_linesSeen].mid(lines[m_linesSeen].lastIndexOf(' ') + 1).toInt());
                if (!o)
                    continue;
                if (on)
                    o->lastOn = now;
                else
                    ++o->offsSinceEnd[o->endedAt];
                last[o] = on;
            }
            for (const auto& [o, on] : last)
                if (m_defined && ((on && !o->on) || (!on && o->on && !o->blinkRun)))
                    m_tally.fail(m_tally.commandsAgainst, where() + QStringLiteral("receiver %1: ").arg(o->id)
                                     + (on ? "on while no call stands" : "off while a call stands"));
        }
        const std::map<int, QString> heard = heardNow();
        for (Oracle& o : m_rx)
            check(o, now, heard.count(o.id) ? heard.at(o.id) : QString());
        m_lastCheck = now;
    }

    void check(Oracle& o, qint64 now, const QString& heard)
    {
        const QString who = QStringLiteral("receiver %1 ").arg(o.id);
        const bool wanted = o.on;
        const bool matches = heard == QLatin1String(wanted ? "ON" : "OFF");
        // Only the primary's name is changed by "Anslut".
        const bool clean = m_faults.isEmpty() && (o.id != 1 || m_rightName);
        const qint64 cleanSince = o.id == 1 ? m_cleanSince : m_faultsClearedSince;
        const bool countable = m_defined && clean && !(o.on && o.blinkRun);
        if (o.countable) {
            auto& [differ, total] = m_tally.differMs[{m_p.loss, m_p.repeat}];
            total += now - m_lastCheck;
            if (!o.matched)
                differ += now - m_lastCheck;
        }
        o.countable = countable;
        o.matched = matches;

        // 2: without loss, back to the oracle within 3 s of the last fault
        // or change; blinking, an on at least every other step.
        if (m_p.loss == 0 && countable && !(m_quit && !clean)) {
            const qint64 start = std::max(cleanSince, o.changedAt);
            if (matches) {
                // Set right only now, with no step between to see it wrong.
                if (o.mismatchSince >= 0 && now - o.mismatchSince > kConvergeMs && !o.mismatchTold)
                    m_tally.fail(m_tally.notConverged, where() + who + "back only after "
                                     + QString::number(now - o.mismatchSince) + " ms");
                if (o.mismatchSince >= 0)
                    m_tally.worstConvergeMs = std::max(m_tally.worstConvergeMs, now - o.mismatchSince);
                o.mismatchSince = -1;
                o.mismatchTold = false;
            } else {
                if (o.mismatchSince < 0)
                    o.mismatchSince = start;
                if (now - start > kConvergeMs && !o.mismatchTold) {
                    o.mismatchTold = true;
                    m_tally.fail(m_tally.notConverged, where() + who + "'" + heard + "', wanted "
                                                           + (wanted ? "ON" : "OFF"));
                }
            }
            // Quitting carries out the last decision.
            if (m_quit && !matches)
                m_tally.fail(m_tally.notConverged, where() + who + "left '" + heard + "' at quit");
        } else {
            o.mismatchSince = -1;
            o.mismatchTold = false;
        }
        if (clean && !m_quit && o.on && o.blinkRun
            && now - std::max({o.lastOn, o.refreshSince, cleanSince}) > 2 * m_blinkMs + DeviceController::kRetryMs)
            m_tally.fail(m_tally.notConverged, where() + who + "no on for two blink steps");

        // 3: the on is sent again every refresh interval while a call
        // stands (until confirmed, steady), the off four more times after.
        const qint64 refreshMs = 1000LL * m_p.refreshS;
        if (clean && !m_quit && o.on && !o.blinkRun && !m_secondsMode
            && now - std::max({o.lastOn, o.refreshSince, cleanSince}) > refreshMs + DeviceController::kRetryMs)
            m_tally.fail(m_tally.notAsserted, where() + who + "no on for a refresh interval");
        if (!o.on && o.endedAt >= 0 && !o.offsChecked && now >= o.endedAt + 8 * refreshMs) {
            o.offsChecked = true;
            if (clean && cleanSince <= o.endedAt && o.offsSinceEnd[o.endedAt] < 5)
                m_tally.fail(m_tally.notAsserted, where() + who + "fewer than five offs after the end");
        }
    }

    Params m_p;
    Tally& m_tally;
    std::mt19937_64 m_random;
    QTemporaryDir m_dir;
    ManualClock m_clock;
    SilentUserInterface m_ui;
    std::unique_ptr<HardwareClient> m_client;

    QSet<QByteArray> m_faults;
    bool m_rightName = true;
    bool m_clean = true;
    qint64 m_cleanSince = 0;
    bool m_quit = false;

    qint64 m_faultsClearedSince = 0;   // the others' clean: no "Anslut" for them
    bool m_faultsClear = true;

    bool m_secondsMode = false;
    int m_seconds = 2;
    bool m_blinkBox = false;
    bool m_defined = false;    // a call list has come
    int m_blinkMs = 500;
    std::vector<Oracle> m_rx;  // the primary first
    std::map<std::pair<int, int>, qint64> m_since;

    qsizetype m_linesSeen = 0;
    qint64 m_lastCheck = 0;
};

} // namespace

class ReceiverProperty : public QObject {
    Q_OBJECT
private slots:
    void receiverFollowsTheCalls()
    {
        const int count = qEnvironmentVariableIsSet("QUVO_PROPERTY_SCENARIOS")
            ? qEnvironmentVariableIntValue("QUVO_PROPERTY_SCENARIOS") : 200;
        const quint64 first = qEnvironmentVariableIsSet("QUVO_PROPERTY_SEED")
            ? quint64(qEnvironmentVariable("QUVO_PROPERTY_SEED").toULongLong()) : 1;
        static const double kLoss[] = {0, 0, 0.1, 0.3, 0.5};
        Tally tally;
        for (int i = 0; i < count; ++i) {
            std::mt19937_64 pickParams(first + quint64(i));
            Params p;
            p.seed = first + quint64(i);
            p.loss = kLoss[pickParams() % 5];
            p.repeat = pickParams() % 2 ? 3 : 1;
            p.refreshS = 3 + int(pickParams() % 8);
            QElapsedTimer took;
            took.start();
            Scenario(p, tally).run();
            if (took.elapsed() > 1500)
                qInfo("seed %llu took %lld ms", p.seed, took.elapsed());
        }
        qInfo("%d scenarios from seed %llu: against the oracle %d, not back within 3 s %d, not sent again %d; "
              "longest way back %lld ms",
              count, first, tally.commandsAgainst, tally.notConverged, tally.notAsserted, tally.worstConvergeMs);
        for (const auto& [key, ms] : tally.differMs)
            qInfo("loss %.1f, TellStickRepeat %d: the receiver differed from the calls %.2f %% of %lld s",
                  key.first, key.second, ms.second ? 100.0 * double(ms.first) / double(ms.second) : 0.0,
                  ms.second / 1000);
        QVERIFY2(tally.first.isEmpty(), qPrintable(tally.first.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(ReceiverProperty)
#include "tst_receiver_property.moc"
