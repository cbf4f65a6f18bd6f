// The self-update against the server simulator (and, where the simulator
// cannot send what a case needs, a small in-process server).
//
// Program files are small shell scripts that record which copy ran, its
// working directory and its arguments, with a version block appended after
// their "exit" in the layout the common reader expects (makeVersionBlock):
// the shell never reads past the exit, the reader finds the block anywhere.
#include "common/ClientIdentity.h"
#include "common/Codec.h"
#include "common/CommandLine.h"
#include "common/Paths.h"
#include "common/ProgramState.h"
#include "common/SettingsStore.h"
#include "common/UserInterface.h"
#include "common/VersionInfo.h"
#include "core/ServerConnection.h"
#include "core/UpdateClient.h"
#include "protocol/Frame.h"
#include "protocol/Readers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <functional>
#include <memory>

using namespace quvo;

namespace {

const QString kProgramName = QStringLiteral("quvo-hwclient");
const QString kErrorPrefix = QStringLiteral("Servern svarade med följande fel: ");

struct Balloon {
    QString title, text;
    int kind = 0, hideAfterMs = 0;
    QPoint point;
};

class TestUi : public SilentUserInterface {
public:
    QStringList infos;
    QList<Balloon> balloons;
    QList<qint64> progress;

    // A modal box answered this late (0: at once).
    int modalMs = 0;

    void showBalloon(const QString& title, const QString& text, int kind, int hideAfterMs,
                     const BalloonTarget& target) override
    {
        balloons.append({title, text, kind, hideAfterMs, target.point});
    }

protected:
    void openInfo(const QString& text) override
    {
        infos.append(text);
        if (modalMs > 0) {
            QEventLoop box;
            QTimer::singleShot(modalMs, &box, &QEventLoop::quit);
            box.exec();
        }
    }
    bool openQuestion(const QString& text) override { infos.append(text); return false; }
};

// The simulator as a child process; its stdout lines are kept.
class Sim {
public:
    QProcess proc;
    QStringList lines;
    QList<qint64> times;   // when each line came, ms since the epoch
    quint16 port = 0;

    ~Sim()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(3000);
        }
    }

    bool start(const QStringList& args)
    {
        QObject::connect(&proc, &QProcess::readyReadStandardOutput, [this] { collect(); });
        proc.start(QStringLiteral(QUVO_SERVER_SIM), args);
        if (!proc.waitForStarted(5000))
            return false;
        QElapsedTimer clock;
        clock.start();
        while (port == 0 && clock.elapsed() < 5000) {
            proc.waitForReadyRead(100);
            for (const QString& l : std::as_const(lines))
                if (l.startsWith(QLatin1String("LISTENING ")))
                    port = quint16(l.mid(10).toUInt());
        }
        return port != 0;
    }
    void command(const QString& line) { proc.write(line.toUtf8() + '\n'); }
    bool saw(const QString& part) const { return count(part) > 0; }
    int count(const QString& part) const
    {
        int n = 0;
        for (const QString& l : lines)
            n += l.contains(part);
        return n;
    }
    // When the n-th line with `part` came; -1 when there is none.
    qint64 timeOf(const QString& part, int n = 1) const
    {
        for (qsizetype i = 0; i < lines.size(); ++i)
            if (lines[i].contains(part) && --n == 0)
                return times[i];
        return -1;
    }

private:
    void collect()
    {
        m_partial += proc.readAllStandardOutput();
        for (qsizetype nl = m_partial.indexOf('\n'); nl >= 0; nl = m_partial.indexOf('\n')) {
            lines << QString::fromUtf8(m_partial.left(nl));
            times << QDateTime::currentMSecsSinceEpoch();
            m_partial.remove(0, nl + 1);
        }
    }
    QByteArray m_partial;
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

// The process that runs the given program file; 0 when there is none.
[[maybe_unused]] qint64 processRunning(const QString& programFile)
{
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        bool number = false;
        const qint64 id = pid.toLongLong(&number);
        if (number && QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() == programFile)
            return id;
    }
    return 0;
}

#if defined(QUVO_SYSTEMD_USER_MANAGER)
const QString kUnit = QStringLiteral("quvo-hwclient.service");

// A systemd user manager of this test's own, in a mount namespace of its own;
// stopped with what it runs.
class UserManager {
public:
    explicit UserManager(QString dir) : m_dir(std::move(dir)) {}
    ~UserManager()
    {
        if (m_pid > 0) {
            ctl({QStringLiteral("stop"), kUnit});
            tool({QStringLiteral("stop"), m_dir});
        }
    }
    const QString& dir() const { return m_dir; }

