#pragma once
// The program without its windows: creation, first activation and the quit
// path. Front ends (desktop, headless, tests) drive it and implement
// UserInterface.
#include "common/ClientIdentity.h"
#include "common/ProgramState.h"
#include "common/SettingsStore.h"
#include "core/Dispatcher.h"
#include "core/GuardedUserInterface.h"
#include "core/ServerConnection.h"
#include "device/Activation.h"
#include "device/DeviceController.h"
#include "device/TelldusWorker.h"
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>

namespace quvo {

class UpdateClient;

class HardwareClient : public QObject {
    Q_OBJECT
public:
    // params: the command-line parameters 1..N.
    HardwareClient(UserInterface& frontEnd, const QStringList& params,
                   SettingsLocations settingsAt = SettingsLocations::fromEnvironment(),
                   QObject* parent = nullptr);
    ~HardwareClient() override;

    void FormCreate();
    void FormActivate();            // does nothing after the first time
    // FormClose and FormDestroy: timers off, socket closed, library released,
    // call list freed; then the event loop ends with exit code 1.
    void quit();
    bool quitting() const { return m_quitting; }

    QString windowTitle() const;
    bool autoRegister() const { return m_autoRegister; }

    ProgramState& state() { return m_state; }
    SettingsStore& settings() { return *m_settings; }
    ClientIdentity& identity() { return *m_identity; }
    UserInterface& ui() { return m_ui; }
    TelldusWorker& telldus() { return *m_telldus; }
    DeviceController& device() { return *m_device; }
    Activation& activation() { return *m_activation; }
    ServerConnection& connection() { return *m_connection; }
    Dispatcher& dispatcher() { return *m_dispatcher; }
    UpdateClient* updater() { return m_updater.get(); }
    QTimer& minimizeTimer() { return m_minimizeTimer; }

signals:
    void windowTitleChanged(const QString& title);
    void quitStarted();             // front ends close their windows

private:
    GuardedUserInterface m_ui;
    ProgramState m_state;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<ClientIdentity> m_identity;
    std::unique_ptr<TelldusWorker> m_telldus;
    std::unique_ptr<DeviceController> m_device;
    std::unique_ptr<Activation> m_activation;
    std::unique_ptr<ServerConnection> m_connection;
    std::unique_ptr<Dispatcher> m_dispatcher;
    std::unique_ptr<UpdateClient> m_updater;
    QTimer m_minimizeTimer;
    bool m_autoRegister = false;
    QString m_callListParam;
    bool m_firstActivationDone = false;
    bool m_quitting = false;
};

} // namespace quvo
