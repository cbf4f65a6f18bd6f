#pragma once
// Self-update: at the first connect, compare the own version with the wanted
// one and fetch, store and start the wanted program file.
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

namespace quvo {

struct ProgramState;
class SettingsStore;
class ClientIdentity;
class UserInterface;
class ServerConnection;

class UpdateClient : public QObject {
    Q_OBJECT
public:
    UpdateClient(ProgramState& state, SettingsStore& settings, ClientIdentity& identity, UserInterface& ui,
                 ServerConnection& mainConnection, QObject* parent = nullptr);
    ~UpdateClient() override;

    // Runs the whole check with the event loop running; true when the new
    // program has been started and this instance must end.
    bool RunUpdateCheck();

private:
    ProgramState& m_state;
    SettingsStore& m_settings;
    ClientIdentity& m_identity;
    UserInterface& m_ui;
    ServerConnection& m_main;
};

} // namespace quvo
