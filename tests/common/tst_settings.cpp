// Settings store: INI files per user and per machine, then the server.
#include "TestSupport.h"

#include "common/SettingsStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace quvo;
using quvo::test::FakeIniLink;

namespace {

const QString kKey = QStringLiteral("_opt_QUVO_app/");
const QString kSection = QStringLiteral("QUVO_HWClient");
const QString kName = QStringLiteral("TellStickDevicename");

QByteArray frame(const char* text)
{
    QByteArray bytes(text);
    bytes.replace("~", "\xA4");
    return bytes;
}

// Answers GETINITEXT frames later, from the event loop, like the server.
void answerFrom(FakeIniLink& link, SettingsStore& store, QHash<QByteArray, QString> replies, int delayMs = 10)
{
    link.onFrame = [&store, replies, delayMs](const QByteArray& f) {
        if (!f.contains("GETINITEXT") || !replies.contains(f))
            return;
        const QString value = replies.value(f);
        QTimer::singleShot(delayMs, &store, [&store, value] { store.deliverIniReply(value); });
    };
}

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void fromEnvironmentFollowsXdgVariables();
    void writeReadRoundTripsAwkwardValues();
    void handWrittenValuesReadAsTheyStand();
    void filesAreNamedAfterTheFolderKeyAndNotWorldWritable();
    void userValueWinsOverMachineValue();
    void blankValuesCountAsMissing();
    void errorSentinelGivesTheDefault();
    void refusedMachineWriteLeavesUserValueAndRecordsError();
    void typedValues();

    void writeSendsTwoFramesOnlyWhileConnected();
    void readAsksPerComputerSectionThenGlobal();
    void readDoesNotAskServerWhenFilesHaveValue();
    void serverReadIgnoresFiles();
    void unansweredRequestsTimeOut();
    void replyDeliveredInsideSendIsTaken();
    void nestedRequestDuringWaitGetsItsReply();
    void nestedRequestThatTimesOutEndsOuterWait();

private:
    std::unique_ptr<SettingsStore> makeStore();
    std::unique_ptr<QTemporaryDir> m_tmp;
    SettingsLocations m_where;
};

void SettingsTest::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    m_where.userDir = m_tmp->filePath(QStringLiteral("user/Veltaris"));
    m_where.machineDir = m_tmp->filePath(QStringLiteral("machine/Veltaris"));
}

void SettingsTest::cleanup()
{
    m_tmp.reset();
}

std::unique_ptr<SettingsStore> SettingsTest::makeStore()
{
    auto store = std::make_unique<SettingsStore>(m_where);
    store->setSettingsFolderKey(kKey);
    store->setComputerNameSource([] { return QStringLiteral("PC1"); });
    store->setIniWaitMs(100);
    return store;
}

void SettingsTest::fromEnvironmentFollowsXdgVariables()
{
    const QByteArray oldHome = qgetenv("XDG_CONFIG_HOME");
    const QByteArray oldDirs = qgetenv("XDG_CONFIG_DIRS");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_tmp->filePath(QStringLiteral("cfg"))));
    qputenv("XDG_CONFIG_DIRS", QByteArray("relative/dir::") + QFile::encodeName(m_tmp->filePath(QStringLiteral("sys")))
                                   + ":/second");
    const SettingsLocations set = SettingsLocations::fromEnvironment();
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_CONFIG_DIRS");
    const SettingsLocations unset = SettingsLocations::fromEnvironment();
    qputenv("XDG_CONFIG_HOME", oldHome);
    qputenv("XDG_CONFIG_DIRS", oldDirs);

    QCOMPARE(set.userDir, m_tmp->filePath(QStringLiteral("cfg/Veltaris")));
    QCOMPARE(set.machineDir, m_tmp->filePath(QStringLiteral("sys/Veltaris")));
    QCOMPARE(unset.userDir, QDir::homePath() + QStringLiteral("/.config/Veltaris"));
    QCOMPARE(unset.machineDir, QStringLiteral("/etc/xdg/Veltaris"));
}

