// The status model's thresholds on a stepped clock, and the history from
// its rows to the printed report.
#include "common/UserInterface.h"
#include "core/HardwareClient.h"
#include "core/ReceiverSet.h"
#include "observe/CallHistory.h"
#include "observe/Observer.h"
#include "observe/HistoryReport.h"
#include "observe/HistoryWriter.h"
#include "observe/StatusModel.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace quvo;

class ObserveTest : public QObject {
    Q_OBJECT

private slots:
    // Every receiver of the settings is a receiver of the endpoint, and
    // follows their changes.
    void everyReceiverIsReported()
    {
        QTemporaryDir dir;
        qputenv("QUVO_TELLDUS_LIBRARY", dir.filePath("none.so").toLocal8Bit());
        SilentUserInterface ui;
        HardwareClient client(ui, {}, SettingsLocations{dir.filePath("user"), dir.filePath("machine")});
        Observer observer(client);
        client.FormCreate();
        client.setDeviceName(QStringLiteral("Lampa"));
        client.settings().WriteSetting(ReceiverSet::kSection, QStringLiteral("1"), QStringLiteral("Summer;*;120"));
        client.saveReceivers(client.receiverLines());
        QByteArray metrics = observer.model().metricsText();
        QVERIFY2(metrics.contains("quvo_receiver_fault{receiver=\"Summer\"} 0"), metrics.constData());
        QVERIFY(metrics.contains("quvo_receiver_fault{receiver=\"Lampa\"} 0"));
        client.saveReceivers({});
        QVERIFY(!observer.model().metricsText().contains("Summer"));
        QCOMPARE(observer.model().receivers().size(), std::size_t(1));
    }

    void healthThresholds()
    {
        ManualClock clock;
        StatusModel model(clock);
        const int lamp = model.addReceiver(QStringLiteral("Lampa"));
        model.setConnected(true);
        QCOMPARE(model.health(), StatusModel::Health::Pass);

        model.setConnected(false);
        QCOMPARE(model.health(), StatusModel::Health::Warn);
        clock.advance(StatusModel::kServerFailMs);
        QCOMPARE(model.health(), StatusModel::Health::Warn);
        clock.advance(1);
        QCOMPARE(model.health(), StatusModel::Health::Fail);
        QCOMPARE(StatusModel::httpStatus(model.health()), 503);
        model.setConnected(true);
        QCOMPARE(model.health(), StatusModel::Health::Pass);

        // A fault while nothing waits only warns, however long it lasts.
        model.setFault(lamp, true, QStringLiteral("Fel: TellStick not found"));
        clock.advance(3 * StatusModel::kReceiverFailMs);
        QCOMPARE(model.health(), StatusModel::Health::Warn);
        // Should be on: counted from then, not from the fault.
        model.setShouldBeOn(lamp, true);
        clock.advance(StatusModel::kReceiverFailMs);
        QCOMPARE(model.health(), StatusModel::Health::Warn);
        clock.advance(1);
        QCOMPARE(model.health(), StatusModel::Health::Fail);
        QVERIFY(model.healthJson(QStringLiteral("1")).contains("\"output\":\"Fel: TellStick not found\""));
        model.setFault(lamp, false, QString());
        QCOMPARE(model.health(), StatusModel::Health::Pass);
        QCOMPARE(model.metricsText().count("quvo_reconnects_total 1\n"), 1);
    }

    // Rows as a scenario leaves them, an old call pruned, the report's
    // times local and its durations from the call.
    void historyReportAndPruning()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("history.sqlite");
        const QDateTime called(QDate(2024, 3, 1), QTime(3, 12, 0));
        const qint64 t = called.toMSecsSinceEpoch();
        {
            HistoryWriter writer(path);
            writer.post({HistoryOp::CallSeen, "old", t - 500LL * 86'400'000, t - 500LL * 86'400'000, "Läkare", "Rum 9", {}});
            writer.post({HistoryOp::CallSeen, "k", t + 200, t, "Läkare", "Rum 3", {}});
            writer.post({HistoryOp::ReceiverResult, "k", 0, 0, {}, "Lampa", "fel: Fel: TellStick not found"});
            writer.post({HistoryOp::ReceiverResult, "k", t + 1500, 0, {}, "Lampa", "ok efter fel"});
            writer.post({HistoryOp::ReceiverResult, "k", t + 9000, 0, {}, "Lampa", "ok"});   // the first stays
            writer.post({HistoryOp::Confirmed, "k", t + 252'000, 0, {}, {}, "Anna"});
            writer.post({HistoryOp::Ended, "k", t + 300'000, 0, {}, {}, {}});
            writer.post({HistoryOp::Event, {}, t + 1000, 0, {}, "receiver_fault", "Fel: TellStick not found"});
            writer.post({HistoryOp::Prune, {}, t - 400LL * 86'400'000, 0, {}, {}, {}});
            QVERIFY(writer.waitForIdle(5000));
        }
        QCOMPARE(CallHistory::fromDayCount(45352.1333333333), QDateTime(QDate(2024, 3, 1), QTime(3, 12)).toMSecsSinceEpoch());

        const auto report = [&](const QStringList& args) {
            const QString file = dir.filePath("out.txt");
            FILE* out = std::fopen(QFile::encodeName(file).constData(), "w");
            const int code = printHistory(path, args, out, stderr);
            std::fclose(out);
            QFile f(file);
            f.open(QIODevice::ReadOnly);
            return qMakePair(code, QString::fromUtf8(f.readAll()));
        };
        const auto [code, text] = report({});
        QCOMPARE(code, 0);
        QVERIFY2(text.contains(QStringLiteral("Kallelser (1)")), qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("Rum 9")));
        const QString row = text.split(u'\n').filter(QStringLiteral("Rum 3")).value(0);
        for (const char* cell : {"2024-03-01 03:12:00", "Lampa", "03:12:01", "1,5 s", "ok efter fel", "03:16:12",
                                    "Anna", "4 min 12 s", "03:17:00"})
            QVERIFY2(row.contains(QString::fromUtf8(cell)), qPrintable(row + u'|' + QString::fromUtf8(cell)));
        QVERIFY(text.contains(QStringLiteral("Mottagarfel: Fel: TellStick not found")));

        const auto [csvCode, csv] = report({QStringLiteral("--csv"), QStringLiteral("--since"), QStringLiteral("2024-03-01")});
        QCOMPARE(csvCode, 0);
        const QStringList lines = csv.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        for (const QString& line : lines)
            QCOMPARE(line.count(u';'), 12);
        QCOMPARE(report({QStringLiteral("--since"), QStringLiteral("1 mars")}).first, 2);
    }
};

QTEST_GUILESS_MAIN(ObserveTest)
#include "tst_observe.moc"