    bool start()
    {
        m_pid = tool({QStringLiteral("start"), m_dir}).trimmed().toLongLong();
        if (m_pid <= 0)
            return false;
        // ProtectHome= hides folders behind these nodes; only the manager of a
        // booted system makes them, and the namespace has a /run/systemd of its own.
        return QProcess::execute(QStringLiteral("nsenter"),
                                 {QStringLiteral("-t"), QString::number(m_pid), QStringLiteral("-m"),
                                  QStringLiteral("sh"), QStringLiteral("-c"),
                                  QStringLiteral("cd /run/systemd && mkdir -p inaccessible/dir && "
                                                 "touch inaccessible/reg && chmod 0 inaccessible/*")})
            == 0;
    }
    QString ctl(const QStringList& args, int* exitCode = nullptr) const
    {
        return tool(QStringList{QStringLiteral("ctl"), m_dir} + args, exitCode);
    }
    // What monitoring reads of the service.
    struct Service {
        qint64 pid = 0;
        QString program, status, restarts, state;
        QString text() const
        {
            return QStringLiteral("MainPID=%1 (%2) StatusText=\"%3\" NRestarts=%4 ActiveState=%5")
                .arg(QString::number(pid), program, status, restarts, state);
        }
    };
    Service service() const
    {
        QMap<QString, QString> p;
        const QStringList lines = ctl({QStringLiteral("show"), QStringLiteral("-p"),
                                       QStringLiteral("MainPID,StatusText,NRestarts,ActiveState"), kUnit})
                                      .split(u'\n');
        for (const QString& line : lines)
            p.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
        Service s;
        s.pid = p.value(QStringLiteral("MainPID")).toLongLong();
        s.program = QFileInfo(QStringLiteral("/proc/%1/exe").arg(s.pid)).symLinkTarget();
        s.status = p.value(QStringLiteral("StatusText"));
        s.restarts = p.value(QStringLiteral("NRestarts"));
        s.state = p.value(QStringLiteral("ActiveState"));
        return s;
    }

private:
    static QString tool(const QStringList& args, int* exitCode = nullptr)
    {
        QProcess p;
        p.start(QStringLiteral("bash"), QStringList{QStringLiteral(QUVO_SYSTEMD_USER_MANAGER)} + args);
        const bool done = p.waitForFinished(60000);
        if (exitCode)
            *exitCode = done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    }

    QString m_dir;
    qint64 m_pid = 0;
};

// Asks until `done` holds, at most `ms` by the clock; true when it held in time.
bool within(int ms, const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const bool late = clock.elapsed() > ms;
        if (done())
            return !late;
        if (late)
            return false;
        QTest::qWait(100);
    }
}
#endif

quint16 closedPort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    const quint16 port = s.serverPort();
    s.close();
    return port;
}

} // namespace

