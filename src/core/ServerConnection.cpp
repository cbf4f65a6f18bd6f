#include "core/ServerConnection.h"

#include "common/ClientIdentity.h"
#include "common/Codec.h"
#include "common/Paths.h"
#include "common/ProgramState.h"
#include "common/SettingsStore.h"
#include "common/UserInterface.h"
#include "protocol/Frame.h"
#include "protocol/Messages.h"
#include "protocol/Readers.h"

#include <QMetaObject>
#include <QRandomGenerator>
#include <climits>
#include <exception>
#include <optional>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace quvo {

namespace {

const QString kTextReconnecting = QStringLiteral("Återansluter...");
const QString kTextTrying = QStringLiteral("Ej ansluten - försöker ansluta...");
const QString kTextConnected = QStringLiteral("Ansluten");
const QString kTextCheckSettings = QStringLiteral("Ej ansluten - kontrollera Serverinställningarna i Systemregistret");
const QString kTextOverflow = QStringLiteral(
    "Servern skickade mer data än klienten kan ta emot.\r\rDet mottagna som inte kunde tas emot har kastats; "
    "anslutningen fortsätter.");

const QString kNoticeLost = QStringLiteral("Ingen anslutning till servern på mer än 60 sekunder.");
const QString kNoticeBack = QStringLiteral("Ansluten till servern igen.");

// A dead peer or path is noticed by the kernel: probes after 10 s of
// silence, every 5 s, three of them; unacknowledged data gives up after 30 s.
constexpr int kKeepIdleS = 10;
constexpr int kKeepIntervalS = 5;
constexpr int kKeepCount = 3;
constexpr unsigned kUserTimeoutMs = 30000;
// A server that accepts and reads but answers nothing gets this long to
// answer the probe; the loss notice waits this long for a connection.
constexpr int kProbeWaitS = 15;
constexpr int kLossNoticeS = 60;

QString countdownText(int ms)
{
    return QStringLiteral("Ej ansluten - nästa försök om %1 sekunder").arg(ms / 1000);
}

// The numbers administrators know from the Windows sockets layer.
int systemErrorCode(QAbstractSocket::SocketError e)
{
    switch (e) {
    case QAbstractSocket::ConnectionRefusedError: return 10061;
    case QAbstractSocket::RemoteHostClosedError: return 10053;
    case QAbstractSocket::HostNotFoundError: return 11001;
    case QAbstractSocket::SocketAccessError: return 10013;
    case QAbstractSocket::SocketResourceError: return 10055;
    case QAbstractSocket::SocketTimeoutError: return 10060;
    case QAbstractSocket::NetworkError: return 10051;
    case QAbstractSocket::AddressInUseError: return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError: return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError: return 10045;
    default: return 10000 + int(e);
    }
}

// The version frame of a refused server among a read's units, as a unit of its own.
std::optional<protocol::Unit> refusedVersionIn(const std::vector<protocol::Unit>& units)
{
    using protocol::TokenKind;
    for (const protocol::Unit& u : units) {
        for (const protocol::Token& t : u.tokens) {
            if (t.kind != TokenKind::Frame || u.tag(t) != "RETSERVERVERSION" || !protocol::isRefusedVersion(u.frameCopy(t)))
                continue;
            protocol::Unit only;
            only.bytes.assign(u.text(t));
            only.tokens.push_back(protocol::Token{TokenKind::Frame, t.tagLength, 0, std::uint32_t(only.bytes.size())});
            return only;
        }
    }
    return std::nullopt;
}

} // namespace

