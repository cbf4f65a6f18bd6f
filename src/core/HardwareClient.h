#pragma once
// The program without its windows: creation, first activation and the quit
// path. Front ends (desktop, headless, tests) call its intents, implement
// UserInterface for what waits for a person, and follow its signals.
#include "common/Clock.h"
#include "common/ProgramState.h"
#include "common/SettingsStore.h"
#include "common/UserInterface.h"
#include <QObject>
#include <QPoint>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace quvo {

class Activation;
class ClientIdentity;
class DeviceController;
class Dispatcher;
class ReceiverSet;
struct ReceiverLine;
class ServerConnection;
class TelldusWorker;
class UpdateClient;

class HardwareClient : public QObject {
    Q_OBJECT
public:
    // params: the command-line parameters 1..N.
    HardwareClient(UserInterface& frontEnd, const QStringList& params,
                   SettingsLocations settingsAt = SettingsLocations::fromEnvironment(),
                   Clock& clock = Clock::system(), QObject* parent = nullptr);
    ~HardwareClient() override;

    void FormCreate();
    void FormActivate();            // does nothing after the first time
    // FormClose and FormDestroy: timers off, socket closed, library released,
    // call list freed; then the event loop ends with exit code 1.
    void quit();
    bool quitting() const { return m_quitting; }

    QString windowTitle() const;
    bool autoRegister() const { return m_autoRegister; }

    // What the front ends ask of the program.
    void openSettings();                       // the dialog on its server page
    void connectToServer();                    // a fresh connect, not a reconnect
    bool connected() const;
    // The dialog's resource lists: the full listing, and this station's
    // choice where the server knows it; both answer by signal.
    void requestCallables();
    void postCallables(const std::vector<int>& ids);
    void registerClient(const QString& place, std::int32_t colour);
    // Saves the server's address, waits pauseMs with events running, then
    // drops the old connection as if never connected and connects anew.
    void applyServerSettings(const QString& serverName, int port, int pauseMs);
    QString automaticClientName();             // computer name and program type
    const TCallList& currentCalls() const;

    void setDeviceName(const QString& name);
    QString deviceName() const;
    void connectDevice();                      // looks the receiver up by name
    void switchByHand();
    struct ActivationChoice { bool secondsMode; int seconds; int blinkIntervalMs; bool blink; };
    ActivationChoice activationChoice() const;
    void setActivationSecondsMode(bool secondsMode);
    void setActivationSeconds(int seconds);
    void setBlinkInterval(int ms);
    void setBlink(bool on);
    // The receivers besides the primary: what the settings hold, and writing
    // them anew ("Spara"), after which they are read again.
    std::vector<ReceiverLine> receiverLines();
    void saveReceivers(const std::vector<ReceiverLine>& lines);
    const ReceiverSet& receivers() const { return *m_receivers; }
    // The library's device names; answered by deviceNamesLoaded.
    void requestDeviceNames();

    // Power handling: suspend closes the connection; resume reopens it.
    void suspendConnection();
    void resumeConnection();
    // Nobody answers questions (headless): a failed first connect is retried.
    void setUnattended(bool on);
    // The switches a restarted program needs to come up the same way.
    void setFrontEndSwitches(const QStringList& switches);
    // The program a self-update started in this one's place; 0 if none.
    qint64 startedProgramPid() const;
    void setScreenCentreSource(std::function<QPoint()> source);

    const ProgramState& state() const { return m_state; }
    SettingsStore& settings() { return *m_settings; }

    // Tests and benchmarks drive and inspect the parts one by one, and the
    // observers (status endpoint, history) follow their signals; front ends
    // use the intents above.
    struct Parts {
        ProgramState& state;
        ClientIdentity& identity;
        UserInterface& ui;
        TelldusWorker& telldus;
        DeviceController& device;
        Activation& activation;
        ServerConnection& connection;
        Dispatcher& dispatcher;
        ReceiverSet& receivers;
        UpdateClient& updater;
        Timer& minimizeTimer;
    };
    Parts parts();

signals:
    void windowTitleChanged(const QString& title);
    void quitStarted();             // front ends close their windows
    void activationRestored();
    void deviceNameRestored(const QString& name);
    void deviceNameWanted();        // the name field should take the focus
    void receiverFaultChanged(bool fault, const QString& reason);
    // The other receivers: the list changed, or one of them.
    void receiversChanged();
    void otherReceiverStatusChanged(int key, const QString& name, const QString& caption, Indicator colour);
    void otherReceiverFaultChanged(int key, const QString& name, bool fault, const QString& reason);
    void deviceNamesLoaded(bool loaded, const QStringList& names);
    void serverSilent();            // the loss handling follows

    // State for the main window, in the order it changes.
    void statusChanged(const QString& text);
    void indicatorChanged(Indicator colour);
    void deviceStatusChanged(const QString& caption, Indicator colour);
    void minimizeWanted();
    void downloadProgress(qint64 bytes);
    // For whoever glances at the program, without stopping it: the tray's
    // message on the desktop, a line headless.
    void notice(const QString& text, bool warning);

    // State for the settings dialog.
    void settingsTabsWanted(SettingsPage page);
    void settingsRefreshWanted();       // when open: its page again
    void settingsClientPageWanted();    // when open: the client page
    void placePanelWanted(bool visible);
    void callablesLoaded(const std::vector<CallableItem>& records);
    void stationCallablesLoaded(const std::vector<int>& ids);

private:
    UserInterface& m_ui;
    Clock& m_clock;
    ProgramState m_state;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<ClientIdentity> m_identity;
    std::unique_ptr<TelldusWorker> m_telldus;
    std::unique_ptr<DeviceController> m_device;
    std::unique_ptr<Activation> m_activation;
    std::unique_ptr<ServerConnection> m_connection;
    std::unique_ptr<Dispatcher> m_dispatcher;
    std::unique_ptr<ReceiverSet> m_receivers;
    std::unique_ptr<UpdateClient> m_updater;
    std::unique_ptr<Timer> m_minimizeTimer;
    bool m_autoRegister = false;
    QString m_callListParam;
    bool m_firstActivationDone = false;
    bool m_quitting = false;
};

} // namespace quvo
