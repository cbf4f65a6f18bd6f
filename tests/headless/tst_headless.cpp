// The program as a box without a screen runs it: the real executable, the
// server simulator and the Telldus simulator, each its own process.
#include "HeadlessRig.h"
#include "common/VersionInfo.h"

#include <QElapsedTimer>
#include <QThread>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace quvo;

namespace {
// The service manager's end of NOTIFY_SOCKET: every datagram with the time
// it was read.
class NotifySocket {
public:
    explicit NotifySocket(const QString& path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        const QByteArray p = QFile::encodeName(path);
        if (m_fd >= 0 && size_t(p.size()) < sizeof addr.sun_path) {
            memcpy(addr.sun_path, p.constData(), size_t(p.size()));
            m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        }
        m_clock.start();
    }
    ~NotifySocket() { if (m_fd >= 0) ::close(m_fd); }
    bool bound() const { return m_bound; }
    void drain()
    {
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(m_fd, buf, sizeof buf, 0)) > 0) {
            messages << QString::fromUtf8(buf, n);
            times << m_clock.elapsed();
        }
    }
    int count(const QString& message) const { return int(messages.count(message)); }
    qint64 now() const { return m_clock.elapsed(); }
    QStringList messages;
    QList<qint64> times;

private:
    int m_fd = -1;
    bool m_bound = false;
    QElapsedTimer m_clock;
};
} // namespace

class HeadlessTest : public HeadlessRig {
    Q_OBJECT

private slots:
    void init() { rigInit(); }
    void cleanup() { rigCleanup(); }