ServerConnection::ServerConnection(ProgramState& state, SettingsStore& settings, ClientIdentity& identity,
                                   UserInterface& ui, Clock& clock, QObject* parent)
    : QObject(parent), m_state(state), m_settings(settings), m_identity(identity), m_ui(ui)
    , m_timer3(clock.createTimer()), m_reconnectTimer(clock.createTimer()), m_errorTimer(clock.createTimer())
    , m_idleTimer(clock.createTimer()), m_probeTimer(clock.createTimer()), m_lossTimer(clock.createTimer())
{
    m_timer3->setInterval(1000);
    m_timer3->setSingleShot(false);
    connect(m_timer3.get(), &Timer::timeout, this, &ServerConnection::Timer3Timer);
    m_reconnectTimer->setInterval(60000);
    connect(m_reconnectTimer.get(), &Timer::timeout, this, &ServerConnection::ReconnectTimerTimer);

    // Connect and error handling may open message boxes and nested event
    // loops; they run after the socket's own signal has returned.
    connect(&m_socket, &QTcpSocket::connected, this, &ServerConnection::onSocketConnected);
    connect(&m_socket, &QTcpSocket::connected, this, &ServerConnection::ClientSocket1Connect, Qt::QueuedConnection);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &ServerConnection::ClientSocket1Error, Qt::QueuedConnection);
    connect(&m_socket, &QTcpSocket::disconnected, this, &ServerConnection::onSocketDisconnected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &ServerConnection::ClientSocket1Read);
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // What Qt reads ahead of the read slot stays bounded too.
    m_socket.setReadBufferSize(1024 * 1024);

    m_random = [] { return int(QRandomGenerator::global()->bounded(15000)); };

    m_errorTimer->setSingleShot(true);
    m_errorTimer->setInterval(100);
    connect(m_errorTimer.get(), &Timer::timeout, this, &ServerConnection::releaseHeldError);

    m_idleTimer->setSingleShot(true);
    connect(m_idleTimer.get(), &Timer::timeout, this, &ServerConnection::idleTimerTimer);
    m_probeTimer->setSingleShot(true);
    connect(m_probeTimer.get(), &Timer::timeout, this, &ServerConnection::probeTimerTimer);
    m_lossTimer->setSingleShot(true);
    connect(m_lossTimer.get(), &Timer::timeout, this, [this] {
        m_lossNoticed = true;
        emit notice(kNoticeLost, true);
    });
}

ServerConnection::~ServerConnection()
{
    m_socket.disconnect(this);
    m_socket.abort();
}

void ServerConnection::setAutoRegister(bool on, const QString& callListParam)
{
    m_autoRegister = on;
    m_callListParam = callListParam;
}

void ServerConnection::setUpdateCheck(std::function<void()> check) { m_updateCheck = std::move(check); }
void ServerConnection::setTextHandler(std::function<void(protocol::Unit&&)> handler) { m_textHandler = std::move(handler); }
void ServerConnection::setRandomSource(std::function<int()> source) { m_random = std::move(source); }
void ServerConnection::setCountdownTickMs(int ms) { m_timer3->setInterval(ms); }
void ServerConnection::setSupervisionSecondMs(int ms) { m_secondMs = ms; }

void ServerConnection::setStatus(const QString& text) { emit statusChanged(text); }

QString ServerConnection::clientName() { return m_identity.GetClientName(); }

bool ServerConnection::isActive() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

bool ServerConnection::isOpening() const
{
    const auto s = m_socket.state();
    return s == QAbstractSocket::HostLookupState || s == QAbstractSocket::ConnectingState;
}

bool ServerConnection::isConnectionUp() const { return m_mainSocketSet && isActive(); }

void ServerConnection::sendFrame(const QByteArray& wireBytes)
{
    if (!isActive())
        return;
    m_socket.write(wireBytes);
    m_socket.flush();
}

void ServerConnection::sendText(const QString& frame) { sendFrame(toWire(frame)); }

void ServerConnection::ConnectToServer(bool reconnect)
{
    try {
        setStatus(reconnect ? kTextReconnecting : kTextTrying);
        if (isActive()) {
            closeSocket();
        } else if (isOpening()) {
            m_closingByUs = true;
            m_socket.abort();
            m_closingByUs = false;
        }
        const QString name = m_settings.ReadSetting(QStringLiteral("ServerSettings"), QStringLiteral("ServerName")).trimmed();
        m_host = name;
        if (IsNumericAddress(name)) {
            m_address = name;
            m_host.clear();
        }
        const int port = SettingsStore::toIntDef(
            m_settings.ReadSetting(QStringLiteral("ServerSettings"), QStringLiteral("ServerPort")), 0);
        m_port = (port > 0 && port <= 65535) ? quint16(port) : 0;
        // Not connected here: only the local files are asked.
        readSuperviseSetting();
        m_reconnectMark = reconnect;
        startLossWatch();
        openSocket();
    } catch (const std::exception& e) {
        m_ui.showInfo(QStringLiteral("Error when connecting to server!\r\r") + QString::fromLocal8Bit(e.what()));
    }
}