void SettingsTest::writeReadRoundTripsAwkwardValues()
{
    auto store = makeStore();
    const QString longValue = QString(2000, u'x') + QStringLiteral("end");
    const QList<QPair<QString, QString>> cases{
        {kName, QStringLiteral("Lamp: hall\\2 = on; \"quoted\", ¤ åäö")},
        {QStringLiteral("Long"), longValue},
        {QStringLiteral("Blanks"), QStringLiteral("  padded  ")},
        {QStringLiteral("At"), QStringLiteral("@Variant(x)")},
        {QStringLiteral("List"), QStringLiteral("a, b, c")},
        {QStringLiteral("Key with blanks åäö"), QStringLiteral("value")},
        {QStringLiteral("Number"), QStringLiteral("-1")},
    };
    for (const auto& [key, value] : cases)
        store->WriteSetting(kSection, key, value);
    for (const auto& [key, value] : cases)
        QCOMPARE(store->ReadSetting(kSection, key), value);

    // What is on disk, read by a fresh store, and the machine copy on its own.
    auto again = makeStore();
    for (const auto& [key, value] : cases)
        QCOMPARE(again->ReadSetting(kSection, key), value);
    QFile::remove(m_where.userDir + QStringLiteral("/_opt_QUVO_app.ini"));
    for (const auto& [key, value] : cases)
        QCOMPARE(again->ReadSetting(kSection, key), value);
}

void SettingsTest::handWrittenValuesReadAsTheyStand()
{
    QVERIFY(QDir().mkpath(m_where.userDir));
    QFile file(m_where.userDir + QStringLiteral("/_opt_QUVO_app.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[QUVO_HWClient]\n"
               "TellStickDevicename=Lampa,hall\n"
               "Semicolon = Lampa;hall\n"
               "Path=C:\\temp\\new\n"
               "Share=\\\\server\\share\n"
               "Quoted=\"Kök, hall\"\n");
    file.close();
    auto store = makeStore();
    QCOMPARE(store->ReadSetting(kSection, kName), QStringLiteral("Lampa,hall"));
    QCOMPARE(store->ReadSetting(kSection, QStringLiteral("Semicolon")), QStringLiteral("Lampa;hall"));
    QCOMPARE(store->ReadSetting(kSection, QStringLiteral("Path")), QStringLiteral("C:\\temp\\new"));
    QCOMPARE(store->ReadSetting(kSection, QStringLiteral("Share")), QStringLiteral("\\\\server\\share"));
    QCOMPARE(store->ReadSetting(kSection, QStringLiteral("Quoted")), QStringLiteral("Kök, hall"));
}

void SettingsTest::filesAreNamedAfterTheFolderKeyAndNotWorldWritable()
{
    auto store = makeStore();
    store->WriteSetting(kSection, kName, QStringLiteral("Lamp 1"));
    store->WriteSetting(QStringLiteral("QUVO"), QStringLiteral("ClientName"), QStringLiteral("Reception"));
    for (const QString& dir : {m_where.userDir, m_where.machineDir}) {
        const QString path = dir + QStringLiteral("/_opt_QUVO_app.ini");
        QFile file(path);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("[QUVO_HWClient]"));
        QVERIFY(text.contains("TellStickDevicename=Lamp 1"));
        QVERIFY(text.contains("[QUVO]"));
        QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList{QStringLiteral("_opt_QUVO_app.ini")});
        QVERIFY(!(QFileInfo(path).permissions() & QFileDevice::WriteOther));
        QVERIFY(!(QFileInfo(dir).permissions() & QFileDevice::WriteOther));
    }

    // Before the folder key is known the section itself names the file.
    SettingsStore bare(m_where);
    bare.WriteSetting(QStringLiteral("QUVO"), QStringLiteral("X"), QStringLiteral("1"));
    QVERIFY(QFileInfo::exists(m_where.userDir + QStringLiteral("/QUVO.ini")));

    // An over-long key still gives a usable file name, and its own file.
    const QString deep = QString(300, u'k') + u'/';
    SettingsStore longKey(m_where);
    longKey.setSettingsFolderKey(deep);
    longKey.WriteSetting(kSection, kName, QStringLiteral("deep"));
    SettingsStore otherLongKey(m_where);
    otherLongKey.setSettingsFolderKey(QString(300, u'k') + QStringLiteral("2/"));
    otherLongKey.WriteSetting(kSection, kName, QStringLiteral("other"));
    QCOMPARE(longKey.ReadSetting(kSection, kName), QStringLiteral("deep"));
    QCOMPARE(otherLongKey.ReadSetting(kSection, kName), QStringLiteral("other"));
}

