// The real program, headless, against the vendor's own Telldus Core library
// and its service, built from the source beside the project. There is no
// TellStick here: every switch answers "TellStick not found", as on a box
// whose transmitter is unplugged.
//
// Only one service can run on a machine, so the whole run holds a lock file
// shared with every other checkout, and stops the service it started.
#include "common/Paths.h"
#include "common/SettingsStore.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace quvo;

class RealTelldusTest : public QObject {
    Q_OBJECT

    int m_lock = -1;
    QString m_peer;                       // the built library and service
    qint64 m_service = 0;
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_sim;
    QProcess m_client;
    quint16 m_port = 0;
    QString m_log;

    bool startService()
    {
        QProcess start;
        start.start(QStringLiteral(PEERS_DIR "/telldusd-start.sh"),
                    {m_peer, QStringLiteral(PEERS_DIR "/example-tellstick.conf")});
        if (!start.waitForFinished(20000) || start.exitCode() != 0) {
            qWarning("%s", start.readAllStandardError().constData());
            return false;
        }
        m_service = start.readAllStandardOutput().trimmed().toLongLong();
        return m_service > 0;
    }

    void stopService()
    {
        if (m_service <= 0)
            return;
        ::kill(pid_t(m_service), SIGTERM);
        QElapsedTimer t;
        t.start();
        while (::kill(pid_t(m_service), 0) == 0 && t.elapsed() < 5000)
            QTest::qWait(50);
        if (::kill(pid_t(m_service), 0) == 0)
            ::kill(pid_t(m_service), SIGKILL);
        m_service = 0;
    }

    void startClient()
    {
        SettingsStore store(SettingsLocations{m_dir->filePath("config/Veltaris"), m_dir->filePath("etc/Veltaris")});
        store.setSettingsFolderKey(settingsKeyFromFolder(m_dir->path() + QLatin1Char('/')));
        store.WriteSetting(QStringLiteral("QUVO_HWClient"), QStringLiteral("TellStickDevicename"), QStringLiteral("Kök"));

        m_sim.start(QStringLiteral(SERVER_SIM_PATH), {QStringLiteral("--port"), QStringLiteral("0")});
        QVERIFY(m_sim.waitForReadyRead(5000));
        const QByteArray first = m_sim.readLine().trimmed();
        QVERIFY2(first.startsWith("LISTENING "), first.constData());
        m_port = quint16(first.mid(10).toUInt());

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir->filePath("config"));
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), m_dir->filePath("etc"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir->filePath("data"));
        env.insert(QStringLiteral("QUVO_TELLDUS_LIBRARY"), m_peer + QStringLiteral("/lib/libtelldus-core.so.2"));
        m_client.setProcessEnvironment(env);
        m_client.setWorkingDirectory(m_dir->path());
        m_client.start(QStringLiteral(HWCLIENT_PATH),
                       {QStringLiteral("--headless"), QStringLiteral("SERVERNAME=127.0.0.1"),
                        QStringLiteral("SERVERPORT=%1").arg(m_port)});
        QVERIFY(m_client.waitForStarted(5000));
    }

    bool waitForLog(const QString& text, int ms)
    {
        QElapsedTimer t;
        t.start();
        while (!m_log.contains(text) && t.elapsed() < ms) {
            m_client.waitForReadyRead(50);
            m_log += QString::fromUtf8(m_client.readAllStandardError());
        }
        return m_log.contains(text);
    }

    void call()
    {
        m_sim.write("call 1 Reception\n");
        QVERIFY(m_sim.waitForBytesWritten(2000));
    }

    // The client's share of one core over ms, from its user and system ticks.
    double clientCpu(int ms)
    {
        const auto ticks = [this]() -> long {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(m_client.processId()));
            if (!stat.open(QIODevice::ReadOnly))
                return -1;
            const QByteArray line = stat.readAll();
            const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
            return fields.size() > 12 ? fields[11].toLong() + fields[12].toLong() : -1;
        };
        const long before = ticks();
        QTest::qWait(ms);
        return double(ticks() - before) / double(::sysconf(_SC_CLK_TCK)) / (ms / 1000.0);
    }

    void quitClient()
    {
        m_client.terminate();
        QVERIFY(m_client.waitForFinished(5000));
        QCOMPARE(m_client.exitCode(), 1);
    }

