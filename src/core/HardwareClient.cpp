#include "core/HardwareClient.h"

#include "common/ClientIdentity.h"
#include "common/Codec.h"
#include "common/Paths.h"
#include "core/Dispatcher.h"
#include "core/ReceiverSet.h"
#include "core/ServerConnection.h"
#include "core/UpdateClient.h"
#include "device/Activation.h"
#include "device/DeviceController.h"
#include "device/TelldusWorker.h"
#include "protocol/Messages.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace quvo {

namespace {
const QString kServer = QStringLiteral("ServerSettings");
}

HardwareClient::HardwareClient(UserInterface& frontEnd, const QStringList& params, SettingsLocations settingsAt,
                               Clock& clock, QObject* parent)
    : QObject(parent), m_ui(frontEnd), m_clock(clock), m_minimizeTimer(clock.createTimer())
{
    m_state.commandLine = CommandLine(params);
    m_state.programFilePath = QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();

    m_settings = std::make_unique<SettingsStore>(settingsAt);
    m_identity = std::make_unique<ClientIdentity>(*m_settings, int(ctHardware));
    m_identity->setUserInterface(&m_ui);
    m_settings->setComputerNameSource([this] { return m_identity->GetClientComputerName(); });

    // The library is loaded by the first lookup, on the worker's thread.
    m_telldus = std::make_unique<TelldusWorker>();
    m_device = std::make_unique<DeviceController>(*m_telldus, *m_settings, m_ui, m_clock);
    m_activation = std::make_unique<Activation>(*m_device, *m_settings, m_clock);
    m_connection = std::make_unique<ServerConnection>(m_state, *m_settings, *m_identity, m_ui, m_clock);
    m_dispatcher = std::make_unique<Dispatcher>(m_state, *m_settings, *m_identity, m_ui, *m_connection, *m_activation);
    m_receivers = std::make_unique<ReceiverSet>(*m_telldus, *m_settings, m_ui, *m_activation, m_clock);
    m_dispatcher->setReceivers(m_receivers.get());
    m_updater = std::make_unique<UpdateClient>(m_state, *m_settings, *m_identity, m_ui, *m_connection);

    m_settings->setServerLink(m_connection.get());
    m_connection->setUpdateCheck([this] { m_updater->RunUpdateCheck(); });
    connect(m_updater.get(), &UpdateClient::checkFinished, m_connection.get(), &ServerConnection::updateCheckFinished);
    connect(m_connection.get(), &ServerConnection::quitRequested, this, &HardwareClient::quit);

    m_minimizeTimer->setInterval(1000);
    m_minimizeTimer->setSingleShot(true);
    connect(m_minimizeTimer.get(), &Timer::timeout, this, &HardwareClient::minimizeWanted);
    m_dispatcher->setMinimizeTimerStarter([this] { m_minimizeTimer->start(); });
    connect(m_dispatcher.get(), &Dispatcher::clinicNameChanged, this,
            [this] { emit windowTitleChanged(windowTitle()); });

    connect(m_activation.get(), &Activation::settingsRestored, this, &HardwareClient::activationRestored);
    connect(m_device.get(), &DeviceController::nameRestored, this, &HardwareClient::deviceNameRestored);
    connect(m_device.get(), &DeviceController::focusNameField, this, &HardwareClient::deviceNameWanted);
    connect(m_device.get(), &DeviceController::faultChanged, this, &HardwareClient::receiverFaultChanged);
    connect(m_connection.get(), &ServerConnection::serverSilent, this, &HardwareClient::serverSilent);

    // Direct connections: the front ends see the changes in the order made.
    connect(m_connection.get(), &ServerConnection::statusChanged, this, &HardwareClient::statusChanged);
    connect(m_connection.get(), &ServerConnection::indicatorChanged, this, &HardwareClient::indicatorChanged);
    connect(m_connection.get(), &ServerConnection::notice, this, &HardwareClient::notice);
    connect(m_dispatcher.get(), &Dispatcher::statusChanged, this, &HardwareClient::statusChanged);
    connect(m_dispatcher.get(), &Dispatcher::indicatorChanged, this, &HardwareClient::indicatorChanged);
    connect(m_dispatcher.get(), &Dispatcher::settingsRefreshWanted, this, &HardwareClient::settingsRefreshWanted);
    connect(m_dispatcher.get(), &Dispatcher::settingsClientPageWanted, this,
            &HardwareClient::settingsClientPageWanted);
    connect(m_dispatcher.get(), &Dispatcher::placePanelWanted, this, &HardwareClient::placePanelWanted);
    connect(m_dispatcher.get(), &Dispatcher::callablesLoaded, this, &HardwareClient::callablesLoaded);
    connect(m_dispatcher.get(), &Dispatcher::stationCallablesLoaded, this, &HardwareClient::stationCallablesLoaded);
    connect(m_device.get(), &DeviceController::statusChanged, this, &HardwareClient::deviceStatusChanged);
    // With other receivers about, a line about the primary names it too.
    connect(m_device.get(), &DeviceController::notice, this, [this](const QString& text, bool warning) {
        emit notice(m_receivers->count() > 0 ? m_device->deviceName() + QStringLiteral(": ") + text : text, warning);
    });
    connect(m_receivers.get(), &ReceiverSet::notice, this, &HardwareClient::notice);
    connect(m_receivers.get(), &ReceiverSet::receiversChanged, this, &HardwareClient::receiversChanged);
    connect(m_receivers.get(), &ReceiverSet::statusChanged, this, &HardwareClient::otherReceiverStatusChanged);
    connect(m_receivers.get(), &ReceiverSet::faultChanged, this, &HardwareClient::otherReceiverFaultChanged);
    connect(m_telldus.get(), &TelldusWorker::devicesListed, this,
            [this](bool loaded, int, const QStringList& names) { emit deviceNamesLoaded(loaded, names); });
    connect(m_updater.get(), &UpdateClient::downloadProgress, this, &HardwareClient::downloadProgress);
}