void SettingsTest::userValueWinsOverMachineValue()
{
    auto store = makeStore();
    store->WriteSetting(kSection, kName, QStringLiteral("both"));
    SettingsStore machineOnly({QString(), m_where.machineDir});
    machineOnly.setSettingsFolderKey(kKey);
    machineOnly.WriteSetting(kSection, kName, QStringLiteral("machine"));
    QCOMPARE(store->ReadSetting(kSection, kName), QStringLiteral("both"));

    QVERIFY(QFile::remove(m_where.userDir + QStringLiteral("/_opt_QUVO_app.ini")));
    QCOMPARE(store->ReadSetting(kSection, kName), QStringLiteral("machine"));
}

void SettingsTest::blankValuesCountAsMissing()
{
    auto store = makeStore();
    SettingsStore userOnly({m_where.userDir, QString()});
    userOnly.setSettingsFolderKey(kKey);
    SettingsStore machineOnly({QString(), m_where.machineDir});
    machineOnly.setSettingsFolderKey(kKey);

    userOnly.WriteSetting(kSection, kName, QStringLiteral(" \t "));
    machineOnly.WriteSetting(kSection, kName, QStringLiteral("  from machine "));
    QCOMPARE(store->ReadSetting(kSection, kName), QStringLiteral("  from machine "));

    machineOnly.WriteSetting(kSection, kName, QString());
    QCOMPARE(store->ReadSetting(kSection, kName), QStringLiteral("ERROR"));
    QCOMPARE(store->ReadSetting(kSection, QStringLiteral("NeverWritten")), QStringLiteral("ERROR"));
}

void SettingsTest::errorSentinelGivesTheDefault()
{
    auto store = makeStore();
    store->WriteSetting(kSection, kName, QStringLiteral(" ERROR  "));
    QCOMPARE(store->ReadSettingDef(kSection, kName, QStringLiteral("def")), QStringLiteral("def"));
    store->WriteSetting(kSection, kName, QStringLiteral("ERRORS"));
    QCOMPARE(store->ReadSettingDef(kSection, kName, QStringLiteral("def")), QStringLiteral("ERRORS"));
    QCOMPARE(store->ReadSettingDef(kSection, QStringLiteral("Missing"), QString()), QString());
    QCOMPARE(store->ReadServerSettingDef(kSection, kName, QStringLiteral("srv")), QStringLiteral("srv"));
}

void SettingsTest::refusedMachineWriteLeavesUserValueAndRecordsError()
{
    // A plain file where the machine folder's parent should be: the write is
    // refused whoever runs the test.
    const QString blocker = m_tmp->filePath(QStringLiteral("machine-is-a-file"));
    QFile f(blocker);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    m_where.machineDir = blocker + QStringLiteral("/Veltaris");
    auto store = makeStore();

    store->WriteSetting(kSection, kName, QStringLiteral("Lamp 2"));
    QCOMPARE(store->ReadSetting(kSection, kName), QStringLiteral("Lamp 2"));
    QVERIFY(!store->lastRegistryError().isEmpty());
    QVERIFY(store->lastRegistryError().contains(m_where.machineDir));

    QSettings error(m_where.userDir + QStringLiteral("/ERROR_WRITING_TO_LOCAL_MACHINE.ini"), QSettings::IniFormat);
    QCOMPARE(error.value(QStringLiteral("ErrorMsg")).toString(), store->lastRegistryError());
    QVERIFY(QFileInfo(blocker).isFile());

    // Once the user copy is gone nothing remains: the refused value was not
    // kept anywhere in between.
    QVERIFY(QFile::remove(m_where.userDir + QStringLiteral("/_opt_QUVO_app.ini")));
    QCOMPARE(store->ReadSetting(kSection, kName), QStringLiteral("ERROR"));
}