private slots:
    void initTestCase()
    {
        if (!QFileInfo::exists(QStringLiteral(PEERS_DIR "/build-telldus-core.sh")))
            QSKIP("no ../shared/peers beside the project: tests against the real Telldus library skipped");
        m_lock = ::open("/tmp/quvo-telldusd.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        QVERIFY(m_lock >= 0);
        while (::flock(m_lock, LOCK_EX) != 0)
            QVERIFY(errno == EINTR);
        QProcess build;
        build.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        build.start(QStringLiteral(PEERS_DIR "/build-telldus-core.sh"), {QStringLiteral(PEER_BUILD_DIR)});
        QVERIFY(build.waitForFinished(600000));
        QCOMPARE(build.exitCode(), 0);
        m_peer = QString::fromLocal8Bit(build.readAllStandardOutput().trimmed());
        QVERIFY(QFileInfo::exists(m_peer + QStringLiteral("/bin/telldusd")));
    }
    void cleanupTestCase()
    {
        stopService();
        if (m_lock >= 0)
            ::close(m_lock);
    }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_log.clear();
    }
    void cleanup()
    {
        for (QProcess* p : {&m_client, &m_sim}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(3000);
            }
        }
        stopService();
        if (QTest::currentTestFailed())
            qWarning("client log:\n%s", qPrintable(m_log));
        m_dir.reset();
    }

    void utf8NameIsFoundAndAFailedSwitchIsTold()
    {
        QVERIFY(startService());
        startClient();
        QVERIFY2(waitForLog(QStringLiteral("ENHET: Turned Off (grön)"), 10000), qPrintable(m_log));
        QVERIFY(waitForLog(QStringLiteral("STATUS: Ansluten"), 5000));
        call();
        QVERIFY2(waitForLog(QStringLiteral("Enheten kunde inte slås på: TellStick not found (felkod -1)"), 10000),
                 qPrintable(m_log));
        QVERIFY(waitForLog(QStringLiteral("ENHET: Fel: TellStick not found (röd)"), 5000));
        // Retried every 2 s during the call, told once.
        QTest::qWait(4500);
        m_log += QString::fromUtf8(m_client.readAllStandardError());
        QCOMPARE(m_log.count(QStringLiteral("slås på: TellStick not found (felkod -1)")), 1);

        // A restart of the service under the library, as an upgrade does,
        // must not leave the library's thread spinning on the old socket.
        stopService();
        QVERIFY(startService());
        QElapsedTimer t;
        t.start();
        double cpu = 1;
        while (t.elapsed() < 16000 && (cpu = clientCpu(2000)) > 0.05) {
        }
        QVERIFY2(cpu <= 0.05, qPrintable(QString::number(cpu)));
        qInfo("client quiet again %lld ms after the service restarted", t.elapsed());
        quitClient();
    }

    void serviceStartedLateIsFoundAndUsed()
    {
        QElapsedTimer since;
        since.start();
        startClient();
        QVERIFY2(waitForLog(QStringLiteral("STATUS: Ansluten"), 5000), qPrintable(m_log));
        const qint64 handshake = since.elapsed();
        QVERIFY2(handshake < 1000, qPrintable(QString::number(handshake)));

        QVERIFY(waitForLog(QStringLiteral("Could not connect to the Telldus Service (felkod -6)"), 15000));
        QTest::qWait(int(qMax<qint64>(0, 10000 - since.elapsed())));
        QVERIFY(startService());
        const qint64 serviceAt = since.elapsed();
        QVERIFY2(waitForLog(QStringLiteral("ENHET: Turned Off (grön)"), 25000), qPrintable(m_log));
        const qint64 foundAt = since.elapsed();
        call();
        QVERIFY2(waitForLog(QStringLiteral("slås på: TellStick not found (felkod -1)"), 10000), qPrintable(m_log));
        qInfo("handshake %lld ms after start; service started at %lld ms, device found at %lld ms", handshake,
              serviceAt, foundAt);
        quitClient();
    }
};

QTEST_GUILESS_MAIN(RealTelldusTest)
#include "tst_telldus_real.moc"