    void withoutDisplayNamesTheHeadlessOption()
    {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(QStringLiteral(HWCLIENT_PATH), {});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("--headless")));
    }

    void callSwitchesReceiverAndSigtermQuitsWithOne()
    {
        writeSetting(QStringLiteral("QUVO_HWClient"), QStringLiteral("TellStickDevicename"), QStringLiteral("Lampa"));
        startSim();
        startClient({QStringLiteral("SERVERNAME=127.0.0.1"), QStringLiteral("SERVERPORT=%1").arg(m_port)});
        QString log;
        QVERIFY2(waitForLog(log, QStringLiteral("STATUS: Ansluten")), qPrintable(log));
        QVERIFY2(waitForLog(log, QStringLiteral("Vårdcentralen Demo")), qPrintable(log));
        m_sim.write("call 1 Reception\n");
        QTRY_VERIFY_WITH_TIMEOUT(telldusLog().contains(QStringLiteral("ON 1")), 5000);
        QVERIFY(waitForLog(log, QStringLiteral("ENHET: Turned On (grön)")));
        m_sim.write("confirm 1 Anna\n");
        QTRY_COMPARE_WITH_TIMEOUT(telldusLog().last(), QStringLiteral("OFF 1"), 5000);
        terminateClientExpectingOne();
    }

    // The Telldus service stopped: each library call stalls 9.5 s. The
    // handshake goes on at once, and a quit waits at most 2 s for the library.
    void stalledTelldusServiceHoldsNeitherHandshakeNorQuit()
    {
        writeSetting(QStringLiteral("QUVO_HWClient"), QStringLiteral("TellStickDevicename"), QStringLiteral("Lampa"));
        m_extraEnv.insert(QStringLiteral("TELLDUS_SIM_STALL_MS"), QStringLiteral("9500"));
        startSim();
        QElapsedTimer since;
        since.start();
        startClient({QStringLiteral("SERVERNAME=127.0.0.1"), QStringLiteral("SERVERPORT=%1").arg(m_port)});
        QString log;
        QVERIFY2(waitForLog(log, QStringLiteral("STATUS: Ansluten")), qPrintable(log));
        const qint64 handshake = since.elapsed();
        QVERIFY2(handshake < 1000, qPrintable(QString::number(handshake)));
        m_sim.write("call 1 Reception\n");
        QTest::qWait(200);
        since.restart();
        terminateClientExpectingOne();
        QVERIFY2(since.elapsed() < 3000, qPrintable(QString::number(since.elapsed())));
        qInfo("handshake %lld ms after start with the service stalled; quit took %lld ms", handshake, since.elapsed());
    }

    void noServerConfiguredIsToldOnOneLine()
    {
        startClient({});
        QString log;
        QVERIFY2(waitForLog(log, QStringLiteral("SYSTEMREGISTER:")), qPrintable(log));
        // Where the desktop would open the dialog, the line says what to set instead.
        QVERIFY2(log.contains(QStringLiteral("INFO: Gå till Systemregistret och ställ in servernamn och serverport. "
                                             "(huvudlöst: ange [ServerSettings] ServerName=... och ServerPort=... i ")),
                 qPrintable(log));
        QVERIFY(log.contains(QStringLiteral(", eller SERVERNAME=... SERVERPORT=... på kommandoraden)\n")));
        // Not the journal: no priority prefix.
        QVERIFY(!log.contains(QRegularExpression(QStringLiteral("^<\\d>"), QRegularExpression::MultilineOption)));
        terminateClientExpectingOne();
    }

    // The box that boots before its server, and a server that stops answering
    // (SIGSTOP: the kernel still accepts and acknowledges).
    void connectsByItselfAndNoticesStoppedServer()
    {
        writeSetting(QStringLiteral("ServerSettings"), QStringLiteral("SuperviseConnection"), QStringLiteral("2"));
        startSim();
        const quint16 port = m_port;
        m_sim.kill();
        m_sim.waitForFinished(3000);
        QElapsedTimer clock;
        clock.start();
        startClient({QStringLiteral("SERVERNAME=127.0.0.1"), QStringLiteral("SERVERPORT=%1").arg(port)});
        QString log;
        QVERIFY2(waitForLog(log, QStringLiteral("-> Nej")), qPrintable(log));
        const QString file = m_dir->filePath("config/Veltaris/")
            + settingsKeyFromFolder(m_dir->path() + QLatin1Char('/')).chopped(1) + QStringLiteral(".ini");
        QVERIFY2(log.contains(QStringLiteral("ange [ServerSettings] ServerName=... och ServerPort=... i ") + file),
                 qPrintable(log));

        QThread::msleep(quint64(qMax<qint64>(0, 5000 - clock.elapsed())));
        startSim(port);
        clock.restart();
        QVERIFY2(waitForLog(log, QStringLiteral("STATUS: Ansluten"), 20000), qPrintable(log));
        qInfo("server up to handshake: %lld ms", clock.elapsed());
        QCOMPARE(log.count(QStringLiteral("FRÅGA:")), 1);

        ::kill(pid_t(m_sim.processId()), SIGSTOP);
        clock.restart();
        // Silence, a settings read the stopped server leaves unanswered (5 s),
        // then the probe's 15 s: well inside the 45 s the README promises.
        QVERIFY2(waitForLog(log, QStringLiteral("VARNING: Servern svarar inte"), 35000), qPrintable(log));
        qInfo("server stopped to loss noticed: %lld ms", clock.elapsed());
        ::kill(pid_t(m_sim.processId()), SIGCONT);
        log.clear();
        QVERIFY2(waitForLog(log, QStringLiteral("STATUS: Ansluten"), 25000), qPrintable(log));
        terminateClientExpectingOne();
    }

    void journalLinesCarryTheirPriority()
    {
        // The journal is recognised by the device and inode of standard error.
        const QString errFile = m_dir->filePath("journal.txt");
        QFile(errFile).open(QIODevice::WriteOnly);
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(errFile).constData(), &st) == 0);
        m_client.setStandardErrorFile(errFile);
        startClient({}, [&](QProcessEnvironment& env) {
            env.insert(QStringLiteral("JOURNAL_STREAM"), QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino));
        });
        const auto journal = [&] {
            QFile f(errFile);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        };
        QTRY_VERIFY_WITH_TIMEOUT(journal().contains(QStringLiteral("SYSTEMREGISTER:")), 8000);
        const QString log = journal();
        QVERIFY2(log.contains(QRegularExpression(QStringLiteral("^<6>[0-9:.]+ TITEL: "), QRegularExpression::MultilineOption)), qPrintable(log));
        QVERIFY2(log.contains(QRegularExpression(QStringLiteral("^<4>[0-9:.]+ INFO: Gå till Systemregistret"), QRegularExpression::MultilineOption)), qPrintable(log));
        QVERIFY2(!log.contains(QRegularExpression(QStringLiteral("^[^<]"), QRegularExpression::MultilineOption)), qPrintable(log));
        terminateClientExpectingOne();
    }

    // The service manager's view: ready, the status line through connect and
    // loss, the watchdog at half its interval, stopping; nothing without a socket.
    void serviceManagerIsNotified()
    {
        NotifySocket notify(m_dir->filePath("notify"));
        QVERIFY(notify.bound());
        startSim();
        const QStringList server{QStringLiteral("SERVERNAME=127.0.0.1"), QStringLiteral("SERVERPORT=%1").arg(m_port)};
        startClient(server, [&](QProcessEnvironment& env) {
            env.insert(QStringLiteral("NOTIFY_SOCKET"), m_dir->filePath("notify"));
            env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("400000"));
        });
        QTRY_VERIFY_WITH_TIMEOUT((notify.drain(), notify.messages.contains(QStringLiteral("STATUS=Ansluten"))), 8000);
        QCOMPARE(notify.count(QStringLiteral("READY=1")), 1);

        const qint64 from = notify.now();
        QTest::qWait(2000);
        notify.drain();
        const auto pings = std::count_if(notify.times.begin(), notify.times.end(), [&](qint64 t) { return t > from; });
        // Every 200 ms: about ten; a ping at the full interval would give five.
        QVERIFY2(pings >= 7 && pings <= 12, qPrintable(QString::number(pings)));

        const auto statusesFrom = [&](qsizetype from) {
            return notify.messages.mid(from).filter(QRegularExpression(QStringLiteral("^STATUS=")));
        };
        const qsizetype beforeDrop = notify.messages.size();
        m_sim.write("drop\n");
        QTRY_VERIFY_WITH_TIMEOUT((notify.drain(), !statusesFrom(beforeDrop).isEmpty()), 5000);
        QVERIFY2(statusesFrom(beforeDrop).first().startsWith(QStringLiteral("STATUS=Ej ansluten - nästa försök om ")),
                 qPrintable(statusesFrom(beforeDrop).first()));
        terminateClientExpectingOne();
        notify.drain();
        const qsizetype stopping = notify.messages.indexOf(QStringLiteral("STOPPING=1"));
        QVERIFY(stopping > 0);
        // The loss handling of the quit itself is no status for systemd.
        QCOMPARE(statusesFrom(stopping), QStringList());

        notify.messages.clear();
        startClient(server, [](QProcessEnvironment& env) { env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("400000")); });
        QString log;
        QVERIFY2(waitForLog(log, QStringLiteral("STATUS: Ansluten")), qPrintable(log));
        QTest::qWait(500);
        notify.drain();
        QCOMPARE(notify.messages, QStringList());
        terminateClientExpectingOne();
    }

    // Under systemd the program the self-update starts must become the
    // service's main process, or systemd kills it with the old one.
    void selfUpdateHandsTheServiceOver()
    {
        const QString pidFile = m_dir->filePath("started.pid");
        // It has to stay up for the old one to give way.
        QByteArray served = "#!/bin/sh\necho $$ > '" + QFile::encodeName(pidFile) + "'\nexec sleep 8\n";
        served += makeVersionBlock({{"FileVersion", "1.10.5.0"}, {"ProductVersion", "1.10.5"}});
        QFile file(m_dir->filePath("served"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(served) == served.size());
        file.close();
        writeSetting(QStringLiteral("CHECKVERSION"), QStringLiteral("quvo-hwclient"), QStringLiteral("1105"));
        NotifySocket notify(m_dir->filePath("notify"));
        QVERIFY(notify.bound());
        startSim(0, {QStringLiteral("--program-file"), file.fileName()});
        startClient({QStringLiteral("SERVERNAME=127.0.0.1"), QStringLiteral("SERVERPORT=%1").arg(m_port)},
                    [&](QProcessEnvironment& env) { env.insert(QStringLiteral("NOTIFY_SOCKET"), m_dir->filePath("notify")); });
        QVERIFY(m_client.waitForFinished(10000));
        QCOMPARE(m_client.exitCode(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidFile) && QFileInfo(pidFile).size() > 0, 5000);
        QFile pid(pidFile);
        QVERIFY(pid.open(QIODevice::ReadOnly));
        const qint64 successor = pid.readAll().trimmed().toLongLong();
        ::kill(pid_t(successor), SIGTERM);
        notify.drain();
        QVERIFY2(notify.messages.contains(QStringLiteral("MAINPID=%1").arg(successor)), qPrintable(notify.messages.join(u'|')));
        QVERIFY(!notify.messages.contains(QStringLiteral("STOPPING=1")));
    }

    void refusedConnectionQuestionIsAnsweredNo()
    {
        startSim();
        const quint16 closedPort = m_port;
        m_sim.kill();
        m_sim.waitForFinished(3000);
        startClient({QStringLiteral("SERVERNAME=127.0.0.1"), QStringLiteral("SERVERPORT=%1").arg(closedPort)});
        QString log;
        QVERIFY2(waitForLog(log, QStringLiteral("-> Nej")), qPrintable(log));
        // Carriage returns of the question become blanks: one line.
        QVERIFY(log.contains(QStringLiteral("FRÅGA: Det gick inte att ansluta till 127.0.0.1 på port %1!  Felkoden är: 10061  "
                                            "Redigera serverinställningarna? -> Nej").arg(closedPort)));
        terminateClientExpectingOne();
    }
};

QTEST_GUILESS_MAIN(HeadlessTest)
#include "tst_headless.moc"