class TestUpdate : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ProgramState> m_state;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<ClientIdentity> m_identity;
    std::unique_ptr<TestUi> m_ui;
    std::unique_ptr<ServerConnection> m_main;
    std::unique_ptr<UpdateClient> m_client;
    QString m_record;      // what the started program wrote
    QString m_served;      // the file the simulator serves
    quint16 m_updatePort = 0;

    QString updateCopy() const { return m_state->paths.UpdateFolder + kProgramName; }

    // A program file: a script that records itself, then its version block.
    // It stays up a while (past the start watch) unless `ends` says otherwise.
    QByteArray program(const QByteArray& variant, const QByteArray& version, const QByteArray& filler = {},
                       bool ends = false)
    {
        const QByteArray rec = QFile::encodeName(m_record);
        QByteArray s = "#!/bin/sh\n{ echo " + variant + "; pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > '"
                       + rec + ".tmp'\nmv '" + rec + ".tmp' '" + rec + "'\n"
                       + (ends ? "exit 127\n" : "sleep 2\nexit 0\n");
        s += filler;
        if (!version.isEmpty())
            s += makeVersionBlock({{"FileVersion", version + ".0"}, {"ProductVersion", version}});
        return s;
    }

    void wantVersion(const QString& wanted)
    {
        m_settings->WriteSetting(QStringLiteral("CHECKVERSION"), kProgramName, wanted);
    }

    void useEndpoint(quint16 port)
    {
        m_updatePort = port;
        m_client->setMainEndpointSource([this] {
            return UpdateClient::MainEndpoint{QString(), QStringLiteral("127.0.0.1"), m_updatePort};
        });
    }

    bool startSim(Sim& sim, const QStringList& extra = {})
    {
        QStringList args{QStringLiteral("--program-file"), m_served};
        args << extra;
        if (!sim.start(args))
            return false;
        useEndpoint(sim.port);
        return true;
    }

    // One check to its end, on the event loop as in the program: 1 when the
    // new program runs and this instance must end, 0 when it goes on, -1
    // when no end was reported.
    int runCheck(int timeoutMs = 15000)
    {
        QSignalSpy finished(m_client.get(), &UpdateClient::checkFinished);
        m_client->RunUpdateCheck();
        if (!finished.wait(timeoutMs) || finished.size() != 1)
            return -1;
        // What the check had to say may still be on its way.
        QCoreApplication::processEvents();
        return finished.first().first().toBool() ? 1 : 0;
    }

    // The main connection and the check as the program wires them.
    void wireMain()
    {
        m_main->setUpdateCheck([this] { m_client->RunUpdateCheck(); });
        connect(m_client.get(), &UpdateClient::checkFinished, m_main.get(), &ServerConnection::updateCheckFinished);
    }

    QStringList recordLines() const
    {
        return QString::fromUtf8(readAll(m_record)).split(u'\n', Qt::SkipEmptyParts);
    }

    QStringList updateFolderEntries() const
    {
        return QDir(m_state->paths.UpdateFolder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    void expectStarted(const QString& variant)
    {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_record), 5000);
        const QStringList lines = recordLines();
        QCOMPARE(lines.value(0), variant);
        QCOMPARE(QDir(lines.value(1)).canonicalPath(), QDir(m_state->paths.ProgramFolder).canonicalPath());
        QCOMPARE(lines.mid(2), (QStringList{QStringLiteral("RESTARTING=1"), QStringLiteral("NAME=Reception 2"),
                                            QStringLiteral("PLACE=Hall")}));
        const QFile::Permissions perms = QFileInfo(updateCopy()).permissions();
        QVERIFY(perms & QFile::ExeOwner);
        QVERIFY(!(perms & (QFile::WriteGroup | QFile::WriteOther)));
    }

    // After the check has ended: nothing was even tried, so nothing can still come.
    void expectNotStarted()
    {
        QCOMPARE(m_client->programStartsTried(), 0);
        QVERIFY2(!QFile::exists(m_record), "a program was started");
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        const QString root = m_dir->path();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/config")));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(root + QStringLiteral("/machine")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/data")));

        m_state = std::make_unique<ProgramState>();
        m_state->paths.ProgramFolder = root + QStringLiteral("/work/");
        m_state->paths.SettingsFolderKey = settingsKeyFromFolder(m_state->paths.ProgramFolder);
        m_state->paths.UpdateFolder = root + QStringLiteral("/data/Veltaris/QUVO/");
        m_state->programFilePath = root + QStringLiteral("/install/") + kProgramName;
        m_state->commandLine = CommandLine({QStringLiteral("NAME=Reception 2"), QStringLiteral("PLACE=Hall")});
        QVERIFY(QDir().mkpath(m_state->paths.ProgramFolder));
        QVERIFY(QDir().mkpath(m_state->paths.UpdateFolder));
        QVERIFY(QDir().mkpath(root + QStringLiteral("/install")));
        m_record = root + QStringLiteral("/started.txt");
        m_served = root + QStringLiteral("/served");
        QVERIFY(writeFile(m_state->programFilePath, program("own", "1.10.4")));

        m_settings = std::make_unique<SettingsStore>(SettingsLocations::fromEnvironment());
        m_settings->setSettingsFolderKey(m_state->paths.SettingsFolderKey);
        m_settings->setIniWaitMs(1000);
        m_identity = std::make_unique<ClientIdentity>(*m_settings, int(ctHardware));
        m_identity->setEnvironmentReader([](const char*) { return QString(); });
        m_identity->setHostNameSource([] { return QStringLiteral("testhost"); });
        m_settings->setComputerNameSource([this] { return m_identity->GetClientComputerName(); });
        m_ui = std::make_unique<TestUi>();
        m_main = std::make_unique<ServerConnection>(*m_state, *m_settings, *m_identity, *m_ui);
        m_client = std::make_unique<UpdateClient>(*m_state, *m_settings, *m_identity, *m_ui, *m_main);
        connect(m_client.get(), &UpdateClient::downloadProgress, this,
                [this](qint64 bytes) { m_ui->progress.append(bytes); });
        m_client->setWaits(1500, 2000, 4000);
        m_client->setStartWatch(300);
        m_client->setScreenCentreSource([] { return QPoint(640, 400); });
    }

    void cleanup()
    {
        m_client.reset();
        m_main.reset();
        m_ui.reset();
        m_identity.reset();
        m_settings.reset();
        m_state.reset();
        m_dir.reset();
    }

    // ------------------------------------------------------------ no update

    void noUpdateWhenNotWanted_data()
    {
        QTest::addColumn<QString>("wanted");
        QTest::newRow("setting missing") << QString();
        QTest::newRow("same as own") << QStringLiteral("1104");
        QTest::newRow("older than own") << QStringLiteral("1103");
        QTest::newRow("not a number") << QStringLiteral("1.10.5");
    }
    void noUpdateWhenNotWanted()
    {
        QFETCH(QString, wanted);
        QVERIFY(writeFile(m_served, program("served", "1.10.9")));
        Sim sim;
        QVERIFY(startSim(sim));
        if (!wanted.isEmpty())
            wantVersion(wanted);

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runCheck(), 0);
        QVERIFY2(clock.elapsed() < 1000, "the check waited although nothing was to be done");
        QCOMPARE(m_client->UpdateState(), int(UpdateClient::StateCurrent));
        // The version answer still arrives on the open update connection.
        QTRY_COMPARE_WITH_TIMEOUT(m_state->UpdateServerVersionText, QStringLiteral("1.10.4"), 3000);
        QVERIFY(sim.saw(QStringLiteral("GETSERVERVERSION:TESTHOST_Hardware:3:")));
        QVERIFY(!sim.saw(QStringLiteral("GETNEWCLIENT")));
        QVERIFY(m_ui->infos.isEmpty());
        QVERIFY(updateFolderEntries().isEmpty());
        expectNotStarted();
    }

    // --------------------------------------------------------- waiting copy

    void waitingCopyOfWantedVersionStartedAtOnce()
    {
        QVERIFY(writeFile(m_served, program("served", "1.10.5")));
        QVERIFY(writeFile(updateCopy(), program("waiting", "1.10.5")));
        QVERIFY(QFile::setPermissions(updateCopy(), QFile::ReadOwner | QFile::WriteOwner | QFile::WriteOther
                                                        | QFile::ReadOther));
        Sim sim;
        QVERIFY(startSim(sim));
        wantVersion(QStringLiteral("1105"));

        QCOMPARE(runCheck(), 1);
        QCOMPARE(m_client->UpdateState(), int(UpdateClient::StateUpdating));
        expectStarted(QStringLiteral("waiting"));
        QTest::qWait(100);
        QVERIFY(!sim.saw(QStringLiteral("GETNEWCLIENT")));
        QVERIFY(m_ui->infos.isEmpty());
    }

    // ------------------------------------------------------------ download

    void downloadInManyPiecesStoredAndStarted()
    {
        // Runs of blanks and control bytes (whole pieces of them at this piece
        // size) and a lone end marker inside the file are file bytes.
        QByteArray filler = "# " + QByteArray(300, ' ') + "\n";
        for (int i = 0; i < 40; ++i)
            filler += QByteArray(13, char(i % 33));
        filler += "\n# #DATAEND# inside the file\n";
        filler += QByteArray(4000, 'x') + "\n";
        const QByteArray served = program("served", "1.10.5", filler);
        QVERIFY(writeFile(m_served, served));
        QVERIFY(writeFile(updateCopy(), program("waiting", "1.10.3")));
        Sim sim;
        QVERIFY(startSim(sim, {QStringLiteral("--chunk-size"), QStringLiteral("13"), QStringLiteral("--chunk-interval"),
                               QStringLiteral("0")}));
        wantVersion(QStringLiteral("1105"));

        QCOMPARE(runCheck(), 1);
        QVERIFY(m_client->UpdateRestarting());
        QVERIFY(sim.saw(QStringLiteral("GETNEWCLIENT:quvo-hwclient:TESTHOST_Hardware:3:")));
        QCOMPARE(readAll(updateCopy()), served);
        QCOMPARE(updateFolderEntries(), QStringList{kProgramName});
        expectStarted(QStringLiteral("served"));
        // Progress in bytes, growing, ending at the file's size, not once per piece.
        QVERIFY(!m_ui->progress.isEmpty());
        QCOMPARE(m_ui->progress.last(), qint64(served.size()));
        QVERIFY(std::is_sorted(m_ui->progress.begin(), m_ui->progress.end()));
        QVERIFY(m_ui->progress.size() < served.size() / 13);
        QVERIFY(m_ui->infos.isEmpty());
    }

    void cutDownloadKeepsOldCopy()
    {
        const QByteArray old = program("waiting", "1.10.3");
        QVERIFY(writeFile(updateCopy(), old));
        QVERIFY(writeFile(m_served, program("served", "1.10.5", QByteArray(3000, 'y'))));
        Sim sim;
        QVERIFY(startSim(sim, {QStringLiteral("--update-mode"), QStringLiteral("cut")}));
        m_client->setWaits(1500, 2000, 700);
        wantVersion(QStringLiteral("1105"));

        QCOMPARE(runCheck(), 0);
        QVERIFY(m_client->UpdateWaitExpired());
        QCOMPARE(readAll(updateCopy()), old);
        QCOMPARE(updateFolderEntries(), QStringList{kProgramName});
        QVERIFY(m_ui->infos.isEmpty());
        expectNotStarted();
    }

    void fileBelowWantedVersionNotStarted_data()
    {
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<QString>("message");
        QTest::newRow("older") << QByteArray("1.10.4")
                               << QStringLiteral("Den nedladdade versionen av programmet (1.10.4) är äldre än den "
                                                 "begärda (1105) och startas därför inte.");
        QTest::newRow("no block") << QByteArray()
                                  << QStringLiteral("Den nedladdade versionen av programmet saknar "
                                                    "versionsinformation och startas därför inte.");
    }
    void fileBelowWantedVersionNotStarted()
    {
        QFETCH(QByteArray, version);
        QFETCH(QString, message);
        const QByteArray old = program("waiting", "1.10.3");
        QVERIFY(writeFile(updateCopy(), old));
        QVERIFY(writeFile(m_served, program("served", version)));
        Sim sim;
        QVERIFY(startSim(sim));
        wantVersion(QStringLiteral("1105"));

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runCheck(), 0);
        QVERIFY2(clock.elapsed() < 3000, "a refused file must end the check, not its timer");
        QCOMPARE(m_ui->infos, QStringList{message});
        QCOMPARE(readAll(updateCopy()), old);
        QCOMPARE(updateFolderEntries(), QStringList{kProgramName});
        expectNotStarted();
    }

    void newerThanWantedIsStarted()
    {
        QVERIFY(writeFile(m_served, program("served", "1.11.0")));
        Sim sim;
        QVERIFY(startSim(sim));
        wantVersion(QStringLiteral("1105"));
        QCOMPARE(runCheck(), 1);
        expectStarted(QStringLiteral("served"));
    }

    // What a download stopped with its process left goes at the next
    // download; a file that may belong to one running now stays.
    void leftoverTemporaryFileRemoved()
    {
        const QString stale = m_state->paths.UpdateFolder + kProgramName + QStringLiteral(".Ab12Cd.part");
        const QString fresh = kProgramName + QStringLiteral(".Ef34Gh.part");
        QVERIFY(writeFile(stale, "half"));
        QVERIFY(writeFile(m_state->paths.UpdateFolder + fresh, "half"));
        QFile old(stale);
        QVERIFY(old.open(QIODevice::ReadWrite));
        QVERIFY(old.setFileTime(QDateTime::currentDateTimeUtc().addDays(-1), QFileDevice::FileModificationTime));
        old.close();
        QVERIFY(writeFile(m_served, program("served", "1.10.5")));
        Sim sim;
        QVERIFY(startSim(sim));
        wantVersion(QStringLiteral("1105"));

        QCOMPARE(runCheck(), 1);
        QCOMPARE(updateFolderEntries(), (QStringList{kProgramName, fresh}));
    }

    // The waiting copy ends at once: it is fetched anew. The fetched one ends
    // at once too: the person is told, and this instance goes on.
    void programEndingAtOnceLeavesThisOneRunning()
    {
        QVERIFY(writeFile(updateCopy(), program("waiting", "1.10.5", {}, true)));
        QVERIFY(writeFile(m_served, program("served", "1.10.5", {}, true)));
        Sim sim;
        QVERIFY(startSim(sim));
        wantVersion(QStringLiteral("1105"));

        QCOMPARE(runCheck(), 0);
        QVERIFY(sim.saw(QStringLiteral("GETNEWCLIENT:quvo-hwclient:")));
        QCOMPARE(recordLines().value(0), QStringLiteral("served"));
        const QString ended =
            QStringLiteral("Den nya versionen av programmet avslutades direkt efter starten:\r\r") + updateCopy();
        QCOMPARE(m_ui->infos, (QStringList{ended, ended}));
        QVERIFY(!m_client->UpdateRestarting());
    }

    void downloadOverLimitDropped()
    {
        const QByteArray old = program("waiting", "1.10.3");
        QVERIFY(writeFile(updateCopy(), old));
        QVERIFY(writeFile(m_served, program("served", "1.10.5", QByteArray(5000, 'z'))));
        Sim sim;
        QVERIFY(startSim(sim, {QStringLiteral("--chunk-size"), QStringLiteral("512")}));
        m_client->setWaits(1500, 2000, 700);
        m_client->setDownloadLimit(2048);
        wantVersion(QStringLiteral("1105"));

        QCOMPARE(runCheck(), 0);
        QVERIFY(m_client->UpdateWaitExpired());
        QCOMPARE(m_ui->infos.size(), 1);
        QVERIFY(m_ui->infos.first().startsWith(QStringLiteral("Den nya versionen av programmet är större än")));
        QCOMPARE(readAll(updateCopy()), old);
        QCOMPARE(updateFolderEntries(), QStringList{kProgramName});
        expectNotStarted();
    }

    void unwritableUpdateFolderReported()
    {
        QVERIFY(writeFile(m_served, program("served", "1.10.5")));
        // A file where the folder should be: nothing can be created in it.
        const QString blocked = m_dir->path() + QStringLiteral("/blocked");
        QVERIFY(writeFile(blocked, "x"));
        m_state->paths.UpdateFolder = blocked + QStringLiteral("/");
        Sim sim;
        QVERIFY(startSim(sim));
        wantVersion(QStringLiteral("1105"));

        QCOMPARE(runCheck(), 0);
        QVERIFY(m_client->UpdateSaveFailed());
        QCOMPARE(m_ui->infos,
                 QStringList{QStringLiteral("Det fanns en ny version tillgänglig. Den gick dock inte att spara ner i "
                                            "katalogen \r")
                             + m_state->paths.UpdateFolder + QStringLiteral("!")});
        expectNotStarted();
    }

    // ----------------------------------------------------------- the server

    void serverErrorShown()
    {
        QVERIFY(writeFile(m_served, program("served", "1.10.5")));
        Sim sim;
        QVERIFY(startSim(sim, {QStringLiteral("--update-mode"), QStringLiteral("error")}));
        m_client->setWaits(1500, 2000, 500);
        wantVersion(QStringLiteral("1105"));

        QCOMPARE(runCheck(), 0);
        QCOMPARE(m_ui->infos, QStringList{kErrorPrefix + QStringLiteral("17 Filen saknas")});
        expectNotStarted();
    }

    void unknownClientErrorSilent()
    {
        QVERIFY(writeFile(m_served, program("served", "1.10.5")));
        Sim sim;
        QVERIFY(startSim(sim));
        sim.command(QStringLiteral("unknown TESTHOST_Hardware on"));
        QTRY_VERIFY_WITH_TIMEOUT(sim.saw(QStringLiteral("unknown TESTHOST_Hardware on")), 3000);
        m_client->setWaits(1500, 2000, 500);
        wantVersion(QStringLiteral("1105"));

        QCOMPARE(runCheck(), 0);
        QVERIFY(sim.saw(QStringLiteral("ERROR: 001")));
        QVERIFY(m_ui->infos.isEmpty());
        expectNotStarted();
    }

    void quittingStopsTheCheck()
    {
        QVERIFY(writeFile(m_served, program("served", "1.10.5")));
        Sim sim;
        QVERIFY(startSim(sim, {QStringLiteral("--update-mode"), QStringLiteral("silent")}));
        m_client->setWaits(1500, 2000, 5000);
        wantVersion(QStringLiteral("1105"));

        // The quit comes while the check waits for the file: nothing of the
        // check may go on or report afterwards.
        QSignalSpy finished(m_client.get(), &UpdateClient::checkFinished);
        m_client->RunUpdateCheck();
        QTRY_VERIFY_WITH_TIMEOUT(sim.saw(QStringLiteral("GETNEWCLIENT")), 3000);
        m_client->cancel();
        QVERIFY(!m_client->checking());
        QCOMPARE(m_client->updateSocket().state(), QAbstractSocket::UnconnectedState);
        expectNotStarted();
        QVERIFY(finished.isEmpty());
    }

    void unreachableServerEndsAfterConnectWait()
    {
        useEndpoint(closedPort());
        m_client->setWaits(400, 2000, 4000);
        wantVersion(QStringLiteral("1105"));

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runCheck(), 0);
        const qint64 took = clock.elapsed();
        QVERIFY2(took >= 350 && took < 2000, qPrintable(QString::number(took)));
        QVERIFY(m_client->UpdateWaitExpired());
        QCOMPARE(m_client->UpdateState(), int(UpdateClient::StateWaiting));
        QCOMPARE(m_ui->balloons.size(), 1);
        const Balloon b = m_ui->balloons.first();
        QCOMPARE(b.title, QStringLiteral("Information"));
        QCOMPARE(b.text, QStringLiteral("Error in UpdateSocket: %1").arg(int(QAbstractSocket::ConnectionRefusedError)));
        QCOMPARE(b.kind, 2);
        QCOMPARE(b.hideAfterMs, 5000);
        QCOMPARE(b.point, QPoint(640, 400));
        QVERIFY(m_ui->infos.isEmpty());
    }

    // A server that answers both requests in one write: the version answer
    // and the whole file block arrive in a single read.
    void wholeBlockInOneReadStored()
    {
        const QByteArray file = program("served", "1.10.6", QByteArray(2000, 'q'));
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QByteArray received;
        QTcpSocket* peer = nullptr;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            peer = server.nextPendingConnection();
            connect(peer, &QTcpSocket::readyRead, this, [&] {
                received += peer->readAll();
                if (received.contains("GETNEWCLIENT:quvo-hwclient:") && received.endsWith(toWire(QStringLiteral("GETNEWCLIENT¤"))))
                    peer->write(toWire(QStringLiteral("¤RETSERVERVERSION:2.1.0:RETSERVERVERSION¤#DATASTART#¤RETNEWCLIENT:"))
                                + file + toWire(QStringLiteral(":RETNEWCLIENT¤#DATAEND#")));
            });
        });
        useEndpoint(server.serverPort());
        wantVersion(QStringLiteral("1106"));

        QCOMPARE(runCheck(), 1);
        QCOMPARE(m_state->UpdateServerVersionText, QStringLiteral("2.1.0"));
        QCOMPARE(readAll(updateCopy()), file);
        expectStarted(QStringLiteral("served"));
    }

    // The defaults come from the main connection, and the update server's
    // address from the server's own settings.
    void updateServerFromMainConnectionSettings()
    {
        QVERIFY(writeFile(m_served, program("served", "1.10.5")));
        Sim mainSim;
        QVERIFY(mainSim.start({}));
        Sim updateSim;
        QVERIFY(updateSim.start({QStringLiteral("--program-file"), m_served}));

        // The server holds the update server's port for every client.
        QTcpSocket admin;
        admin.connectToHost(QHostAddress::LocalHost, mainSim.port);
        QVERIFY(admin.waitForConnected(3000));
        admin.write(toWire(QStringLiteral("¤SETINITEXT:ServerSettings:UpdateServerPort:%1:SETINITEXT¤")
                               .arg(updateSim.port)));
        QVERIFY(admin.waitForBytesWritten(3000));
        QTRY_VERIFY_WITH_TIMEOUT(mainSim.saw(QStringLiteral("SETINITEXT:ServerSettings:UpdateServerPort")), 3000);

        m_settings->WriteSetting(QStringLiteral("ServerSettings"), QStringLiteral("ServerName"),
                                 QStringLiteral("127.0.0.1"));
        m_settings->WriteSetting(QStringLiteral("ServerSettings"), QStringLiteral("ServerPort"),
                                 QString::number(mainSim.port));
        wantVersion(QStringLiteral("1105"));

        // The main connection as the program wires it.
        m_settings->setServerLink(m_main.get());
        m_main->setTextHandler([this](protocol::Unit&& unit) {
            for (const protocol::Token& t : unit.tokens)
                if (t.kind == protocol::TokenKind::Frame && unit.tag(t) == "RETINITEXT")
                    m_settings->deliverIniReply(fromWire(protocol::readIniText(unit.frameCopy(t))));
        });
        wireMain();
        QSignalSpy quit(m_main.get(), &ServerConnection::quitRequested);
        m_main->ConnectToServer(false);

        QVERIFY(quit.wait(10000));
        QVERIFY(updateSim.saw(QStringLiteral("GETNEWCLIENT:quvo-hwclient:TESTHOST_Hardware:3:")));
        QVERIFY(!mainSim.saw(QStringLiteral("GETNEWCLIENT")));
        expectStarted(QStringLiteral("served"));
    }

    // -------------------------------------------- the check and the handshake

    void useMainServer(quint16 port)
    {
        m_settings->WriteSetting(QStringLiteral("ServerSettings"), QStringLiteral("ServerName"),
                                 QStringLiteral("127.0.0.1"));
        m_settings->WriteSetting(QStringLiteral("ServerSettings"), QStringLiteral("ServerPort"), QString::number(port));
    }

    // Boxes nobody answers for a while, one opened by the check's error
    // answer and one by something else while the check waits: the handshake
    // goes out within the check's own timers all the same.
    void unansweredBoxesDoNotHoldTheHandshake()
    {
        Sim mainSim;
        QVERIFY(mainSim.start({}));
        Sim updateSim;
        QVERIFY(updateSim.start({QStringLiteral("--update-mode"), QStringLiteral("error")}));
        useEndpoint(updateSim.port);
        useMainServer(mainSim.port);
        wantVersion(QStringLiteral("1105"));
        m_client->setWaits(1500, 2000, 500);
        m_ui->modalMs = 4000;
        wireMain();
        QTimer other;
        connect(&other, &QTimer::timeout, this, [&] {
            if (updateSim.saw(QStringLiteral("GETNEWCLIENT"))) {
                other.stop();
                m_ui->showInfo(QStringLiteral("Annan ruta"));
            }
        });
        other.start(10);

        const qint64 start = QDateTime::currentMSecsSinceEpoch();
        m_main->ConnectToServer(false);
        QTRY_VERIFY_WITH_TIMEOUT(mainSim.saw(QStringLiteral("GETSERVERVERSION:TESTHOST")), 15000);
        const qint64 took = mainSim.timeOf(QStringLiteral("GETSERVERVERSION:TESTHOST")) - start;
        QVERIFY2(took < 2500, qPrintable(QStringLiteral("handshake after %1 ms").arg(took)));
        QTRY_COMPARE_WITH_TIMEOUT(m_ui->infos.size(), 2, 10000);
        QVERIFY(m_ui->infos.contains(kErrorPrefix + QStringLiteral("17 Filen saknas")));
    }

    // "Spara" on the server page while a check runs: the new connection's
    // check follows the running one, and the handshake goes out once.
    void checkAskedForDuringACheckFollowsIt()
    {
        Sim mainSim;
        QVERIFY(mainSim.start({}));
        Sim updateSim;
        QVERIFY(updateSim.start({QStringLiteral("--update-mode"), QStringLiteral("silent")}));
        useEndpoint(updateSim.port);
        useMainServer(mainSim.port);
        wantVersion(QStringLiteral("1105"));
        m_client->setWaits(1500, 2000, 600);
        wireMain();

        m_main->ConnectToServer(false);
        QTRY_VERIFY_WITH_TIMEOUT(updateSim.saw(QStringLiteral("GETNEWCLIENT")), 5000);
        m_state->UpdateCheckPending = true;
        m_main->ConnectToServer(false);

        QTRY_COMPARE_WITH_TIMEOUT(updateSim.count(QStringLiteral("GETNEWCLIENT")), 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(mainSim.count(QStringLiteral("GETSERVERVERSION:TESTHOST")), 1, 5000);
        QVERIFY(mainSim.timeOf(QStringLiteral("GETSERVERVERSION:TESTHOST"))
                >= updateSim.timeOf(QStringLiteral("GETNEWCLIENT"), 2) + 500);
        QTest::qWait(300);
        QCOMPARE(mainSim.count(QStringLiteral("GETSERVERVERSION:TESTHOST")), 1);
        QVERIFY(!m_client->checking());
    }

    // ------------------------------------------------- the installed program

#if defined(QUVO_CMAKE_COMMAND) && defined(QUVO_BUILD_DIR) && defined(QUVO_OBJCOPY)
    // The build installed below the test folder, and the simulator serving
    // its program with the version block one higher, in one piece.
    void serveNextVersion(Sim& sim, QString& installed, QString& next)
    {
        const QString root = m_dir->path();
        const QString prefix = root + QStringLiteral("/prefix");
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(QStringLiteral(QUVO_CMAKE_COMMAND),
                      {QStringLiteral("--install"), QStringLiteral(QUVO_BUILD_DIR), QStringLiteral("--prefix"), prefix});
        QVERIFY(install.waitForFinished(60000));
        QVERIFY2(install.exitCode() == 0, install.readAll().constData());
        installed = prefix + QStringLiteral("/bin/") + kProgramName;
        QVERIFY(QFileInfo(installed).isExecutable());

        // The served file: the installed one with its version block one higher.
        const TCEVersionInfo own(installed);
        QVERIFY(own.valid);
        QStringList parts = own.ProductVersion.split(u'.');
        parts.last() = QString::number(parts.last().toInt() + 1);
        next = parts.join(u'.');
        const QString oldBlock = root + QStringLiteral("/block.old");
        const QString newBlock = root + QStringLiteral("/block.new");
        const auto objcopy = [](const QStringList& args) {
            QProcess p;
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.start(QStringLiteral(QUVO_OBJCOPY), args);
            return p.waitForFinished(30000) && p.exitCode() == 0;
        };
        QVERIFY(objcopy({QStringLiteral("--dump-section"), QStringLiteral(".quvo_version=") + oldBlock, installed}));
        const QByteArray block = readAll(oldBlock);
        QByteArray bumped = block;
        bumped.replace("ProductVersion=" + own.ProductVersion.toUtf8() + '\0', "ProductVersion=" + next.toUtf8() + '\0');
        bumped.replace("FileVersion=" + own.ProductVersion.toUtf8() + '.', "FileVersion=" + next.toUtf8() + '.');
        QVERIFY2(bumped.size() <= block.size(), "the higher version does not fit the block");
        bumped.append(QByteArray(block.size() - bumped.size(), '\0'));
        QVERIFY(writeFile(newBlock, bumped));
        QVERIFY(objcopy({QStringLiteral("--update-section"), QStringLiteral(".quvo_version=") + newBlock, installed,
                         m_served}));
        QCOMPARE(TCEVersionInfo(m_served).ProductVersion, next);
        QVERIFY(sim.start({QStringLiteral("--program-file"), m_served, QStringLiteral("--chunk-size"),
                           QStringLiteral("65536"), QStringLiteral("--chunk-interval"), QStringLiteral("0")}));
    }
#endif

    // The installed program, headless and without a display, updates itself
    // from the simulator: the old one ends with exit code 1, the new one runs
    // from the update folder, where nothing of the installation is around it,
    // and completes a handshake.
    void installedHeadlessClientUpdatesItself()
    {
#if !defined(QUVO_CMAKE_COMMAND) || !defined(QUVO_BUILD_DIR) || !defined(QUVO_OBJCOPY)
        QSKIP("built without the installation test");
#else
        const QString root = m_dir->path();
        QString installed;
        QString next;
        Sim sim;
        serveNextVersion(sim, installed, next);
        if (QTest::currentTestFailed())
            return;
        // The settings of the folder the program runs in.
        const QString work = QFileInfo(m_state->paths.ProgramFolder).canonicalFilePath() + u'/';
        m_settings->setSettingsFolderKey(settingsKeyFromFolder(work));
        wantVersion(QString::number(VersionNumber(next)));

        QProcess old;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("QUVO_TELLDUS_LIBRARY"), root + QStringLiteral("/no-telldus.so"));
        old.setProcessEnvironment(env);
        old.setWorkingDirectory(work);
        // The new program inherits these; a pipe would close under it when the old one ends.
        const QString log = root + QStringLiteral("/client.log");
        old.setStandardInputFile(QProcess::nullDevice());
        old.setStandardOutputFile(QProcess::nullDevice());
        old.setStandardErrorFile(log);
        old.start(installed, {QStringLiteral("--headless"), QStringLiteral("SERVERNAME=127.0.0.1"),
                              QStringLiteral("SERVERPORT=%1").arg(sim.port), QStringLiteral("NAME=Reception 2")});
        QVERIFY(old.waitForStarted(5000));
        QVERIFY2(old.waitForFinished(30000), "the old program did not end");
        QCOMPARE(old.exitStatus(), QProcess::NormalExit);
        QCOMPARE(old.exitCode(), 1);

        // The new one: its own process, running the copy in the update folder.
        const QString copy = QFileInfo(updateCopy()).canonicalFilePath();
        QVERIFY(!copy.isEmpty());
        qint64 pid = 0;
        QTRY_VERIFY_WITH_TIMEOUT((pid = processRunning(copy)) > 0, 5000);
        struct Stop {
            qint64 pid;
            ~Stop() { ::kill(pid_t(pid), SIGTERM); }
        } stop{pid};
        QTRY_VERIFY_WITH_TIMEOUT(sim.saw(QStringLiteral("GETCALLLIST:")), 20000);
        const QString text = QString::fromUtf8(readAll(log));
        QVERIFY2(text.contains(QStringLiteral("version: ") + next), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("STATUS: Ansluten")), qPrintable(text));
        const QList<QByteArray> args = readAll(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0');
        QCOMPARE(args.value(1), QByteArray("RESTARTING=1"));
        QCOMPARE(args.value(2), QByteArray("--headless"));
#endif
    }

    // The packaged unit under a real service manager: the watchdog restarts a
    // stopped program, and the program the self-update starts takes the
    // service over with its own status, without a restart.
    void serviceHandedOverToUpdatedProgram()
    {
#if !defined(QUVO_CMAKE_COMMAND) || !defined(QUVO_BUILD_DIR) || !defined(QUVO_OBJCOPY) \
    || !defined(QUVO_SYSTEMD_USER_MANAGER)
        QSKIP("built without the installation test");
#else
        if (!QFileInfo::exists(QStringLiteral(QUVO_SYSTEMD_USER_MANAGER)))
            QSKIP("no systemd-user-manager.sh beside the sources");
        const QString root = m_dir->path();
        UserManager manager(root + QStringLiteral("/manager"));
        if (!manager.start())
            QSKIP("no systemd user manager starts on this machine");
        QString installed;
        QString next;
        Sim sim;
        serveNextVersion(sim, installed, next);
        if (QTest::currentTestFailed())
            return;

        // As packaged, less what a user manager cannot honour; its state
        // folder lies below the manager's configuration folder.
        const QString state = manager.dir() + QStringLiteral("/config/quvo-hwclient");
        QString unit = QString::fromUtf8(readAll(root + QStringLiteral("/prefix/lib/systemd/system/") + kUnit));
        unit.remove(QRegularExpression(QStringLiteral("^(User|Group)=.*\n"), QRegularExpression::MultilineOption));
        unit.replace(QStringLiteral("/var/lib/quvo-hwclient"), state);
        unit.replace(QStringLiteral("XDG_CONFIG_DIRS=/etc/xdg"),
                     QStringLiteral("XDG_CONFIG_DIRS=") + state + QStringLiteral("/machine"));
        const QRegularExpression exec(QStringLiteral("^ExecStart=\\S+ --headless$"),
                                      QRegularExpression::MultilineOption);
        QVERIFY2(unit.contains(exec), qPrintable(unit));
        unit.replace(exec, QStringLiteral("ExecStart=%1 --headless SERVERNAME=127.0.0.1 SERVERPORT=%2")
                               .arg(installed).arg(sim.port));
        const QString units = manager.dir() + QStringLiteral("/config/systemd/user/");
        QVERIFY(writeFile(units + kUnit, unit.toUtf8()));
        // A short watchdog keeps the test short.
        const int watchdogSec = 5;
        QVERIFY(QDir().mkpath(units + kUnit + QStringLiteral(".d")));
        QVERIFY(writeFile(units + kUnit + QStringLiteral(".d/test.conf"),
                          QStringLiteral("[Service]\nWatchdogSec=%1\nEnvironment=QUVO_TELLDUS_LIBRARY=%2\n")
                              .arg(watchdogSec)
                              .arg(root + QStringLiteral("/no-telldus.so"))
                              .toUtf8()));
        int code = -1;
        manager.ctl({QStringLiteral("daemon-reload")});
        const QString started = manager.ctl({QStringLiteral("start"), kUnit}, &code);
        QVERIFY2(code == 0, qPrintable(started + manager.ctl({QStringLiteral("status"), kUnit})));
        UserManager::Service now;
        const auto connected = [&] { now = manager.service(); return now.status == u"Ansluten"; };
        QVERIFY2(within(10000, connected), qPrintable(now.text()));
        QCOMPARE(now.restarts, QStringLiteral("0"));

        // A frozen program is restarted; the restarted one finds the wanted
        // version at its first connect.
        const qint64 frozen = now.pid;
        SettingsStore settings(
            {state + QStringLiteral("/config/Veltaris"), state + QStringLiteral("/machine/Veltaris")});
        settings.setSettingsFolderKey(settingsKeyFromFolder(QFileInfo(state).canonicalFilePath() + u'/'));
        settings.WriteSetting(QStringLiteral("CHECKVERSION"), kProgramName, QString::number(VersionNumber(next)));
        QCOMPARE(::kill(pid_t(frozen), SIGSTOP), 0);
        const auto restartedNow = [&] { now = manager.service(); return now.pid > 0 && now.pid != frozen; };
        QVERIFY2(within((watchdogSec + 10) * 1000, restartedNow), qPrintable(now.text()));
        QCOMPARE(now.restarts, QStringLiteral("1"));
        const qint64 restarted = now.pid;

        // The update: the program in the update folder becomes the service's
        // main process, and within 10 s the old one has ended and the new
        // one's status stands.
        const auto handedOn = [&] { now = manager.service(); return now.pid != restarted; };
        QVERIFY2(within(30000, handedOn), qPrintable(now.text()));
        const qint64 updated = now.pid;
        const QString copy = state + QStringLiteral("/data/Veltaris/QUVO/") + kProgramName;
        QCOMPARE(now.program, QFileInfo(copy).canonicalFilePath());
        const auto handedOver = [&] {
            now = manager.service();
            return now.pid == updated && now.status == u"Ansluten" && now.restarts == u"1" && now.state == u"active"
                && ::kill(pid_t(restarted), 0) != 0;
        };
        QVERIFY2(within(10000, handedOver), qPrintable(now.text()));
        // The new program keeps the watchdog content.
        QTest::qWait((watchdogSec + 2) * 1000);
        QVERIFY2(handedOver(), qPrintable(now.text()));
#endif
    }
};

QTEST_GUILESS_MAIN(TestUpdate)
#include "tst_update.moc"