void SettingsTest::typedValues()
{
    QCOMPARE(SettingsStore::toIntDef(QStringLiteral("ERROR"), 7), 7);
    QCOMPARE(SettingsStore::toIntDef(QStringLiteral(" 2000 "), 7), 2000);
    QCOMPARE(SettingsStore::toIntDef(QStringLiteral("-12"), 7), -12);
    QCOMPARE(SettingsStore::toIntDef(QStringLiteral("1.5"), 7), 7);
    QCOMPARE(SettingsStore::toIntDef(QStringLiteral("99999999999"), 7), 7);
    QCOMPARE(SettingsStore::toIntDef(QString(), 7), 7);

    QCOMPARE(SettingsStore::toBoolDef(QStringLiteral("-1"), false), true);
    QCOMPARE(SettingsStore::toBoolDef(QStringLiteral("5"), false), true);
    QCOMPARE(SettingsStore::toBoolDef(QStringLiteral("0"), true), false);
    QCOMPARE(SettingsStore::toBoolDef(QStringLiteral("tRuE"), false), true);
    QCOMPARE(SettingsStore::toBoolDef(QStringLiteral("FALSE"), true), false);
    QCOMPARE(SettingsStore::toBoolDef(QStringLiteral("yes"), true), true);
    QCOMPARE(SettingsStore::toBoolDef(QStringLiteral("yes"), false), false);
    QCOMPARE(SettingsStore::toBoolDef(QStringLiteral("ERROR"), true), true);

    auto store = makeStore();
    store->writeBool(kSection, QStringLiteral("TellStickDoIntervall"), true);
    QCOMPARE(store->ReadSetting(kSection, QStringLiteral("TellStickDoIntervall")), QStringLiteral("-1"));
    QCOMPARE(store->readBool(kSection, QStringLiteral("TellStickDoIntervall"), false), true);
    store->writeBool(kSection, QStringLiteral("TellStickDoIntervall"), false);
    QCOMPARE(store->ReadSetting(kSection, QStringLiteral("TellStickDoIntervall")), QStringLiteral("0"));
    QCOMPARE(store->readBool(kSection, QStringLiteral("TellStickDoIntervall"), true), false);
    QCOMPARE(store->readBool(kSection, QStringLiteral("Missing"), true), true);
    store->WriteSetting(kSection, QStringLiteral("TellStickAktivateTimer"), QStringLiteral("3000"));
    QCOMPARE(store->readInt(kSection, QStringLiteral("TellStickAktivateTimer"), 2000), 3000);
    QCOMPARE(store->readInt(kSection, QStringLiteral("Missing"), 2000), 2000);
}

void SettingsTest::writeSendsTwoFramesOnlyWhileConnected()
{
    auto store = makeStore();
    FakeIniLink link;
    store->setServerLink(&link);
    link.up = false;
    store->WriteSetting(QStringLiteral("QUVO"), QStringLiteral("ClientName"), QStringLiteral("Hall å"));
    QVERIFY(link.frames.isEmpty());
    QCOMPARE(store->ReadSetting(QStringLiteral("QUVO"), QStringLiteral("ClientName")), QStringLiteral("Hall å"));

    link.up = true;
    store->WriteSetting(QStringLiteral("QUVO"), QStringLiteral("ClientName"), QStringLiteral("Rum: ¤ä"));
    QCOMPARE(link.frames.size(), 2);
    QCOMPARE(link.frames.at(0), frame("~SETINITEXT:PC1\\QUVO:ClientName:Rum: \xA4\xE4:SETINITEXT~"));
    QCOMPARE(link.frames.at(1), frame("~SETINITEXT:QUVO:ClientName:Rum: \xA4\xE4:SETINITEXT~"));
}

