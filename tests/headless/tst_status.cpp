// The status endpoint and the call history of the real program, headless,
// against the server simulator and the Telldus simulator.
#include "HeadlessRig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpSocket>

#include <csignal>

namespace {

struct Reply {
    int status = 0;
    QByteArray contentType;
    QByteArray body;
};

// One request on a connection of its own; the answer read by its length.
Reply request(quint16 port, const QByteArray& method, const QByteArray& path)
{
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!s.waitForConnected(2000))
        return {};
    s.write(method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray data;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 3000) {
        s.waitForReadyRead(100);
        data += s.readAll();
        const qsizetype end = data.indexOf("\r\n\r\n");
        if (end < 0)
            continue;
        const QRegularExpression lengthRx(QStringLiteral("(?i)content-length: *(\\d+)"));
        const auto length = lengthRx.match(QString::fromLatin1(data.left(end)));
        if (length.hasMatch() && data.size() - end - 4 >= length.captured(1).toLongLong()) {
            Reply r;
            r.status = data.mid(9, 3).toInt();
            const auto type = QRegularExpression(QStringLiteral("(?i)content-type: *([^\r]+)"))
                                  .match(QString::fromLatin1(data.left(end)));
            r.contentType = type.captured(1).toLatin1();
            r.body = data.mid(end + 4);
            return r;
        }
    }
    return {};
}

QJsonObject health(quint16 port) { return QJsonDocument::fromJson(request(port, "GET", "/health").body).object(); }
QString healthStatus(quint16 port) { return health(port).value(QStringLiteral("status")).toString(); }
QJsonObject check(const QJsonObject& h, const char* name)
{
    return h.value(QStringLiteral("checks")).toObject().value(QLatin1String(name)).toArray().first().toObject();
}

double metric(const QByteArray& text, const QString& series)
{
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(series.toUtf8() + ' '))
            return line.mid(series.toUtf8().size() + 1).toDouble();
    return -1;
}

} // namespace

class StatusTest : public HeadlessRig {
    Q_OBJECT

    quint16 m_status = 0;
    QString m_log;
    int m_switches = 0;

    void startWatched(QStringList params = {})
    {
        writeSetting(QStringLiteral("QUVO_HWClient"), QStringLiteral("TellStickDevicename"), QStringLiteral("Lampa"));
        writeSetting(QStringLiteral("QUVO_HWClient"), QStringLiteral("StatusListen"), QStringLiteral("127.0.0.1:0"));
        if (m_sim.state() == QProcess::NotRunning)
            startSim();
        params << QStringLiteral("SERVERNAME=127.0.0.1") << QStringLiteral("SERVERPORT=%1").arg(m_port);
        startClient(params);
        m_log.clear();
        QVERIFY2(waitForLog(m_log, QStringLiteral("STATUS: Ansluten")), qPrintable(m_log));
        const auto port = QRegularExpression(QStringLiteral("Statusadressen är http://127.0.0.1:(\\d+)/")).match(m_log);
        QVERIFY2(port.hasMatch(), qPrintable(m_log));
        m_status = quint16(port.captured(1).toUInt());
        // The first call list, empty, switches the receiver off.
        QTRY_VERIFY_WITH_TIMEOUT(telldusLog().size() > m_switches, 5000);
        m_switches = int(telldusLog().size());
    }
    // The receiver's commands since the client started.
    QString switched(int i) const { return telldusLog().value(m_switches + i); }

    QString historyFile() const { return m_dir->filePath("data/Veltaris/QUVO/history.sqlite"); }

private slots:
    void init()
    {
        rigInit();
        m_switches = 0;
    }
    void cleanup() { rigCleanup(); }