void ServerConnection::openSocket()
{
    m_reader.clear();
    m_queue.clear();
    m_errorTimer->stop();
    m_refused = false;
    m_connectPending = false;
    m_attemptConnected = false;
    m_socket.connectToHost(m_host.isEmpty() ? m_address : m_host, m_port);
}

void ServerConnection::onSocketConnected()
{
    m_connectPending = true;
    m_attemptConnected = true;
}

void ServerConnection::ClientSocket1Connect()
{
    if (!m_connectPending)
        return; // closed by this program before this ran; its loss handling has run
    m_connectPending = false;
    m_timer3->stop();
    m_mainSocketSet = true;
    m_connectedNow = true;
    m_handshakeOwed = true;
    m_state.HasBeenConnected = true;
    emit connectedChanged(true);
    if (!isActive()) {
        // Lost before this ran: the loss is handled as any other, with its retry.
        ClientSocket1Disconnect();
        return;
    }
    setKeepAlive();

    if (m_state.UpdateCheckPending && m_updateCheck) {
        // The check may end the program: the handshake follows its end. A
        // check already running takes this one after it.
        m_state.UpdateCheckPending = false;
        m_updateCheck();
        return;
    }
    m_state.UpdateCheckPending = false;
    // A connection that came back while a check of an earlier one runs does
    // not wait for it.
    sendHandshake();
}

void ServerConnection::updateCheckFinished(bool restart)
{
    if (restart) {
        closeSocket();
        emit quitRequested();
        return;
    }
    if (isActive())
        sendHandshake();
}

void ServerConnection::sendHandshake()
{
    // Once per connection, whatever asks for it.
    if (!m_handshakeOwed || !isActive())
        return;
    m_handshakeOwed = false;
    const int type = int(m_state.ProgramType);
    if (m_reconnectMark) {
        sendFrame(QByteArray::fromStdString(protocol::buildReconnect(toWireString(clientName()), type)));
        emit indicatorChanged(Indicator::Green);
        setStatus(kTextConnected);
        connectionEstablished();
        return;
    }
    if (m_autoRegister) {
        const auto& cd = m_state.ClientData;
        sendFrame(QByteArray::fromStdString(protocol::buildRegisterAuto(
            toWireString(cd.Name), type, toWireString(cd.FriendlyName), cd.Color)));
        sendFrame(QByteArray::fromStdString(
            protocol::buildPostCallablesRaw(toWireString(clientName()), type, toWireString(m_callListParam))));
    }
    sendFrame(QByteArray::fromStdString(protocol::buildGetServerVersion(toWireString(clientName()), type)));
    // A server stopped with this connection in its queue accepts it and
    // answers nothing: the handshake is supervised too.
    startSupervision();
}

void ServerConnection::onSocketDisconnected()
{
    // A closed connection ends an error text as well as a wait would.
    m_errorTimer->stop();
    releaseHeldError();
    if (m_closingByUs)
        return; // closeSocket runs the loss handling itself
    if (m_connectedNow)
        ClientSocket1Disconnect();
}

void ServerConnection::ClientSocket1Disconnect()
{
    handleLoss(m_state.HasBeenConnected);
}

void ServerConnection::handleLoss(bool retry)
{
    const bool wasEstablished = m_established;
    m_connectedNow = false;
    m_established = false;
    stopSupervision();
    m_handshakeOwed = false;
    emit connectedChanged(false);
    if (retry) {
        armCountdown();
        setStatus(countdownText(m_countdown));
    } else {
        setStatus(kTextCheckSettings);
    }
    emit indicatorChanged(Indicator::Red);
    if (wasEstablished)
        startLossWatch();
}

void ServerConnection::ClientSocket1Error(QAbstractSocket::SocketError error)
{
    // A connection that was up is handled by its disconnect notification
    // (or by its connect handling, when it was lost before that ran).
    if (m_connectedNow || m_attemptConnected) {
        if (m_connectedNow && m_socket.state() == QAbstractSocket::UnconnectedState)
            ClientSocket1Disconnect();
        return;
    }
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    if (m_state.HasBeenConnected) {
        ClientSocket1Disconnect();
    } else if (m_retryUnanswered && m_questionAsked) {
        handleLoss(true);
    } else {
        const QString question = QStringLiteral("Det gick inte att ansluta till ") + m_host + m_address
            + QStringLiteral(" på port ") + QString::number(m_port) + QStringLiteral("!") + QStringLiteral("\r\r")
            + QStringLiteral("Felkoden är: ") + QString::number(systemErrorCode(error)) + QStringLiteral("\r\r")
            + QStringLiteral("Redigera serverinställningarna?");
        m_questionAsked = true;
        if (m_ui.askYesNo(question))
            m_ui.showSettingsDialog(SettingsPage::ServerSettings);
        if (m_retryUnanswered) {
            if (!isActive() && !isOpening())
                handleLoss(true);
        } else if (error == QAbstractSocket::HostNotFoundError && !isActive() && !isOpening()) {
            ClientSocket1Disconnect();
        }
    }
}