void SettingsTest::readAsksPerComputerSectionThenGlobal()
{
    auto store = makeStore();
    FakeIniLink link;
    store->setServerLink(&link);
    answerFrom(link, *store,
               {{frame("~GETINITEXT:PC1\\QUVO:A:GETINITEXT~"), QStringLiteral("per computer")},
                {frame("~GETINITEXT:\\QUVO:A:GETINITEXT~"), QStringLiteral("global")},
                {frame("~GETINITEXT:PC1\\QUVO:B:GETINITEXT~"), QStringLiteral("  ")},
                {frame("~GETINITEXT:\\QUVO:B:GETINITEXT~"), QStringLiteral(" global B ")},
                {frame("~GETINITEXT:PC1\\QUVO:C:GETINITEXT~"), QString()},
                {frame("~GETINITEXT:\\QUVO:C:GETINITEXT~"), QString()}});

    QCOMPARE(store->ReadSetting(QStringLiteral("QUVO"), QStringLiteral("A")), QStringLiteral("per computer"));
    QCOMPARE(link.frames.size(), 1);
    QCOMPARE(store->ReadSetting(QStringLiteral("QUVO"), QStringLiteral("B")), QStringLiteral(" global B "));
    QCOMPARE(link.frames.size(), 3);
    QCOMPARE(link.frames.at(2), frame("~GETINITEXT:\\QUVO:B:GETINITEXT~"));
    QCOMPARE(store->ReadSettingDef(QStringLiteral("QUVO"), QStringLiteral("C"), QStringLiteral("def")),
             QStringLiteral("def"));
    QCOMPARE(link.frames.size(), 5);
}

void SettingsTest::readDoesNotAskServerWhenFilesHaveValue()
{
    auto store = makeStore();
    FakeIniLink link;
    link.up = false;
    store->setServerLink(&link);
    store->WriteSetting(kSection, kName, QStringLiteral("local"));
    link.up = true;
    answerFrom(link, *store, {{frame("~GETINITEXT:PC1\\QUVO_HWClient:TellStickDevicename:GETINITEXT~"),
                               QStringLiteral("server")}});
    QCOMPARE(store->ReadSetting(kSection, kName), QStringLiteral("local"));
    QVERIFY(link.frames.isEmpty());
}

void SettingsTest::serverReadIgnoresFiles()
{
    auto store = makeStore();
    store->WriteSetting(QStringLiteral("ServerSettings"), QStringLiteral("UpdateServerName"), QStringLiteral("local"));
    FakeIniLink link;
    store->setServerLink(&link);
    answerFrom(link, *store, {{frame("~GETINITEXT:PC1\\ServerSettings:UpdateServerName:GETINITEXT~"),
                               QStringLiteral("update.clinic")}});
    QCOMPARE(store->ReadServerSetting(QStringLiteral("ServerSettings"), QStringLiteral("UpdateServerName")),
             QStringLiteral("update.clinic"));
    link.up = false;
    QCOMPARE(store->ReadServerSettingDef(QStringLiteral("ServerSettings"), QStringLiteral("UpdateServerName"),
                                         QStringLiteral("def")),
             QStringLiteral("def"));
    QCOMPARE(link.frames.size(), 1);
}