    // Pass, warn and fail as the transmitter and the server go and come
    // back. The server's 60 s to a failure are the model's test.
    void healthFollowsTransmitterAndServer()
    {
        const QString control = m_dir->filePath("telldus.control");
        m_extraEnv.insert(QStringLiteral("TELLDUS_SIM_CONTROL"), control);
        writeSetting(QStringLiteral("QUVO_HWClient"), QStringLiteral("TellStickRefresh"), QStringLiteral("1"));
        startWatched();
        QCOMPARE(request(m_status, "GET", "/health").status, 200);
        QCOMPARE(request(m_status, "GET", "/health").contentType, QByteArray("application/health+json"));
        QCOMPARE(healthStatus(m_status), QStringLiteral("pass"));

        m_sim.write("call 1 Reception\n");
        QTRY_VERIFY_WITH_TIMEOUT(telldusLog().contains(QStringLiteral("ON 1")), 5000);
        QFile unplug(control);
        QVERIFY(unplug.open(QIODevice::WriteOnly) && unplug.write("FAIL=notfound\n") > 0);
        unplug.close();
        QTRY_COMPARE_WITH_TIMEOUT(healthStatus(m_status), QStringLiteral("warn"), 4000);
        QVERIFY(check(health(m_status), "receiver:state").value(QStringLiteral("output")).toString()
                    .contains(QStringLiteral("TellStick not found")));
        QElapsedTimer faulty;
        faulty.start();
        QTRY_COMPARE_WITH_TIMEOUT(request(m_status, "GET", "/health").status, 503, 15000);
        QVERIFY2(faulty.elapsed() > 8000, qPrintable(QString::number(faulty.elapsed())));
        QCOMPARE(healthStatus(m_status), QStringLiteral("fail"));
        QFile::remove(control);
        QTRY_COMPARE_WITH_TIMEOUT(healthStatus(m_status), QStringLiteral("pass"), 5000);

        const quint16 serverPort = m_port;
        m_sim.kill();
        m_sim.waitForFinished(3000);
        QTRY_COMPARE_WITH_TIMEOUT(healthStatus(m_status), QStringLiteral("warn"), 4000);
        QCOMPARE(check(health(m_status), "server:connected").value(QStringLiteral("status")).toString(),
                 QStringLiteral("warn"));
        startSim(serverPort);
        QTRY_COMPARE_WITH_TIMEOUT(healthStatus(m_status), QStringLiteral("pass"), 20000);
        terminateClientExpectingOne();
    }

    // Requests that are no scrape change nothing for the calls, and the
    // counters are those of the scenario.
    void metricsFollowScenarioDespiteBadRequests()
    {
        writeSetting(QStringLiteral("QUVO_HWClient"), QStringLiteral("TellStickRefresh"), QStringLiteral("0"));
        startWatched();
        QCOMPARE(request(m_status, "POST", "/health").status, 405);
        QCOMPARE(request(m_status, "GET", "/nothing").status, 404);
        QTcpSocket slow;
        slow.connectToHost(QStringLiteral("127.0.0.1"), m_status);
        QVERIFY(slow.waitForConnected(2000));
        slow.write("GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n");
        QTcpSocket big;
        big.connectToHost(QStringLiteral("127.0.0.1"), m_status);
        QVERIFY(big.waitForConnected(2000));
        big.write("GET /health HTTP/1.1\r\nX-Big: " + QByteArray(1 << 20, 'a') + "\r\n\r\n");
        QElapsedTimer since;
        since.start();

        m_sim.write("call 1 Reception\n");
        QTRY_COMPARE_WITH_TIMEOUT(switched(0), QStringLiteral("ON 1"), 5000);
        m_sim.write("confirm 1 Anna\n");
        QTRY_COMPARE_WITH_TIMEOUT(switched(1), QStringLiteral("OFF 1"), 5000);
        m_sim.write("call 1 Väntrum\n");
        QTRY_COMPARE_WITH_TIMEOUT(switched(2), QStringLiteral("ON 1"), 5000);
        QVERIFY2(since.elapsed() < 3000, qPrintable(QString::number(since.elapsed())));

        const Reply metrics = request(m_status, "GET", "/metrics");
        QCOMPARE(metrics.status, 200);
        QProcess promtool;
        promtool.start(QStringLiteral("promtool"), {QStringLiteral("check"), QStringLiteral("metrics")});
        QVERIFY2(promtool.waitForStarted(5000), "promtool (Debian's prometheus) is needed");
        promtool.write(metrics.body);
        promtool.closeWriteChannel();
        QVERIFY(promtool.waitForFinished(10000));
        QVERIFY2(promtool.exitCode() == 0, promtool.readAll().constData());

        const QString r = QStringLiteral("{receiver=\"Lampa\",command=\"%1\",result=\"%2\"}");
        QCOMPARE(metric(metrics.body, "quvo_receiver_commands_total" + r.arg("on", "ok")), 2.0);
        // The offs: the confirmation's, and the first (empty) list's.
        QCOMPARE(metric(metrics.body, "quvo_receiver_commands_total" + r.arg("off", "ok")),
                 double(telldusLog().count(QStringLiteral("OFF 1"))));
        QCOMPARE(telldusLog().count(QStringLiteral("ON 1")), 2);
        QCOMPARE(metric(metrics.body, "quvo_receiver_commands_total" + r.arg("on", "failed")), 0.0);
        QCOMPARE(metric(metrics.body, QStringLiteral("quvo_call_to_command_seconds_count")), 2.0);
        QCOMPARE(metric(metrics.body, QStringLiteral("quvo_unconfirmed_calls")), 1.0);
        QCOMPARE(metric(metrics.body, QStringLiteral("quvo_receiver_intended_on{receiver=\"Lampa\"}")), 1.0);
        QCOMPARE(metric(metrics.body, QStringLiteral("quvo_reconnects_total")), 0.0);

        // Both misfits are cut off; the endpoint answers on.
        QVERIFY(big.state() == QAbstractSocket::UnconnectedState || big.waitForDisconnected(2000));
        QVERIFY(slow.waitForDisconnected(8000));
        QCOMPARE(request(m_status, "GET", "/health").status, 200);
        terminateClientExpectingOne();
    }

