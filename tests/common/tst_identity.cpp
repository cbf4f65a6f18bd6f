// Client name and the computer name in local and remote sessions.
#include "TestSupport.h"

#include "common/ClientIdentity.h"
#include "common/DataModel.h"
#include "common/SettingsStore.h"

#include <QHash>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace quvo;

class IdentityTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void typeNames();
    void localNameIsShortUpperCaseHostName();
    void automaticNameUnlessExactlyOne();
    void remoteSessionIsDetectedFromEnvironment();
    void remoteNamePrefersCitrixStyleSource();
    void remoteNameFallsBackToSshClientAddress();
    void bothRemoteSourcesFailingIsReported();
    void settingsFramesCarryTheClientDevice();

private:
    void setEnv(std::initializer_list<std::pair<const char*, QString>> values);
    std::unique_ptr<QTemporaryDir> m_tmp;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<ClientIdentity> m_identity;
    QHash<QByteArray, QString> m_env;
    QString m_host;
    quvo::test::RecordingUi m_ui;
};

void IdentityTest::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    m_store = std::make_unique<SettingsStore>(
        SettingsLocations{m_tmp->filePath(QStringLiteral("u")), m_tmp->filePath(QStringLiteral("m"))});
    m_store->setSettingsFolderKey(QStringLiteral("_test/"));
    m_identity = std::make_unique<ClientIdentity>(*m_store, ctHardware);
    m_env.clear();
    m_host = QStringLiteral("ws042.clinic.local");
    m_ui.infos.clear();
    m_identity->setEnvironmentReader([this](const char* name) { return m_env.value(QByteArray(name)); });
    m_identity->setHostNameSource([this] { return m_host; });
    m_identity->setUserInterface(&m_ui);
}

void IdentityTest::cleanup()
{
    m_identity.reset();
    m_store.reset();
    m_tmp.reset();
}

void IdentityTest::setEnv(std::initializer_list<std::pair<const char*, QString>> values)
{
    for (const auto& [name, value] : values)
        m_env.insert(QByteArray(name), value);
}

void IdentityTest::typeNames()
{
    QCOMPARE(clientTypeName(ctCall), QStringLiteral("Call"));
    QCOMPARE(clientTypeName(ctShow), QStringLiteral("Show"));
    QCOMPARE(clientTypeName(ctAdmin), QStringLiteral("Admin"));
    QCOMPARE(clientTypeName(ctHardware), QStringLiteral("Hardware"));
}

void IdentityTest::localNameIsShortUpperCaseHostName()
{
    QVERIFY(!m_identity->IsRemoteSession());
    QCOMPARE(m_identity->GetClientComputerName(), QStringLiteral("WS042"));
    m_host = QStringLiteral("reception-desk-number-two");
    QCOMPARE(m_identity->GetClientComputerName(), QStringLiteral("RECEPTION-DESK-"));
    m_host.clear();
    QCOMPARE(m_identity->GetClientComputerName(), QString());
    setEnv({{"CLIENTNAME", QStringLiteral("TC17")}});   // no remote session: ignored
    m_host = QStringLiteral("ws042");
    QCOMPARE(m_identity->GetClientComputerName(), QStringLiteral("WS042"));
}

void IdentityTest::automaticNameUnlessExactlyOne()
{
    QCOMPARE(m_identity->GetClientName(), QStringLiteral("WS042_Hardware"));
    m_store->WriteSetting(QStringLiteral("QUVO"), QStringLiteral("ClientName"), QStringLiteral("Reception"));
    QCOMPARE(m_identity->GetClientName(), QStringLiteral("WS042_Hardware"));

    for (const QString& manual : {QStringLiteral("1 "), QStringLiteral("true"), QStringLiteral("0")}) {
        m_store->WriteSetting(QStringLiteral("QUVO"), QStringLiteral("ClientNameUseDefault"), manual);
        QCOMPARE(m_identity->GetClientName(), QStringLiteral("Reception"));
    }
    m_store->WriteSetting(QStringLiteral("QUVO"), QStringLiteral("ClientName"), QString());
    QCOMPARE(m_identity->GetClientName(), QString());
    m_store->WriteSetting(QStringLiteral("QUVO"), QStringLiteral("ClientNameUseDefault"), QStringLiteral("1"));
    QCOMPARE(m_identity->GetClientName(), QStringLiteral("WS042_Hardware"));

    ClientIdentity caller(*m_store, ctCall);
    caller.setEnvironmentReader([](const char*) { return QString(); });
    caller.setHostNameSource([] { return QStringLiteral("pc9"); });
    QCOMPARE(caller.GetClientName(), QStringLiteral("PC9_Call"));
}

