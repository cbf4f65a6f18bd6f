#include "core/Dispatcher.h"

#include "common/ClientIdentity.h"
#include "common/Codec.h"
#include "common/ProgramState.h"
#include "common/SettingsStore.h"
#include "common/Text.h"
#include "common/UserInterface.h"
#include "common/VersionInfo.h"
#include "core/ReceiverSet.h"
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

} // namespace

Dispatcher::Dispatcher(ProgramState& state, SettingsStore& settings, ClientIdentity& identity, UserInterface& ui,
                       ServerConnection& connection, Activation& activation, QObject* parent)
    : QObject(parent), m_state(state), m_settings(settings), m_identity(identity), m_ui(ui),
      m_connection(connection), m_activation(activation)
{
    // What the server sends comes straight here, a whole unit at a time.
    m_connection.setTextHandler([this](protocol::Unit&& unit) { DispatchServerText(std::move(unit)); });
}

Dispatcher::~Dispatcher() { m_connection.setTextHandler({}); }

QString Dispatcher::windowTitle() const
{
    static const QString version = TCEVersionInfo().ProductVersion;
    // Until the server has named the clinic; an empty name keeps the " - ".
    if (!m_clinicNamed)
        return kTitle + QStringLiteral("  version: ") + version;
    return kTitle + QStringLiteral(" - ") + m_clinicName + QStringLiteral("  version: ") + version;
}

// The frames of the tags handled here, in stream order per tag; a pass takes
// the first one left of each tag.
namespace {
enum Tag { RetServerVersion, RetIniText, QuvoClientData, RetKlinikNamn, RetStationCallables, RetAllCallables,
           CurrentList, kTagCount };

int tagIndex(std::string_view tag)
{
    static constexpr std::string_view names[kTagCount] = {"RETSERVERVERSION",    "RETINITEXT",      "QUVOCLIENTDATA",
                                                          "RETKLINIKNAMN",       "RETSTATIONCALLABLES",
                                                          "RETALLCALLABLES",     "CURRENTLIST"};
    for (int i = 0; i < kTagCount; ++i)
        if (names[i] == tag)
            return i;
    return -1;
}
} // namespace

struct Dispatcher::Frames {
    std::vector<std::uint32_t> of[kTagCount];   // token indexes
    std::size_t next[kTagCount] = {};
    bool has(int tag) const { return next[tag] < of[tag].size(); }
    std::uint32_t front(int tag) const { return of[tag][next[tag]]; }
    const Token* take(const Unit& u, int tag) { return has(tag) ? &u.tokens[of[tag][next[tag]++]] : nullptr; }
    bool any() const
    {
        for (int i = 0; i < kTagCount; ++i)
            if (has(i))
                return true;
        return false;
    }
    void clear()
    {
        for (int i = 0; i < kTagCount; ++i) {
            of[i].clear();
            next[i] = 0;
        }
    }
};

void Dispatcher::DispatchServerText(Unit unit)
{
    // Error texts split the unit: the frames before one are handled first,
    // in passes of their own, and a refused server version ends everything.
    Frames frames;
    for (std::uint32_t i = 0; i < unit.tokens.size(); ++i) {
        const Token& t = unit.tokens[i];
        if (t.kind == TokenKind::Frame) {
            const int tag = tagIndex(unit.tag(t));
            if (tag >= 0)
                frames.of[tag].push_back(i);
        } else if (t.kind == TokenKind::ErrorText) {
            if (!passes(unit, frames))
                return;
            frames.clear();
            handleError(unit.text(t));
        }
    }
    passes(unit, frames);
}

bool Dispatcher::passes(const Unit& unit, Frames& frames)
{
    while (frames.any()) {
        try {
            if (!onePass(unit, frames))
                return false;
        } catch (const std::exception& e) {
            m_ui.showInfo(QStringLiteral("Error in ClientSocket1Read!\r\r") + QString::fromLocal8Bit(e.what()));
            return true;
        }
    }
    return true;
}

