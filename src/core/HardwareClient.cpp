#include "core/HardwareClient.h"

#include "common/Paths.h"
#include "core/UpdateClient.h"

#include <QCoreApplication>

namespace quvo {

namespace {
const QString kServer = QStringLiteral("ServerSettings");
}

HardwareClient::HardwareClient(UserInterface& frontEnd, const QStringList& params, SettingsLocations settingsAt,
                               QObject* parent)
    : QObject(parent), m_ui(frontEnd)
{
    m_state.commandLine = CommandLine(params);
    m_state.programFilePath = QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();

    m_settings = std::make_unique<SettingsStore>(settingsAt);
    m_identity = std::make_unique<ClientIdentity>(*m_settings, int(ctHardware));
    m_identity->setUserInterface(&m_ui);
    m_settings->setComputerNameSource([this] { return m_identity->GetClientComputerName(); });

    // The library is loaded by the first lookup, on the worker's thread.
    m_telldus = std::make_unique<TelldusWorker>();
    m_device = std::make_unique<DeviceController>(*m_telldus, *m_settings, m_ui);
    m_activation = std::make_unique<Activation>(*m_device, *m_settings);
    m_connection = std::make_unique<ServerConnection>(m_state, *m_settings, *m_identity, m_ui);
    m_dispatcher = std::make_unique<Dispatcher>(m_state, *m_settings, *m_identity, m_ui, *m_connection, *m_activation);
    m_updater = std::make_unique<UpdateClient>(m_state, *m_settings, *m_identity, m_ui, *m_connection);

    m_settings->setServerLink(m_connection.get());
    m_connection->setTextHandler([this](protocol::Unit&& unit) { m_dispatcher->DispatchServerText(std::move(unit)); });
    m_connection->setUpdateCheck([this] { m_updater->RunUpdateCheck(); });
    connect(m_updater.get(), &UpdateClient::checkFinished, m_connection.get(), &ServerConnection::updateCheckFinished);
    connect(m_connection.get(), &ServerConnection::quitRequested, this, &HardwareClient::quit);

    m_minimizeTimer.setInterval(1000);
    m_minimizeTimer.setSingleShot(true);
    connect(&m_minimizeTimer, &QTimer::timeout, this, [this] { m_ui.minimizeWindow(); });
    m_dispatcher->setMinimizeTimerStarter([this] { m_minimizeTimer.start(); });
    connect(m_dispatcher.get(), &Dispatcher::clinicNameChanged, this,
            [this] { emit windowTitleChanged(windowTitle()); });
}

HardwareClient::~HardwareClient()
{
    // The settings store must not reach a connection that is going away.
    if (m_settings)
        m_settings->setServerLink(nullptr);
}

QString HardwareClient::windowTitle() const { return m_dispatcher->windowTitle(); }

void HardwareClient::FormCreate()
{
    m_state.ProgramType = ctHardware;
    m_ui.setWindowTitle(windowTitle());
    emit windowTitleChanged(windowTitle());

    m_state.paths = InitPaths();
    m_settings->setSettingsFolderKey(m_state.paths.SettingsFolderKey);

    m_state.ServerConnectHook = [this](bool reconnect) { m_connection->ConnectToServer(reconnect); };

    m_device->restoreName();
    m_activation->restoreSettings();

    const CommandLine& cl = m_state.commandLine;
    m_state.ClientData.Name = cl.GetParamValue(QStringLiteral("NAME"));
    m_state.ClientData.FriendlyName = cl.GetParamValue(QStringLiteral("PLACE"));
    m_state.ClientData.Color = SettingsStore::toIntDef(cl.GetParamValue(QStringLiteral("COLOR")), 0);
    m_autoRegister = cl.GetParamValue(QStringLiteral("AUTOREGISTER")) == QStringLiteral("1");
    m_callListParam = cl.GetParamValue(QStringLiteral("CALLLIST"));
    m_connection->setAutoRegister(m_autoRegister, m_callListParam);

    if (m_autoRegister) {
        m_settings->WriteSetting(QStringLiteral("QUVO"), QStringLiteral("ClientNameUseDefault"), QStringLiteral("0"));
        m_settings->WriteSetting(QStringLiteral("QUVO"), QStringLiteral("ClientName"), m_state.ClientData.Name);
    }
    const QString serverName = cl.GetParamValue(QStringLiteral("SERVERNAME"));
    if (!serverName.isEmpty())
        m_settings->WriteSetting(kServer, QStringLiteral("ServerName"), serverName);
    const QString serverPort = cl.GetParamValue(QStringLiteral("SERVERPORT"));
    if (!serverPort.isEmpty())
        m_settings->WriteSetting(kServer, QStringLiteral("ServerPort"), serverPort);

    m_activation->RadioButton2Click();
    m_dispatcher->clearCalls();
    m_firstActivationDone = false;
}

void HardwareClient::FormActivate()
{
    if (m_firstActivationDone)
        return;
    m_firstActivationDone = true;
    m_state.HasBeenConnected = false;

    const QString server = m_settings->ReadSettingDef(kServer, QStringLiteral("ServerName"), QStringLiteral("ERROR"));
    if (server.trimmed() == QStringLiteral("ERROR")) {
        m_ui.showInfo(QStringLiteral("Gå till Systemregistret och ställ in servernamn och serverport."));
        m_ui.showSettingsDialog(SettingsPage::ServerSettings);
    } else {
        m_connection->ConnectToServer(false);
    }

    if (m_device->nameStartsLookup())
        m_device->BitBtn2Click();
}

void HardwareClient::quit()
{
    if (m_quitting)
        return;
    m_quitting = true;
    emit quitStarted();

    m_updater->cancel();
    m_connection->stopTimers();
    m_minimizeTimer.stop();
    m_activation->stopTimers();
    m_connection->closeSocket();
    // Closing runs the loss handling, which arms the retry countdown again.
    m_connection->stopTimers();

    // On the worker, bounded: a stalled service must not hold the quit.
    // Whatever is still queued is dropped; the receiver stays as it is.
    m_telldus->close();
    m_dispatcher->clearCalls();
    QCoreApplication::exit(1);
}

} // namespace quvo