HardwareClient::~HardwareClient()
{
    // The settings store must not reach a connection that is going away.
    if (m_settings)
        m_settings->setServerLink(nullptr);
}

QString HardwareClient::windowTitle() const { return m_dispatcher->windowTitle(); }

HardwareClient::Parts HardwareClient::parts()
{
    return Parts{m_state,       *m_identity,   m_ui,          *m_telldus,   *m_device,      *m_activation,
                 *m_connection, *m_dispatcher, *m_receivers, *m_updater, *m_minimizeTimer};
}

void HardwareClient::openSettings() { m_ui.showSettingsDialog(SettingsPage::ServerSettings); }

void HardwareClient::connectToServer()
{
    if (m_state.ServerConnectHook)
        m_state.ServerConnectHook(false);
}

bool HardwareClient::connected() const { return m_connection->isActive(); }

void HardwareClient::requestCallables()
{
    const std::string name = toWireString(m_identity->GetClientName());
    m_connection->sendFrame(QByteArray::fromStdString(protocol::buildGetAllCallables(name)));
    if (isCurrentServer(m_state.ServerVersionText))
        m_connection->sendFrame(QByteArray::fromStdString(protocol::buildGetStationCallables(name)));
}

void HardwareClient::postCallables(const std::vector<int>& ids)
{
    m_connection->sendFrame(QByteArray::fromStdString(
        protocol::buildPostCallables(toWireString(m_identity->GetClientName()), ctHardware, ids)));
}

void HardwareClient::registerClient(const QString& place, std::int32_t colour)
{
    TQUVOClientData& data = m_state.ClientData;
    m_connection->sendFrame(QByteArray::fromStdString(protocol::buildRegisterWithLopnr(
        toWireString(m_identity->GetClientName()), ctHardware, toWireString(place), colour, data.Lopnr)));
    data.FriendlyName = place;
    data.Color = colour;
}