    // A scenario's rows, then a kill -9 in a flood of calls: the file is
    // whole and holds every call but perhaps the last.
    void historyKeepsScenarioAndSurvivesKill()
    {
        startWatched();
        m_sim.write("call 1 Reception\n");
        QTRY_COMPARE_WITH_TIMEOUT(switched(0), QStringLiteral("ON 1"), 5000);
        m_sim.write("confirm 1 Anna\n");
        QTRY_COMPARE_WITH_TIMEOUT(switched(1), QStringLiteral("OFF 1"), 5000);
        m_sim.write("end 1\n");
        QTest::qWait(300);
        terminateClientExpectingOne();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("scenario"));
            db.setDatabaseName(historyFile());
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("SELECT c.resource, c.caller, r.receiver, r.on_at >= c.first_seen, r.result,"
                                          " c.confirmed_by, c.ended IS NOT NULL FROM calls c"
                                          " JOIN call_receivers r ON r.call_key = c.key")));
            QVERIFY(q.next());
            QStringList row;
            for (int i = 0; i < 7; ++i)
                row << q.value(i).toString();
            QCOMPARE(row, (QStringList{"Läkare", "Reception", "Lampa", "1", "ok", "Anna", "1"}));
            QVERIFY(!q.next());
            QVERIFY(q.exec(QStringLiteral("SELECT kind FROM events ORDER BY id")));
            QStringList kinds;
            while (q.next())
                kinds << q.value(0).toString();
            QCOMPARE(kinds, (QStringList{"started", "connected", "ended"}));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("scenario"));

        startWatched();
        constexpr int kCalls = 40;
        for (int i = 1; i <= kCalls; ++i) {
            m_sim.write(QStringLiteral("call 1 Rum %1\n").arg(i).toUtf8());
            m_sim.waitForBytesWritten(1000);
            QTest::qWait(20);
        }
        ::kill(pid_t(m_client.processId()), SIGKILL);
        QVERIFY(m_client.waitForFinished(3000));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("killed"));
            db.setDatabaseName(historyFile());
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next());
            QCOMPARE(q.value(0).toString(), QStringLiteral("ok"));
            QVERIFY(q.exec(QStringLiteral("SELECT caller FROM calls")));
            QStringList callers;
            while (q.next())
                callers << q.value(0).toString();
            for (int i = 1; i < kCalls; ++i)
                QVERIFY2(callers.contains(QStringLiteral("Rum %1").arg(i)), qPrintable(QString::number(i)));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("killed"));
    }

    // A history that cannot be written is one line; the calls go on.
    void unwritableHistoryIsOneLine()
    {
        QDir().mkpath(m_dir->filePath("data/Veltaris"));
        QFile inTheWay(m_dir->filePath("data/Veltaris/QUVO"));
        QVERIFY(inTheWay.open(QIODevice::WriteOnly));
        inTheWay.close();
        startWatched();
        m_sim.write("call 1 Reception\n");
        QTRY_VERIFY_WITH_TIMEOUT(telldusLog().contains(QStringLiteral("ON 1")), 5000);
        QVERIFY2(waitForLog(m_log, QStringLiteral("Historiken kan inte skrivas")), qPrintable(m_log));
        m_sim.write("confirm 1 Anna\n");
        QTRY_COMPARE_WITH_TIMEOUT(telldusLog().last(), QStringLiteral("OFF 1"), 5000);
        m_log += clientLog();
        QCOMPARE(m_log.count(QStringLiteral("Historiken kan inte skrivas")), 1);
        terminateClientExpectingOne();
    }
};

QTEST_GUILESS_MAIN(StatusTest)
#include "tst_status.moc"
