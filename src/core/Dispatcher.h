#pragma once
// Everything the server sends on the main connection: one pass per tag in a
// fixed order, then again on what is left.
#include "common/DataModel.h"
#include "common/UserInterface.h"
#include "protocol/StreamReader.h"
#include <QObject>
#include <QString>
#include <functional>
#include <string>

namespace quvo {

struct ProgramState;
class SettingsStore;
class ClientIdentity;
class ServerConnection;
class Activation;
class ReceiverSet;

class Dispatcher : public QObject {
    Q_OBJECT
public:
    Dispatcher(ProgramState& state, SettingsStore& settings, ClientIdentity& identity, UserInterface& ui,
               ServerConnection& connection, Activation& activation, QObject* parent = nullptr);
    ~Dispatcher() override;

    // One unit of the stream reader: a frame, an error text, or a whole block.
    void DispatchServerText(protocol::Unit unit);

    const TCallList& CurrentCalls() const { return m_currentCalls; }
    void clearCalls() { m_currentCalls.clear(); }
    QString ClinicName() const { return m_clinicName; }
    QString windowTitle() const;
    // The first call list with entries after an empty one starts this timer.
    void setMinimizeTimerStarter(std::function<void()> start) { m_startMinimize = std::move(start); }
    // The receivers besides the primary follow every call list too.
    void setReceivers(ReceiverSet* receivers) { m_receivers = receivers; }

signals:
    void callListEvaluated();
    void serverErrorReceived(const QString& text);   // an "ERROR:" text from the server
    void clinicNameChanged(const QString& name);
    void statusChanged(const QString& text);
    void indicatorChanged(Indicator colour);
    // The open settings dialog shows its page again: the server's version came.
    void settingsRefreshWanted();
    // The open settings dialog turns to its client page: this client is known.
    void settingsClientPageWanted();
    void placePanelWanted(bool visible);
    void callablesLoaded(const std::vector<CallableItem>& records);
    void stationCallablesLoaded(const std::vector<int>& ids);

private:
    struct Frames;
    // false when the server's version was refused: nothing more is handled.
    bool passes(const protocol::Unit& unit, Frames& frames);
    bool onePass(const protocol::Unit& unit, Frames& frames);
    void handleError(std::string_view errorText);
    void evaluateCallList(std::string_view frameCopy);

    ProgramState& m_state;
    SettingsStore& m_settings;
    ClientIdentity& m_identity;
    UserInterface& m_ui;
    ServerConnection& m_connection;
    Activation& m_activation;
    ReceiverSet* m_receivers = nullptr;
    TCallList m_currentCalls;
    QString m_clinicName;
    bool m_clinicNamed = false;
    quint64 m_evaluationSerial = 0;
    std::function<void()> m_startMinimize;
};

} // namespace quvo
