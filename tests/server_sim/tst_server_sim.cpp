// Runs the simulator binary and talks to it the way the client does.
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

// Every character used here has the same byte in Latin-1 and windows-1252.
QByteArray wire(const QString& text) { return text.toLatin1(); }

class Sim {
public:
    bool start(const QStringList& args)
    {
        m_proc.setProgram(QStringLiteral(QUVO_SERVER_SIM));
        m_proc.setArguments(args);
        m_proc.start();
        const QString first = waitForLine(QStringLiteral("LISTENING "));
        m_port = quint16(first.section(QLatin1Char(' '), 1).toUInt());
        return m_port != 0 && m_lines.size() == 1; // it must be the first line
    }
    ~Sim()
    {
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.kill();
            m_proc.waitForFinished(2000);
        }
    }
    quint16 port() const { return m_port; }
    QProcess& process() { return m_proc; }

    // Sends a command and waits for the simulator's confirmation line.
    QString command(const QString& text, const QString& expectPrefix)
    {
        m_proc.write((text + QLatin1Char('\n')).toUtf8());
        return waitForLine(expectPrefix);
    }

    QString waitForLine(const QString& prefix, int timeoutMs = 3000)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            while (m_proc.canReadLine()) {
                const QString line = QString::fromUtf8(m_proc.readLine()).chopped(1);
                m_lines << line;
                if (line.startsWith(prefix))
                    return line;
            }
            if (deadline.hasExpired() || !m_proc.waitForReadyRead(int(deadline.remainingTime())))
                return QString();
        }
    }

private:
    QProcess m_proc;
    QStringList m_lines;
    quint16 m_port = 0;
};

std::unique_ptr<QTcpSocket> connectTo(const Sim& sim)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QStringLiteral("127.0.0.1"), sim.port());
    if (!socket->waitForConnected(3000))
        return nullptr;
    return socket;
}

void send(QTcpSocket& socket, const QByteArray& bytes)
{
    socket.write(bytes);
    socket.waitForBytesWritten(1000);
}

// Reads until `size` bytes have come or the time is up.
QByteArray readBytes(QTcpSocket& socket, qsizetype size, int timeoutMs = 3000, int* reads = nullptr)
{
    QByteArray data;
    QDeadlineTimer deadline(timeoutMs);
    while (data.size() < size && !deadline.hasExpired()) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
        data += socket.readAll();
        if (reads)
            ++*reads;
    }
    return data;
}

QByteArray readUntil(QTcpSocket& socket, const QByteArray& end, int timeoutMs = 3000)
{
    QByteArray data;
    QDeadlineTimer deadline(timeoutMs);
    while (!data.endsWith(end) && !deadline.hasExpired()) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
        data += socket.read(1); // byte by byte: stop exactly at the end marker
    }
    return data;
}

// The call lists carry the time of the moment; take it from the bytes so the
// rest can be compared exactly.
QStringList times(const QByteArray& bytes)
{
    QStringList found;
    static const QRegularExpression re(QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d"));
    auto it = re.globalMatch(QString::fromLatin1(bytes));
    while (it.hasNext())
        found << it.next().captured();
    return found;
}

const QByteArray kListEnd = wire(QStringLiteral("CURRENTLIST¤"));

} // namespace

class ServerSimTest : public QObject {
    Q_OBJECT
private slots:
    void answersVersionAndClinicAcrossCutReads();
    void callListAndUnaskedUpdates();
    void iniStoreRoundTrip();
    void unknownClientAndRegistration();
    void callablesListingComesFirst();
    void programFileInPieces();
    void scenarioRunsAndQuits();
};

void ServerSimTest::answersVersionAndClinicAcrossCutReads()
{
    Sim sim;
    QVERIFY(sim.start({QStringLiteral("--server-version"), QStringLiteral("1.11.0")}));
    auto s = connectTo(sim);
    QVERIFY(s);
    const QByteArray frames = wire(QStringLiteral("¤GETSERVERVERSION:HW1:3:GETSERVERVERSION¤"
                                                  "¤GETKLINIKNAMN:¤¤ADMIN¤¤:2:GETKLINIKNAMN¤"));
    // Cut inside the first frame's closing marker: nothing may be answered yet.
    const qsizetype cut = frames.indexOf("VERSION\xA4") + 3;
    send(*s, frames.left(cut));
    QVERIFY(!s->waitForReadyRead(150));
    send(*s, frames.mid(cut));
    const QByteArray expected = wire(QStringLiteral("¤RETSERVERVERSION:1.11.0:RETSERVERVERSION¤"
                                                    "¤RETKLINIKNAMN:Vårdcentralen Demo:RETKLINIKNAMN¤"));
    QCOMPARE(readBytes(*s, expected.size()), expected);
}

