// Receivers besides the primary: each follows the calls for its resources
// once they have waited its seconds, on the manual clock and the Telldus
// simulator.
#include "ScriptedUi.h"
#include "../device/DeviceTestRig.h"

#include "core/CallAges.h"
#include "core/Dispatcher.h"
#include "core/HardwareClient.h"
#include "core/ReceiverSet.h"
#include "protocol/StreamReader.h"

#include <QTest>

using namespace quvo;
using namespace quvo::test;

namespace {

// One resource entry with one caller; confirmed names who comes.
QByteArray entry(const QByteArray& resource, int id, const QByteArray& caller, const QByteArray& time,
                 bool confirmed = false)
{
    return resource + ':' + QByteArray::number(id) + ":255:0:\xA4%" + caller + "~7~2026-12-09 " + time + "~255~"
        + (confirmed ? "5~2026-12-09 11:00:00~Anna~" : "0~~~") + "%\xA4";
}

struct Rig {
    explicit Rig(const QStringList& receivers)
    {
        qputenv("QUVO_TELLDUS_LIBRARY", TELLDUS_SIM_PATH);
        qputenv("TELLDUS_SIM_DEVICES", "1:Lampa,2:Summer i hallen,3:Lampa korridor B,4:Lampa C");
        qputenv("TELLDUS_SIM_LOG", dir.filePath("log").toLocal8Bit());
        qputenv("TELLDUS_SIM_CONTROL", dir.filePath("control").toLocal8Bit());
        client = std::make_unique<HardwareClient>(ui, QStringList{}, locationsIn(dir), clock);
        client->FormCreate();
        client->parts().activation.setRefreshSeconds(0); // only the decisions in the log
        for (const QString& line : receivers)
            client->settings().WriteSetting(ReceiverSet::kSection, line.section(u'=', 0, 0), line.section(u'=', 1));
        client->parts().receivers.load();
        client->setDeviceName(QStringLiteral("Lampa"));
        client->connectDevice();
        client->parts().receivers.lookUp();
        sent();
    }

    void list(const QList<QByteArray>& entries)
    {
        const QByteArray bytes = "\xA4" "CURRENTLIST:" + entries.join(':') + ":CURRENTLIST\xA4";
        protocol::StreamReader reader;
        std::vector<protocol::Unit> units;
        reader.feed(std::string_view(bytes.constData(), std::size_t(bytes.size())), units);
        for (protocol::Unit& u : units)
            client->parts().dispatcher.DispatchServerText(std::move(u));
    }

    // The commands since the last call, as "ON 2".
    QStringList sent()
    {
        settle(client->parts().telldus);
        QFile file(dir.filePath("log"));
        QStringList lines;
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray& line : file.readAll().split('\n'))
                if (!line.isEmpty())
                    lines << QString::fromLatin1(line.mid(line.indexOf(' ') + 1));
        const QStringList fresh = lines.mid(m_seen);
        m_seen = lines.size();
        return fresh;
    }

    void advanceTo(qint64 at)
    {
        for (qint64 next = clock.nextDueInMs(); next >= 0 && clock.nowMs() + next <= at; next = clock.nextDueInMs()) {
            clock.advance(next);
            settle(client->parts().telldus);
        }
        clock.advance(at - clock.nowMs());
        settle(client->parts().telldus);
    }

    QTemporaryDir dir;
    ManualClock clock;
    ScriptedUi ui;
    std::unique_ptr<HardwareClient> client;
    qsizetype m_seen = 0;
};

} // namespace