bool Dispatcher::onePass(const Unit& unit, Frames& frames)
{
    if (const Token* f = frames.take(unit, RetServerVersion)) {
        const QString version = shownText(fromWire(readServerVersion(unit.frameCopy(*f))));
        m_state.ServerVersionText = version;
        emit settingsRefreshWanted();
        if (isRefusedVersion(unit.frameCopy(*f))) {
            // Before the message: its event loop must not handle what this
            // server sent along with its version, or sends meanwhile.
            m_connection.refuseServer();
            m_ui.showInfo(QStringLiteral("Fel serverversion!\r\rQUVO-Servern har version ") + version
                          + QStringLiteral("\r") + QStringLiteral("Minst version ") + QStringLiteral("1.10.4")
                          + QStringLiteral(" krävs!"));
            m_connection.closeForGood();
            emit statusChanged(QStringLiteral("Fel serverversion ") + version + QStringLiteral(" INTE ansluten"));
            return false;
        }
        const std::string name = toWireString(m_identity.GetClientName());
        m_connection.sendFrame(QByteArray::fromStdString(buildGetCallList(name)));
        m_connection.sendFrame(QByteArray::fromStdString(buildGetKlinikNamn()));
        emit indicatorChanged(Indicator::Green);
        emit statusChanged(QStringLiteral("Ansluten"));
        m_connection.connectionEstablished();
    }

    if (const Token* f = frames.take(unit, RetIniText))
        m_settings.deliverIniReply(fromWire(readIniText(unit.frameCopy(*f))));

    if (const Token* f = frames.take(unit, QuvoClientData)) {
        emit placePanelWanted(false);
        const ClientDataFields d = readClientData(unit.frameCopy(*f));
        m_state.ClientData.Name = fromWire(d.name);
        m_state.ClientData.FriendlyName = fromWire(d.place);
        m_state.ClientData.Color = d.colour;
        emit settingsClientPageWanted();
    }

    if (const Token* f = frames.take(unit, RetKlinikNamn)) {
        m_clinicName = shownText(fromWire(readKlinikNamn(unit.frameCopy(*f))));
        m_clinicNamed = true;
        emit clinicNameChanged(m_clinicName);
    }

    // The dialog asks for the full listing first and its lists rely on
    // getting it first, so a pair in one text is taken in arrival order.
    auto takeStation = [&] {
        if (const Token* f = frames.take(unit, RetStationCallables))
            emit stationCallablesLoaded(readStationCallables(unit.frameCopy(*f)));
    };
    auto takeAll = [&] {
        if (const Token* f = frames.take(unit, RetAllCallables)) {
            std::vector<CallableItem> items;
            for (const CallableRecord& r : readAllCallables(unit.frameCopy(*f)))
                items.push_back(CallableItem{fromWire(r.name), r.id, fromWire(r.activeFlag)});
            emit callablesLoaded(items);
        }
    };
    if (frames.has(RetStationCallables) && frames.has(RetAllCallables)
        && frames.front(RetAllCallables) < frames.front(RetStationCallables)) {
        takeAll();
        takeStation();
    } else {
        takeStation();
        takeAll();
    }

    if (const Token* f = frames.take(unit, CurrentList))
        evaluateCallList(unit.frameCopy(*f));
    return true;
}

void Dispatcher::handleError(std::string_view errorText)
{
    emit serverErrorReceived(fromWire(errorText));
    if (errorText.find("ERROR: 001") != std::string_view::npos) {
        m_ui.showInfo(kUnknownClient);
        emit placePanelWanted(true);
        m_ui.showSettingsDialog(SettingsPage::ClientSettings);
        return;
    }
    // "ERROR:" and the one character after it are not part of the message.
    const std::string_view rest = errorText.size() > 7 ? errorText.substr(7) : std::string_view();
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
    const bool empty = m_currentCalls.empty();
    if (empty) {
        m_activation.StopActivation();
        // Before the box: the others must not stay on while it is open.
        if (m_receivers)
            m_receivers->callList(m_currentCalls);
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
    // After the primary, whose command then goes to the worker first.
    if (!empty && m_receivers)
        m_receivers->callList(m_currentCalls);
    emit callListEvaluated();
}

} // namespace quvo