void ServerSimTest::callListAndUnaskedUpdates()
{
    Sim sim;
    QVERIFY(sim.start({}));
    QVERIFY(sim.command(QStringLiteral("call 2 Anna Berg"), QStringLiteral("call ")).startsWith(QStringLiteral("call 1:")));
    auto s = connectTo(sim);
    auto other = connectTo(sim); // never asks for a list, so never gets one
    QVERIFY(s && other);
    send(*other, wire(QStringLiteral("¤GETSERVERVERSION:HW9:3:GETSERVERVERSION¤")));
    const QByteArray version = wire(QStringLiteral("¤RETSERVERVERSION:1.10.4:RETSERVERVERSION¤"));
    QCOMPARE(readBytes(*other, version.size()), version);

    send(*s, wire(QStringLiteral("¤GETCALLLIST:HW1:1:GETCALLLIST¤")));
    QByteArray list = readUntil(*s, kListEnd);
    QStringList t = times(list);
    QCOMPARE(t.size(), 1);
    QCOMPARE(list, wire(QStringLiteral("¤CURRENTLIST:Läkare:1:255:0:¤%%¤:"
                                       "Sköterska:2:32768:1:¤%Anna Berg~1~%1~0~0~~~%¤:"
                                       "Labb:3:16711680:2:¤%%¤:CURRENTLIST¤").arg(t[0])));

    QVERIFY(!sim.command(QStringLiteral("confirm 1 Bo"), QStringLiteral("confirmed 1")).isEmpty());
    list = readUntil(*s, kListEnd);
    t = times(list);
    QCOMPARE(t.size(), 2);
    QCOMPARE(list, wire(QStringLiteral("¤CURRENTLIST:Läkare:1:255:0:¤%%¤:"
                                       "Sköterska:2:32768:1:¤%Anna Berg~1~%1~0~2~%2~Bo~%¤:"
                                       "Labb:3:16711680:2:¤%%¤:CURRENTLIST¤").arg(t[0], t[1])));

    QVERIFY(!sim.command(QStringLiteral("end 1"), QStringLiteral("ended 1")).isEmpty());
    QCOMPARE(readUntil(*s, kListEnd), wire(QStringLiteral("¤CURRENTLIST:Läkare:1:255:0:¤%%¤:"
                                                          "Sköterska:2:32768:1:¤%%¤:"
                                                          "Labb:3:16711680:2:¤%%¤:CURRENTLIST¤")));

    // No resources: the closing marker must not share its ':' with the opening one.
    QVERIFY(!sim.command(QStringLiteral("assign HW1 -"), QStringLiteral("assign HW1")).isEmpty());
    QCOMPARE(readUntil(*s, kListEnd), wire(QStringLiteral("¤CURRENTLIST::CURRENTLIST¤")));

    QVERIFY(!other->waitForReadyRead(100));
    QCOMPARE(other->bytesAvailable(), 0);
}

void ServerSimTest::iniStoreRoundTrip()
{
    Sim sim;
    QVERIFY(sim.start({}));
    auto s = connectTo(sim);
    QVERIFY(s);
    // Both frames of one write in a single read, the way the client sends them.
    send(*s, wire(QStringLiteral("¤SETINITEXT:PC1\\QUVOHW:Mode:maskin:SETINITEXT¤"
                                 "¤SETINITEXT:QUVOHW:Mode:glöbal:SETINITEXT¤"
                                 "¤GETINITEXT:PC1\\QUVOHW:Mode:GETINITEXT¤")));
    // The shared entry asked for as "\Section", one byte per write.
    for (char byte : wire(QStringLiteral("¤GETINITEXT:\\quvohw:mode:GETINITEXT¤"))) {
        send(*s, QByteArray(1, byte));
    }
    send(*s, wire(QStringLiteral("¤GETINITEXT:\\QUVOHW:Saknas:GETINITEXT¤")));
    const QByteArray expected = wire(QStringLiteral("¤RETINITEXT:maskin:RETINITEXT¤"
                                                    "¤RETINITEXT:glöbal:RETINITEXT¤"
                                                    "¤RETINITEXT::RETINITEXT¤"));
    QCOMPARE(readBytes(*s, expected.size()), expected);
}

void ServerSimTest::unknownClientAndRegistration()
{
    Sim sim;
    QVERIFY(sim.start({}));
    QVERIFY(!sim.command(QStringLiteral("unknown HW2 on"), QStringLiteral("unknown HW2 on")).isEmpty());
    auto known = connectTo(sim);
    auto s = connectTo(sim);
    QVERIFY(known && s);

    const QByteArray version = wire(QStringLiteral("¤RETSERVERVERSION:1.10.4:RETSERVERVERSION¤"));
    send(*known, wire(QStringLiteral("¤GETSERVERVERSION:HW3:3:GETSERVERVERSION¤")));
    QCOMPARE(readBytes(*known, version.size()), version);

    // A frame without a client name counts for the client of its connection.
    send(*s, wire(QStringLiteral("¤GETSERVERVERSION:HW2:3:GETSERVERVERSION¤¤GETKLINIKNAMN:¤¤ADMIN¤¤:2:GETKLINIKNAMN¤")));
    const QByteArray errors = "ERROR: 001 Klienten finns inteERROR: 001 Klienten finns inte";
    QCOMPARE(readBytes(*s, errors.size()), errors);

    send(*s, wire(QStringLiteral("¤REGISTERUPATEMACHINE:HW2:3:Rum 3:32768:::REGISTERUPATEMACHINE¤"
                                 "¤GETSERVERVERSION:HW2:3:GETSERVERVERSION¤")));
    const QByteArray expected = wire(QStringLiteral("¤QUVOCLIENTDATA:HW2:Rum 3:32768:QUVOCLIENTDATA¤")) + version;
    QCOMPARE(readBytes(*s, expected.size()), expected);
}