void ServerConnection::armCountdown()
{
    const int r = m_random ? m_random() : 0;
    const int delay = (qBound(0, r, 14999) / 1000) * 1000 + 3000;
    m_timer3->stop();
    m_countdown = delay;
    m_timer3->start();
}

void ServerConnection::Timer3Timer()
{
    m_timer3->stop();
    if (m_countdown > 0) {
        m_countdown -= 1000;
        m_timer3->start();
        setStatus(countdownText(m_countdown));
        return;
    }
    if (!isActive()) {
        ConnectToServer(false);
        armCountdown();
    }
}

void ServerConnection::applyRefreshRule()
{
    m_reconnectTimer->stop();
    if (!m_settings.readBool(QStringLiteral("QUVO"), QStringLiteral("RefreshConnection"), false))
        return;
    const qint64 minutes = m_settings.readInt(QStringLiteral("QUVO"), QStringLiteral("RefreshConnectionTimer"), 1);
    const qint64 period = minutes * 60000;
    // A period of 0 never fires; a timer would fire continuously instead.
    if (period <= 0)
        return;
    m_reconnectTimer->setInterval(int(qMin<qint64>(period, INT_MAX)));
    m_reconnectTimer->start();
}

void ServerConnection::connectionEstablished()
{
    m_established = true;
    m_lossTimer->stop();
    if (m_lossNoticed) {
        m_lossNoticed = false;
        emit notice(kNoticeBack, false);
    }
    applyRefreshRule();
    // Connected now, so the server's settings count as well.
    readSuperviseSetting();
    startSupervision();
}

void ServerConnection::readSuperviseSetting()
{
    const int seconds = m_settings.readInt(QStringLiteral("ServerSettings"), QStringLiteral("SuperviseConnection"), 30);
    // At most a day: a timer takes no longer periods.
    m_superviseSeconds = qBound(0, seconds, 86400);
}

void ServerConnection::startSupervision()
{
    m_probeTimer->stop();
    if (m_superviseSeconds <= 0 || !isActive()) {
        m_idleTimer->stop();
        return;
    }
    m_idleTimer->start(int(qMin<qint64>(qint64(m_superviseSeconds) * m_secondMs, INT_MAX)));
}

void ServerConnection::stopSupervision()
{
    m_idleTimer->stop();
    m_probeTimer->stop();
}

void ServerConnection::noteArrival()
{
    if (m_idleTimer->isActive() || m_probeTimer->isActive())
        startSupervision();
}

void ServerConnection::idleTimerTimer()
{
    if (!isActive())
        return;
    // Its answer only renews the clinic name in the title.
    sendFrame(QByteArray::fromStdString(protocol::buildGetKlinikNamn()));
    m_probeTimer->start(kProbeWaitS * m_secondMs);
}

void ServerConnection::probeTimerTimer()
{
    if (!isActive())
        return;
    emit serverSilent();
    closeSocket();
}

void ServerConnection::startLossWatch()
{
    if (!m_lossTimer->isActive() && !m_lossNoticed && !m_established)
        m_lossTimer->start(kLossNoticeS * m_secondMs);
}