void IdentityTest::remoteSessionIsDetectedFromEnvironment()
{
    // A plain SSH shell (or a service) is this computer, under its own name.
    setEnv({{"SSH_CONNECTION", QStringLiteral("10.1.2.3 40000 10.0.0.1 22")}, {"SSH_TTY", QStringLiteral("/dev/pts/0")}});
    QVERIFY(!m_identity->IsRemoteSession());
    QCOMPARE(m_identity->GetClientName(), QStringLiteral("WS042_Hardware"));
    // A forwarded display makes it remote; a local display alone does not.
    setEnv({{"DISPLAY", QStringLiteral("localhost:10.0")}});
    QVERIFY(m_identity->IsRemoteSession());
    QCOMPARE(m_identity->GetClientName(), QStringLiteral("10.1.2.3_Hardware"));
    m_env.clear();
    setEnv({{"DISPLAY", QStringLiteral(":0")}});
    QVERIFY(!m_identity->IsRemoteSession());
    // Remote but no name anywhere, and no source failed: silently empty.
    m_env.clear();
    setEnv({{"XRDP_SESSION", QStringLiteral("1")}});
    QCOMPARE(m_identity->GetClientComputerName(), QString());
    QCOMPARE(m_identity->GetClientName(), QStringLiteral("_Hardware"));
    QVERIFY(m_ui.infos.isEmpty());
}

void IdentityTest::remoteNamePrefersCitrixStyleSource()
{
    setEnv({{"DISPLAY", QStringLiteral("localhost:10.0")}});
    setEnv({{"SSH_CLIENT", QStringLiteral("192.168.1.17 50123 22")}, {"CLIENTNAME", QStringLiteral("TC17")}});
    QCOMPARE(m_identity->GetClientComputerName(), QStringLiteral("TC17"));
    QCOMPARE(m_identity->GetClientName(), QStringLiteral("TC17_Hardware"));

    m_env.insert("CLIENTNAME", QStringLiteral("   "));
    QCOMPARE(m_identity->GetClientComputerName(), QStringLiteral("192.168.1.17"));
    QVERIFY(m_ui.infos.isEmpty());
}

void IdentityTest::remoteNameFallsBackToSshClientAddress()
{
    setEnv({{"DISPLAY", QStringLiteral("localhost:10.0")}});
    setEnv({{"SSH_CONNECTION", QStringLiteral("10.0.0.5 40000 10.0.0.1 22")}});
    QCOMPARE(m_identity->GetClientComputerName(), QStringLiteral("10.0.0.5"));
    setEnv({{"SSH_CLIENT", QStringLiteral("fe80::1 40000 22")}});
    QCOMPARE(m_identity->GetClientComputerName(), QStringLiteral("fe80--1"));   // never a ':' in a frame field
    setEnv({{"SSH_CLIENT", QStringLiteral("::ffff:10.1.2.3 40000 22")}});
    QCOMPARE(m_identity->GetClientComputerName(), QStringLiteral("10.1.2.3"));

    // A failing Citrix-style source alone stays silent when the second one works.
    setEnv({{"CLIENTNAME", QStringLiteral("TC\x01")}});
    QCOMPARE(m_identity->GetClientComputerName(), QStringLiteral("10.1.2.3"));
    QVERIFY(m_ui.infos.isEmpty());
}

void IdentityTest::bothRemoteSourcesFailingIsReported()
{
    setEnv({{"DISPLAY", QStringLiteral("localhost:10.0")}});
    setEnv({{"CLIENTNAME", QStringLiteral("TC\n17")}, {"SSH_CLIENT", QStringLiteral("not-an-address 1 22")}});
    QCOMPARE(m_identity->GetClientComputerName(), QString());
    QCOMPARE(m_ui.infos.size(), 1);
    const QString text = m_ui.infos.first();
    QVERIFY(text.startsWith(QStringLiteral("Det gick inte att hämta datornamnet i fjärrsessionen!\r\rCitrix: ")));
    QVERIFY(text.contains(QStringLiteral("CLIENTNAME")));
    QVERIFY(text.contains(QStringLiteral("\rTerminalServer: ")));
    QVERIFY(text.contains(QStringLiteral("SSH_CLIENT")));

    // Only the second source failing: no message, no name.
    m_ui.infos.clear();
    m_env.remove("CLIENTNAME");
    QCOMPARE(m_identity->GetClientComputerName(), QString());
    QVERIFY(m_ui.infos.isEmpty());
}

void IdentityTest::settingsFramesCarryTheClientDevice()
{
    quvo::test::FakeIniLink link;
    m_store->setServerLink(&link);
    m_store->setComputerNameSource([this] { return m_identity->GetClientComputerName(); });
    setEnv({{"DISPLAY", QStringLiteral("localhost:10.0")}});
    setEnv({{"SSH_CLIENT", QStringLiteral("10.0.0.5 40000 22")}, {"CLIENTNAME", QStringLiteral("TC17")}});
    m_store->WriteSetting(QStringLiteral("QUVO"), QStringLiteral("ClientNameUseDefault"), QStringLiteral("0"));
    QCOMPARE(link.frames.size(), 2);
    QVERIFY(link.frames.at(0).contains(":TC17\\QUVO:ClientNameUseDefault:0:"));
}

int runIdentityTests(int argc, char** argv)
{
    IdentityTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_identity.moc"