void HardwareClient::applyServerSettings(const QString& serverName, int port, int pauseMs)
{
    m_settings->WriteSetting(kServer, QStringLiteral("ServerName"), serverName);
    m_settings->WriteSetting(kServer, QStringLiteral("ServerPort"), QString::number(port));

    // Socket and timer events go on; the person's input waits.
    QEventLoop loop;
    QTimer::singleShot(pauseMs, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (m_quitting)
        return;

    m_connection->forgetServer();
    // Without a connection the dialog's client page goes.
    emit settingsTabsWanted(SettingsPage::ServerSettings);
    if (m_quitting)
        return;
    connectToServer();
}

QString HardwareClient::automaticClientName()
{
    return m_identity->GetClientComputerName() + QLatin1Char('_') + clientTypeName(ctHardware);
}

const TCallList& HardwareClient::currentCalls() const { return m_dispatcher->CurrentCalls(); }

void HardwareClient::setDeviceName(const QString& name) { m_device->Edit1Change(name); }
QString HardwareClient::deviceName() const { return m_device->deviceName(); }
void HardwareClient::connectDevice() { m_device->BitBtn2Click(); }
void HardwareClient::switchByHand() { m_device->Panel4DblClick(); }

HardwareClient::ActivationChoice HardwareClient::activationChoice() const
{
    return {m_activation->secondsMode(), m_activation->seconds(), m_activation->blinkIntervalMs(),
            m_activation->blink()};
}

void HardwareClient::setActivationSecondsMode(bool secondsMode) { m_activation->setSecondsMode(secondsMode); }
void HardwareClient::setActivationSeconds(int seconds) { m_activation->SpinEdit1Change(seconds); }
void HardwareClient::setBlinkInterval(int ms) { m_activation->SpinEdit2Change(ms); }
void HardwareClient::setBlink(bool on) { m_activation->CheckBox1Click(on); }

std::vector<ReceiverLine> HardwareClient::receiverLines() { return ReceiverSet::readLines(*m_settings); }

void HardwareClient::saveReceivers(const std::vector<ReceiverLine>& lines)
{
    ReceiverSet::writeLines(*m_settings, lines);
    m_receivers->load();
}

void HardwareClient::requestDeviceNames() { m_telldus->listDevices(); }

void HardwareClient::suspendConnection() { m_connection->suspend(); }
void HardwareClient::resumeConnection() { m_connection->reopenAfterResume(); }
void HardwareClient::setUnattended(bool on) { m_connection->setRetryUnanswered(on); }
void HardwareClient::setFrontEndSwitches(const QStringList& switches) { m_state.frontEndSwitches = switches; }
qint64 HardwareClient::startedProgramPid() const { return m_updater->startedProgramPid(); }
void HardwareClient::setScreenCentreSource(std::function<QPoint()> source)
{
    m_updater->setScreenCentreSource(std::move(source));
}

void HardwareClient::FormCreate()
{
    m_state.ProgramType = ctHardware;
    emit windowTitleChanged(windowTitle());

    m_state.paths = InitPaths();
    m_settings->setSettingsFolderKey(m_state.paths.SettingsFolderKey);

    m_state.ServerConnectHook = [this](bool reconnect) { m_connection->ConnectToServer(reconnect); };

    m_device->restoreName();
    m_activation->restoreSettings();
    m_receivers->load();

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
    m_connection->forgetConnectedOnce();

    const QString server = m_settings->ReadSettingDef(kServer, QStringLiteral("ServerName"), QStringLiteral("ERROR"));
    if (server.trimmed() == QStringLiteral("ERROR")) {
        m_ui.showInfo(QStringLiteral("Gå till Systemregistret och ställ in servernamn och serverport."));
        m_ui.showSettingsDialog(SettingsPage::ServerSettings);
    } else {
        m_connection->ConnectToServer(false);
    }

    if (m_device->nameStartsLookup())
        m_device->BitBtn2Click();
    m_receivers->lookUp();
}

void HardwareClient::quit()
{
    if (m_quitting)
        return;
    m_quitting = true;
    emit quitStarted();

    m_updater->cancel();
    m_connection->stopTimers();
    m_minimizeTimer->stop();
    m_activation->stopTimers();
    m_receivers->stopTimers();
    m_connection->closeSocket();
    // Closing runs the loss handling, which arms the retry countdown again.
    m_connection->stopTimers();

    // On the worker, bounded: a stalled service must not hold the quit.
    // The last decision goes out if it has not yet (an off behind a slow
    // command, a failed one waiting for its retry); nothing else is sent.
    m_device->flushIntent();
    m_receivers->flushIntents();
    m_telldus->close();
    m_dispatcher->clearCalls();
    QCoreApplication::exit(1);
}

} // namespace quvo