void ServerConnection::setKeepAlive()
{
    m_socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const qintptr fd = m_socket.socketDescriptor();
    if (fd < 0)
        return;
    // Best effort: a kernel without one of these still has the probe above.
    const int idle = kKeepIdleS, interval = kKeepIntervalS, count = kKeepCount;
    const unsigned userTimeout = kUserTimeoutMs;
    ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(int(fd), IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

void ServerConnection::ReconnectTimerTimer()
{
    m_reconnectTimer->stop();
    closeSocket();
    ConnectToServer(true);
}

void ServerConnection::closeSocket()
{
    const bool wasUp = isActive() || m_connectedNow;
    m_connectPending = false;
    m_closingByUs = true;
    m_socket.abort();
    m_closingByUs = false;
    if (wasUp)
        ClientSocket1Disconnect();
}

void ServerConnection::refuseServer()
{
    m_refused = true;
    m_queue.clear();
    m_reader.clear();
    m_errorTimer->stop();
    // Nor may a refresh reconnect start behind the message.
    stopTimers();
}

void ServerConnection::closeForGood()
{
    refuseServer();
    closeSocket();
    stopTimers();
}

void ServerConnection::stopTimers()
{
    m_reconnectTimer->stop();
    m_timer3->stop();
    stopSupervision();
    // No retry follows, so no notice that none came.
    m_lossTimer->stop();
}

void ServerConnection::forgetConnectedOnce() { m_state.HasBeenConnected = false; }

void ServerConnection::forgetServer()
{
    m_state.ServerVersionText.clear();
    m_state.UpdateServerVersionText.clear();
    forgetConnectedOnce();
    m_state.UpdateCheckPending = true;
    closeSocket();
}

void ServerConnection::suspend()
{
    if (m_mainSocketSet && isActive())
        closeSocket();
}

void ServerConnection::reopenAfterResume()
{
    if (!m_mainSocketSet)
        return;
    if (isActive())
        closeSocket();
    m_reconnectMark = false;
    m_closingByUs = true;
    m_socket.abort();
    m_closingByUs = false;
    openSocket();
}

void ServerConnection::ClientSocket1Read()
{
    // Read in pieces: what Qt has buffered meanwhile may be large.
    constexpr qint64 kPiece = 1024 * 1024;
    std::vector<protocol::Unit> units;
    std::vector<protocol::Unit> got;
    while (m_socket.bytesAvailable() > 0) {
        const QByteArray bytes = m_socket.read(kPiece);
        if (bytes.isEmpty())
            break;
        if (m_refused)
            continue;
        m_reader.feed(std::string_view(bytes.constData(), std::size_t(bytes.size())), units);
        for (protocol::Unit& u : units) {
            if (!u.isStray()) // text outside frames carries nothing
                got.push_back(std::move(u));
        }
        units.clear();
    }
    if (m_refused)
        return;
    // A server may keep sending into a block or frame that never ends: then
    // only what comes out whole shows that it still listens.
    if (!got.empty() || !m_reader.unitOpen())
        noteArrival();
    // A refused version refuses the whole read that brought it.
    if (std::optional<protocol::Unit> refused = refusedVersionIn(got)) {
        got.clear();
        got.push_back(std::move(*refused));
        m_reader.clear();
    }
    for (protocol::Unit& u : got)
        m_queue.push_back(std::move(u));
    if (m_reader.takeOverflow() && !m_overflowTold) {
        m_overflowTold = true;
        QMetaObject::invokeMethod(this, [this] { m_ui.showInfo(kTextOverflow); }, Qt::QueuedConnection);
    }
    // TCP may have cut an error text ("ERROR: 0" | "01"); its end is only
    // known when a frame opens or the server goes quiet.
    if (m_reader.errorOpen())
        m_errorTimer->start();
    else
        m_errorTimer->stop();
    scheduleDrain();
}

void ServerConnection::releaseHeldError()
{
    if (m_refused)
        return;
    std::vector<protocol::Unit> units;
    m_reader.waitElapsed(units);
    for (protocol::Unit& u : units) {
        if (!u.isStray())
            m_queue.push_back(std::move(u));
    }
    scheduleDrain();
}

void ServerConnection::scheduleDrain()
{
    // Dispatch outside readyRead: Qt does not emit it again while its slot
    // runs, and a settings read inside the dispatch must see its answer.
    if (!m_queue.empty() && !m_drainScheduled) {
        m_drainScheduled = true;
        QMetaObject::invokeMethod(this, &ServerConnection::drainQueue, Qt::QueuedConnection);
    }
}

void ServerConnection::drainQueue()
{
    m_drainScheduled = false;
    while (!m_queue.empty() && !m_refused) {
        protocol::Unit unit = std::move(m_queue.front());
        m_queue.pop_front();
        try {
            if (m_textHandler)
                m_textHandler(std::move(unit));
        } catch (const std::exception& e) {
            m_ui.showInfo(QStringLiteral("Error in ClientSocket1Read!\r\r") + QString::fromLocal8Bit(e.what()));
        }
    }
}

} // namespace quvo