void ServerSimTest::callablesListingComesFirst()
{
    Sim sim;
    QVERIFY(sim.start({}));
    auto s = connectTo(sim);
    QVERIFY(s);
    const QByteArray all = wire(QStringLiteral("¤RETALLCALLABLES:Läkare:1:255:0:::T:Sköterska:2:32768:1:::T:"
                                               "Labb:3:16711680:2:::T:Röntgen:4:8421504:3:::F:RETALLCALLABLES¤"));
    // Asked for the station's list alone, the full one still comes first.
    send(*s, wire(QStringLiteral("¤GETSTATIONCALLABLES:HW1:GETSTATIONCALLABLES¤")));
    QByteArray expected = all + wire(QStringLiteral("¤RETSTATIONCALLABLES:1:0:2:1:3:2:RETSTATIONCALLABLES¤"));
    QCOMPARE(readBytes(*s, expected.size()), expected);

    // The start-up form of the posted list may lack the final ':'.
    send(*s, wire(QStringLiteral("¤POSTCALLABLESLIST:HW1:3:3:0:1:1POSTCALLABLESLIST¤"
                                 "¤GETALLCALLABLES:HW1:GETALLCALLABLES¤¤GETSTATIONCALLABLES:HW1:GETSTATIONCALLABLES¤")));
    expected = all + wire(QStringLiteral("¤RETSTATIONCALLABLES:3:0:1:1:RETSTATIONCALLABLES¤"));
    QCOMPARE(readBytes(*s, expected.size()), expected);
}

void ServerSimTest::programFileInPieces()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QByteArray content;
    for (int i = 0; i < 50000; ++i)
        content += char((i * 7919) % 251); // holds 0xA4 and ':' bytes too
    const QString path = dir.filePath(QStringLiteral("quvo-hwclient"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    Sim sim;
    QVERIFY(sim.start({QStringLiteral("--program-file"), path, QStringLiteral("--chunk-size"), QStringLiteral("4000")}));
    const QByteArray request = wire(QStringLiteral("¤GETNEWCLIENT:quvo-hwclient:HW1:3:GETNEWCLIENT¤"));
    const QByteArray head = "#DATASTART#" + wire(QStringLiteral("¤RETNEWCLIENT:"));
    const QByteArray tail = wire(QStringLiteral(":RETNEWCLIENT¤")) + "#DATAEND#";

    auto s = connectTo(sim);
    QVERIFY(s);
    send(*s, request);
    int reads = 0;
    const QByteArray whole = head + content + tail;
    const QByteArray got = readBytes(*s, whole.size(), 5000, &reads);
    QCOMPARE(got.size(), whole.size());
    QVERIFY(got == whole);
    QVERIFY2(reads >= 3, qPrintable(QStringLiteral("%1 reads").arg(reads)));

    QVERIFY(!sim.command(QStringLiteral("update cut"), QStringLiteral("update cut")).isEmpty());
    send(*s, request);
    const QByteArray half = head + content.left(content.size() / 2);
    QVERIFY(readBytes(*s, half.size(), 5000) == half);
    QVERIFY(!s->waitForReadyRead(200)); // and then nothing, no end markers

    QVERIFY(!sim.command(QStringLiteral("update error"), QStringLiteral("update error")).isEmpty());
    send(*s, request);
    const QByteArray error = "ERROR: 17 Filen saknas";
    QCOMPARE(readBytes(*s, error.size()), error);

    QVERIFY(!sim.command(QStringLiteral("update silent"), QStringLiteral("update silent")).isEmpty());
    send(*s, request);
    QVERIFY(!s->waitForReadyRead(200));
}

void ServerSimTest::scenarioRunsAndQuits()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("scenario.txt"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("# a comment\n50 confirm 1 Bo\n0 call 1 Anna\n60 frobnicate\n");
    }
    Sim sim;
    QVERIFY(sim.start({QStringLiteral("--scenario"), path, QStringLiteral("--quit-after-scenario")}));
    QVERIFY(!sim.waitForLine(QStringLiteral("call 1:")).isEmpty());
    QVERIFY(!sim.waitForLine(QStringLiteral("confirmed 1 by Bo")).isEmpty());
    QVERIFY(!sim.waitForLine(QStringLiteral("? unknown command")).isEmpty());
    QVERIFY(sim.process().waitForFinished(3000));
    QCOMPARE(sim.process().exitCode(), 0);
}

QTEST_GUILESS_MAIN(ServerSimTest)
#include "tst_server_sim.moc"
