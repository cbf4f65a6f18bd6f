#include "core/Dispatcher.h"

#include "common/ClientIdentity.h"
#include "common/Codec.h"
#include "common/ProgramState.h"
#include "common/SettingsStore.h"
#include "common/UserInterface.h"
#include "common/VersionInfo.h"
#include "core/ServerConnection.h"
#include "device/Activation.h"
#include "protocol/Field.h"
#include "protocol/Frame.h"
#include "protocol/Messages.h"
#include "protocol/Readers.h"

#include <exception>

namespace quvo {

using namespace protocol;

namespace {

const QString kTitle = QStringLiteral("QUVO Windows Hårdvaruklient för TellStick");
const QString kNoResources = QStringLiteral(
    "Det finns inga resurser att visa i listan!\rGå till Systemregistret, fyll i önskade resurser och tryck på Spara.");
const QString kUnknownClient = QStringLiteral(
    "Klienten finns inte i databasen!\rGå till Systemregistret, fyll i Klientnamn/plats, välj en färg och tryck på "
    "Lägg till.");
constexpr int kMinimumVersion = 1104;

bool blank(std::string_view t) { return trimControl(t).empty(); }

} // namespace

Dispatcher::Dispatcher(ProgramState& state, SettingsStore& settings, ClientIdentity& identity, UserInterface& ui,
                       ServerConnection& connection, Activation& activation, QObject* parent)
    : QObject(parent), m_state(state), m_settings(settings), m_identity(identity), m_ui(ui),
      m_connection(connection), m_activation(activation)
{
}

QString Dispatcher::windowTitle() const
{
    static const QString version = TCEVersionInfo().ProductVersion;
    if (m_clinicName.isEmpty())
        return kTitle + QStringLiteral("  version: ") + version;
    return kTitle + QStringLiteral(" - ") + m_clinicName + QStringLiteral("  version: ") + version;
}

void Dispatcher::DispatchServerText(std::string text)
{
    dispatch(std::move(text));
}

bool Dispatcher::dispatch(std::string t)
{
    const ErrorSpan err = findErrorText(t);
    if (err.start != std::string::npos) {
        // Complete frames before the error text are still handled; a refused
        // server version among them ends everything.
        if (!blank(std::string_view(t).substr(0, err.start)) && !dispatch(t.substr(0, err.start)))
            return false;
        handleError(t.substr(err.start, err.end - err.start));
        if (err.end < t.size())
            return dispatch(t.substr(err.end));
        return true;
    }
    while (true) {
        const std::string start = t;
        PassEnd end;
        try {
            end = onePass(t);
        } catch (const std::exception& e) {
            m_ui.showInfo(QStringLiteral("Error in ClientSocket1Read!\r\r") + QString::fromLocal8Bit(e.what()));
            return true;
        }
        if (end == PassEnd::Refused)
            return false;
        if (blank(t) || t == start)
            return true;
    }
}

Dispatcher::PassEnd Dispatcher::onePass(std::string& t)
{
    if (auto span = findFrame(t, "RETSERVERVERSION")) {
        const QString version = fromWire(readServerVersion(frameCopy(t, *span)));
        removeFrame(t, *span);
        m_state.ServerVersionText = version;
        if (m_ui.settingsDialogVisible())
            m_ui.setSettingsTabs(m_ui.settingsDialogPage());
        if (versionNumber(toWireString(version), 0) < kMinimumVersion) {
            m_ui.showInfo(QStringLiteral("Fel serverversion!\r\rQUVO-Servern har version ") + version
                          + QStringLiteral("\r") + QStringLiteral("Minst version ") + QStringLiteral("1.10.4")
                          + QStringLiteral(" krävs!"));
            m_connection.closeForGood();
            m_ui.setStatusText(QStringLiteral("Fel serverversion ") + version + QStringLiteral(" INTE ansluten"));
            return PassEnd::Refused;
        }
        const std::string name = toWireString(m_identity.GetClientName());
        m_connection.sendFrame(QByteArray::fromStdString(buildGetCallList(name)));
        m_connection.sendFrame(QByteArray::fromStdString(buildGetKlinikNamn()));
        m_ui.setIndicator(Indicator::Green);
        m_ui.setStatusText(QStringLiteral("Ansluten"));
        m_connection.connectionEstablished();
    }

    if (auto span = findFrame(t, "RETINITEXT")) {
        const QString value = fromWire(readIniText(frameCopy(t, *span)));
        removeFrame(t, *span);
        m_settings.deliverIniReply(value);
    }

    if (hasFrame(t, "QUVOCLIENTDATA")) {
        m_ui.setPlacePanelVisible(false);
        if (auto span = findFrame(t, "QUVOCLIENTDATA")) {
            const ClientDataFields f = readClientData(frameCopy(t, *span));
            removeFrame(t, *span);
            m_state.ClientData.Name = fromWire(f.name);
            m_state.ClientData.FriendlyName = fromWire(f.place);
            m_state.ClientData.Color = f.colour;
            if (m_ui.settingsDialogVisible())
                m_ui.setSettingsTabs(SettingsPage::ClientSettings);
        }
    }

    if (auto span = findFrame(t, "RETKLINIKNAMN")) {
        m_clinicName = fromWire(readKlinikNamn(frameCopy(t, *span)));
        removeFrame(t, *span);
        m_ui.setWindowTitle(windowTitle());
        emit clinicNameChanged(m_clinicName);
    }

    // The dialog asks for the full listing first and its lists rely on
    // getting it first, so a pair in one text is taken in arrival order.
    auto station = findFrame(t, "RETSTATIONCALLABLES");
    auto all = findFrame(t, "RETALLCALLABLES");
    auto takeStation = [&] {
        if (auto span = findFrame(t, "RETSTATIONCALLABLES")) {
            const std::vector<int> ids = readStationCallables(frameCopy(t, *span));
            removeFrame(t, *span);
            m_ui.selectStationCallables(ids);
        }
    };
    auto takeAll = [&] {
        if (auto span = findFrame(t, "RETALLCALLABLES")) {
            std::vector<CallableItem> items;
            for (const CallableRecord& r : readAllCallables(frameCopy(t, *span)))
                items.push_back(CallableItem{fromWire(r.name), r.id, fromWire(r.activeFlag)});
            removeFrame(t, *span);
            m_ui.loadAllCallables(items);
        }
    };
    if (station && all && all->start < station->start) {
        takeAll();
        takeStation();
    } else {
        takeStation();
        takeAll();
    }

    if (auto span = findFrame(t, "CURRENTLIST")) {
        const std::string copy(frameCopy(t, *span));
        removeFrame(t, *span);
        evaluateCallList(copy);
    }
    return PassEnd::Again;
}

void Dispatcher::handleError(const std::string& errorText)
{
    if (errorText.find("ERROR: 001") != std::string::npos) {
        m_ui.showInfo(kUnknownClient);
        m_ui.setPlacePanelVisible(true);
        m_ui.showSettingsDialog(SettingsPage::ClientSettings);
        return;
    }
    // "ERROR:" and the one character after it are not part of the message.
    const std::string rest = errorText.size() > 7 ? errorText.substr(7) : std::string();
    m_ui.showInfo(QStringLiteral("Servern svarade med följande fel: ") + fromWire(rest));
}

void Dispatcher::evaluateCallList(std::string_view frameCopy)
{
    const std::size_t before = m_currentCalls.size();
    m_currentCalls.clear();
    const CallList list = readCurrentList(frameCopy);
    m_currentCalls.reserve(list.entries.size());
    for (const CallEntry& e : list.entries) {
        TCallObject call;
        call.CallName = fromWire(e.name);
        call.CallLopnr = e.lopnr;
        call.CallColour = e.colour;
        call.CallIX = e.ix;
        call.CurrentCallList.reserve(e.callers.size());
        for (const CallerRecord& c : e.callers) {
            TCaller caller;
            caller.CallerName = fromWire(c.name);
            caller.CallerLopnr = c.lopnr;
            caller.CallTimeStamp = c.callTime;
            caller.CallerColour = c.colour;
            caller.CallComingLopnr = c.comingLopnr;
            caller.CallComingTimeStamp = c.comingTime;
            caller.CallComingName = fromWire(c.comingName);
            call.CurrentCallList.push_back(std::move(caller));
        }
        m_currentCalls.push_back(std::move(call));
    }

    const quint64 serial = ++m_evaluationSerial;
    if (m_currentCalls.empty()) {
        m_activation.StopActivation();
        m_ui.showInfo(kNoResources);
        m_ui.showSettingsDialog(SettingsPage::ClientSettings);
    } else if (before == 0 && m_startMinimize) {
        m_startMinimize();
    }
    // A list evaluated while the boxes above were open has decided already.
    if (serial == m_evaluationSerial) {
        if (list.hasUnconfirmed())
            m_activation.StartActivation();
        else
            m_activation.StopActivation();
    }
    emit callListEvaluated();
}

} // namespace quvo