void SettingsTest::unansweredRequestsTimeOut()
{
    auto store = makeStore();
    FakeIniLink link;
    store->setServerLink(&link);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(store->ReadSetting(QStringLiteral("QUVO"), QStringLiteral("Silent")), QStringLiteral("ERROR"));
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(link.frames.size(), 2);
    // Two waits of 100 ms on coarse timers, which may each end 5% early.
    QVERIFY2(elapsed >= 180 && elapsed < 3000, qPrintable(QString::number(elapsed)));

    // A reply that comes after its wait has ended is not taken by a later
    // request, which clears it first.
    store->deliverIniReply(QStringLiteral("late"));
    answerFrom(link, *store, {{frame("~GETINITEXT:PC1\\QUVO:Next:GETINITEXT~"), QStringLiteral("next")}});
    QCOMPARE(store->ReadSetting(QStringLiteral("QUVO"), QStringLiteral("Next")), QStringLiteral("next"));
}

void SettingsTest::replyDeliveredInsideSendIsTaken()
{
    auto store = makeStore();
    store->setIniWaitMs(60000);
    FakeIniLink link;
    store->setServerLink(&link);
    link.onFrame = [&store](const QByteArray&) { store->deliverIniReply(QStringLiteral("at once")); };
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(store->ReadSetting(QStringLiteral("QUVO"), QStringLiteral("X")), QStringLiteral("at once"));
    QVERIFY(clock.elapsed() < 2000);
}

void SettingsTest::nestedRequestDuringWaitGetsItsReply()
{
    auto store = makeStore();
    store->setIniWaitMs(5000);
    FakeIniLink link;
    store->setServerLink(&link);
    QString innerResult;
    const QByteArray outerFrame = frame("~GETINITEXT:PC1\\QUVO:Outer:GETINITEXT~");
    const QByteArray innerFrame = frame("~GETINITEXT:PC1\\QUVO:Inner:GETINITEXT~");
    link.onFrame = [&](const QByteArray& f) {
        if (f == outerFrame) {
            // Something handled during the outer wait reads a setting itself.
            QTimer::singleShot(0, store.get(), [&] {
                innerResult = store->ReadSetting(QStringLiteral("QUVO"), QStringLiteral("Inner"));
            });
        } else if (f == innerFrame) {
            QTimer::singleShot(10, store.get(), [&] { store->deliverIniReply(QStringLiteral("inner value")); });
        }
    };
    QElapsedTimer clock;
    clock.start();
    const QString outerResult = store->ReadSetting(QStringLiteral("QUVO"), QStringLiteral("Outer"));
    QCOMPARE(innerResult, QStringLiteral("inner value"));
    // The reply fields are shared: the outer wait ends on what the nested one
    // left there instead of waiting out its timer.
    QCOMPARE(outerResult, QStringLiteral("inner value"));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(link.frames.size(), 2);
}

void SettingsTest::nestedRequestThatTimesOutEndsOuterWait()
{
    auto store = makeStore();
    FakeIniLink link;
    store->setServerLink(&link);
    QString innerResult;
    bool innerRan = false;
    const QByteArray outerFrame = frame("~GETINITEXT:PC1\\QUVO:Outer:GETINITEXT~");
    const QByteArray outerGlobal = frame("~GETINITEXT:\\QUVO:Outer:GETINITEXT~");
    link.onFrame = [&](const QByteArray& f) {
        if (f == outerFrame) {
            QTimer::singleShot(0, store.get(), [&] {
                innerRan = true;
                innerResult = store->ReadServerSetting(QStringLiteral("QUVO"), QStringLiteral("Inner"));
            });
        } else if (f == outerGlobal) {
            QTimer::singleShot(10, store.get(), [&] { store->deliverIniReply(QStringLiteral("global")); });
        }
    };
    QElapsedTimer clock;
    clock.start();
    const QString outerResult = store->ReadSetting(QStringLiteral("QUVO"), QStringLiteral("Outer"));
    QVERIFY(innerRan);
    QCOMPARE(innerResult, QStringLiteral("ERROR"));
    QCOMPARE(outerResult, QStringLiteral("global"));
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(link.frames.size(), 4);
}

int runSettingsTests(int argc, char** argv)
{
    SettingsTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_settings.moc"