class ReceiversTest : public QObject {
    Q_OBJECT
private slots:
    void eachReceiverFollowsItsResourcesAfterItsSeconds()
    {
        Rig rig({QStringLiteral("1=Summer i hallen;*;120"), QStringLiteral("2=Lampa korridor B;R\u00f6ntgen,labb;0"),
                 QStringLiteral("3=Lampa C;Akut;0")});
        ReceiverSet& receivers = rig.client->parts().receivers;
        QCOMPARE(receivers.count(), 3);
        QCOMPARE(rig.client->parts().receivers.device(0).TellStickDeviceId(), 2);

        // A call for Labb: the primary and the corridor lamp, not lamp C; the
        // buzzer not yet.
        const QByteArray labb = entry("Labb", 7, "Rum 1", "10:00:00");
        rig.list({labb});
        QStringList sent = rig.sent();
        sent.sort();
        QCOMPARE(sent, (QStringList{"OFF 2", "OFF 4", "ON 1", "ON 3"}));

        // A newer call does not make the older one younger.
        rig.advanceTo(60'000);
        rig.list({labb, entry("R\xF6ntgen", 9, "Rum 2", "10:01:00")});
        rig.advanceTo(119'999);
        QCOMPARE(rig.sent(), QStringList{});
        QVERIFY(!receivers.activation(0).active());
        rig.advanceTo(120'000);
        QCOMPARE(rig.sent(), QStringList{"ON 2"});

        // Confirming ends every activation.
        rig.advanceTo(130'000);
        rig.list({entry("Labb", 7, "Rum 1", "10:00:00", true), entry("R\xF6ntgen", 9, "Rum 2", "10:01:00", true)});
        sent = rig.sent();
        sent.sort();
        QCOMPARE(sent, (QStringList{"OFF 1", "OFF 2", "OFF 3"}));
        for (int i = 0; i < receivers.count(); ++i)
            QVERIFY(!receivers.activation(i).active());
        QVERIFY(!rig.client->parts().activation.active());
    }

    // A call keeps its age only while every list holds it unconfirmed.
    void callAgeLastsOnlyThroughConsecutiveLists()
    {
        TCallObject labb;
        labb.CallName = QStringLiteral("Labb");
        labb.CallLopnr = 7;
        TCaller caller;
        caller.CallerName = QStringLiteral("Rum 1");
        caller.CallTimeStamp = 46365.4;
        labb.CurrentCallList.push_back(caller);
        TCallObject other = labb;
        other.CurrentCallList[0].CallerLopnr = 4;
        CallAges ages;
        ages.seen({labb}, 1000);
        ages.seen({labb, other}, 5000);
        QCOMPARE(ages.waiting().size(), std::size_t(2));
        QCOMPARE(ages.waiting()[0].sinceMs, 1000);
        QCOMPARE(ages.waiting()[1].sinceMs, 5000);
        ages.seen({other}, 6000);
        ages.seen({labb, other}, 7000);
        QCOMPARE(ages.waiting()[0].sinceMs, 7000);
        QCOMPARE(ages.waiting()[1].sinceMs, 5000);
        other.CurrentCallList[0].CallComingLopnr = 5;
        ages.seen({other}, 8000);
        QVERIFY(ages.waiting().empty());
    }

    void malformedLineIsToldOnceAndSkipped()
    {
        Rig rig({QStringLiteral("1=Summer i hallen;*;tv\u00e5"), QStringLiteral("2=Lampa C;Akut;0"),
                 QStringLiteral("3=;*;5")});
        QCOMPARE(rig.client->parts().receivers.count(), 1);
        QCOMPARE(rig.client->parts().receivers.line(0).device, QStringLiteral("Lampa C"));
        QCOMPARE(rig.ui.infos.size(), 2);
        QVERIFY2(rig.ui.infos[0].startsWith(QStringLiteral("Mottagare 1 ")), qPrintable(rig.ui.infos[0]));
        QVERIFY(rig.ui.infos[0].contains(QStringLiteral("Summer i hallen;*;tv\u00e5")));
        QVERIFY(rig.ui.infos[1].startsWith(QStringLiteral("Mottagare 3 ")));
        rig.client->parts().receivers.load();
        QCOMPARE(rig.ui.infos.size(), 2);
    }
};

QTEST_GUILESS_MAIN(ReceiversTest)
#include "tst_receivers.moc"
