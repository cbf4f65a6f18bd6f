#include "core/UpdateClient.h"

#include "common/ClientIdentity.h"
#include "common/Codec.h"
#include "common/ProgramState.h"
#include "common/SettingsStore.h"
#include "common/Text.h"
#include "common/UserInterface.h"
#include "core/ServerConnection.h"
#include "protocol/Field.h"
#include "protocol/Frame.h"
#include "protocol/Messages.h"
#include "protocol/Readers.h"

#include <QMetaObject>

#include <exception>
#include <string_view>

namespace quvo {

namespace {

// Texts shown to the person.
const QString kErrorInConnect = QStringLiteral("Error in UpdateSocketConnect!\r\r");
const QString kErrorInRead = QStringLiteral("Error in UpdateSocketRead!\r\r");
const QString kSocketError = QStringLiteral("Error in UpdateSocket: ");
const QString kServerError = QStringLiteral("Servern svarade med följande fel: ");
const QString kSaveFailed =
    QStringLiteral("Det fanns en ny version tillgänglig. Den gick dock inte att spara ner i katalogen \r");
const QString kStartFailed = QStringLiteral("Den nya versionen av programmet kunde inte startas:\r\r");
const QString kStartEnded = QStringLiteral("Den nya versionen av programmet avslutades direkt efter starten:\r\r");
const QString kTooLarge = QStringLiteral(
    "Den nya versionen av programmet är större än %1 MB och hämtas därför inte.");

constexpr qint64 kProgressStepBytes = 64 * 1024;
constexpr qint64 kProgressStepMs = 250;

} // namespace

UpdateClient::UpdateClient(ProgramState& state, SettingsStore& settings, ClientIdentity& identity,
                           UserInterface& ui, ServerConnection& mainConnection, QObject* parent)
    : QObject(parent), m_state(state), m_settings(settings), m_identity(identity), m_ui(ui),
      m_main(mainConnection), m_starter(state, settings)
{
    connect(&m_connection, &UpdateConnection::connected, this, &UpdateClient::UpdateSocketConnect);
    connect(&m_connection, &UpdateConnection::received, this, &UpdateClient::UpdateSocketRead);
    connect(&m_connection, &UpdateConnection::failed, this, &UpdateClient::UpdateSocketError);
    connect(&m_connection, &UpdateConnection::closed, this, &UpdateClient::UpdateSocketDisconnect);
    connect(&m_connection, &UpdateConnection::waitExpired, this, &UpdateClient::UpdateTimerTimer);
    connect(&m_starter, &ProgramStarter::stayedUp, this, &UpdateClient::programStayedUp);
    connect(&m_starter, &ProgramStarter::ended, this, &UpdateClient::programEnded);
    m_errorTimer.setSingleShot(true);
    m_errorTimer.setInterval(100);
    connect(&m_errorTimer, &QTimer::timeout, this, [this] {
        auto events = m_receiver.waitElapsed();
        handleEvents(events);
    });
    m_mainEndpoint = [this] {
        return MainEndpoint{m_main.hostName(), m_main.address(), m_main.port()};
    };
}

UpdateClient::~UpdateClient()
{
    // Nothing the closing connection says reaches a half-destroyed check.
    m_connection.disconnect(this);
}

void UpdateClient::setWaits(int connectMs, int answerMs, int downloadMs)
{
    m_connectMs = connectMs;
    m_answerMs = answerMs;
    m_downloadMs = downloadMs;
}

void UpdateClient::setScreenCentreSource(std::function<QPoint()> source)
{
    m_screenCentre = std::move(source);
}

void UpdateClient::setMainEndpointSource(std::function<MainEndpoint()> source)
{
    m_mainEndpoint = std::move(source);
}

void UpdateClient::setDownloadLimit(qint64 bytes)
{
    m_receiver.setFileLimit(bytes);
}

void UpdateClient::tell(const QString& text)
{
    // From the event loop, never from inside a handler of the check: a box
    // nobody answers must not hold the update connection's reads. The check
    // itself never waits in a nested loop, so it goes on under any box.
    QMetaObject::invokeMethod(this, [this, text] { m_ui.showInfo(text); }, Qt::QueuedConnection);
}

void UpdateClient::RunUpdateCheck()
{
    if (m_phase != Phase::Idle) {
        m_again = true;
        return;
    }
    beginCheck();
}

void UpdateClient::stopReading()
{
    m_file.drop();
    m_receiver.reset();
    m_errorTimer.stop();
}

void UpdateClient::cancel()
{
    ++m_generation;
    m_phase = Phase::Idle;
    m_again = false;
    m_starter.stop();
    m_connection.stopWait();
    m_connection.abort();
    stopReading();
}

void UpdateClient::beginCheck()
{
    ++m_generation;
    m_again = false;
    m_starter.stop();
    if (!m_connection.idle())
        m_connection.abort();
    // Busy from here on: the settings reads below may wait for the server,
    // and a check asked for meanwhile has to follow this one.
    m_phase = Phase::Connecting;
    stopReading();
    m_fileFailed = false;
    m_requested = false;
    m_wanted = 0;
    m_starter.reset();
    m_updateState = StateWaiting;
    m_restarting = false;
    m_saveFailed = false;
    m_waitExpired = false;
    const quint64 generation = m_generation;

    const MainEndpoint main = m_mainEndpoint();
    QString host = main.host.trimmed();
    if (host.isEmpty())
        host = main.address;
    const QString name =
        m_settings.ReadServerSettingDef(QStringLiteral("ServerSettings"), QStringLiteral("UpdateServerName"), host)
            .trimmed();
    int port = SettingsStore::toIntDef(
        m_settings.ReadServerSetting(QStringLiteral("ServerSettings"), QStringLiteral("UpdateServerPort")),
        main.port);
    if (port < 0 || port > 65535)
        port = main.port;
    if (generation != m_generation)
        return;   // cancelled while a setting was read

    m_connection.restartWait(m_connectMs);
    m_connection.open(name, quint16(port));
}

void UpdateClient::finish(bool restart)
{
    if (m_phase == Phase::Idle || m_phase == Phase::Ending)
        return;
    m_starter.stop();
    if (restart || m_updateState == StateCurrent) {
        // Closes the update connection in a while (the version answer may
        // still come), unless the program has ended by then.
        m_connection.restartWait(m_answerMs);
    } else {
        m_connection.stopWait();
        if (!m_connection.idle())
            m_connection.abort();
        stopReading();
    }
    m_phase = Phase::Ending;
    // Reported from the event loop, not from inside a socket's signal.
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this, [this, restart, generation] { if (generation == m_generation) endCheck(restart); },
        Qt::QueuedConnection);
}

void UpdateClient::endCheck(bool restart)
{
    if (m_phase != Phase::Ending)
        return;
    m_phase = Phase::Idle;
    if (restart) {
        m_again = false;
        emit checkFinished(true);
        return;
    }
    if (m_again) {
        beginCheck();
        return;
    }
    emit checkFinished(false);
}

void UpdateClient::requestNewClient()
{
    m_requested = true;
    m_phase = Phase::Download;
    m_connection.restartWait(m_downloadMs);
    m_connection.send(QByteArray::fromStdString(
        protocol::buildGetNewClient(toWireString(m_starter.programFileName()),
                                    toWireString(m_identity.GetClientName()), int(m_state.ProgramType))));
}

void UpdateClient::UpdateSocketConnect()
{
    if (m_phase != Phase::Connecting)
        return;
    m_phase = Phase::Answer;
    m_connection.restartWait(m_answerMs);
    const quint64 generation = m_generation;
    try {
        const int own = m_starter.ownVersion();
        m_wanted = m_starter.wantedVersion(own);
        const std::string client = toWireString(m_identity.GetClientName());
        if (generation != m_generation || m_phase != Phase::Answer)
            return;
        m_connection.send(
            QByteArray::fromStdString(protocol::buildGetServerVersion(client, int(m_state.ProgramType))));

        if (own >= m_wanted) {
            m_updateState = StateCurrent;
            finish(false);
            return;
        }
        m_updateState = StateUpdating;
        // A waiting copy that cannot be started is fetched anew.
        if (m_starter.waitingCopyFits(m_wanted) && startProgram(m_starter.updateCopy()))
            return;
        requestNewClient();
    } catch (const std::exception& e) {
        tell(kErrorInConnect + QString::fromLocal8Bit(e.what()));
    }
}

void UpdateClient::UpdateSocketRead(const QByteArray& chunk)
{
    try {
        auto events = m_receiver.feed(std::string_view(chunk.constData(), std::size_t(chunk.size())));
        if (m_receiver.errorOpen())
            m_errorTimer.start();
        else
            m_errorTimer.stop();
        handleEvents(events);
    } catch (const std::exception& e) {
        tell(kErrorInRead + QString::fromLocal8Bit(e.what()));
    }
}

void UpdateClient::handleEvents(std::vector<protocol::UpdateReceiver::Event>& events)
{
    using Kind = protocol::UpdateReceiver::EventKind;
    for (protocol::UpdateReceiver::Event& event : events) {
        switch (event.kind) {
        case Kind::Message:
            handleMessage(event.message);
            break;
        case Kind::FileBegin:
            beginFile();
            break;
        case Kind::FileData:
            writeFile(QByteArray::fromStdString(event.bytes));
            break;
        case Kind::FileEnd:
            finishFile();
            break;
        case Kind::Overflow:
            if (m_file.isOpen()) {
                m_file.drop();
                m_fileFailed = true;
                tell(kTooLarge.arg(m_receiver.fileLimit() / (1024 * 1024)));
            }
            break;
        }
    }
}

void UpdateClient::handleMessage(const protocol::Unit& message)
{
    bool versionSeen = false;
    for (const protocol::Token& t : message.tokens) {
        if (t.kind == protocol::TokenKind::Frame && !versionSeen && message.tag(t) == "RETSERVERVERSION") {
            versionSeen = true;
            m_state.UpdateServerVersionText = shownText(fromWire(protocol::readServerVersion(message.frameCopy(t))));
        } else if (t.kind == protocol::TokenKind::ErrorText) {
            // "ERROR: 001" is for the main connection to report.
            const std::string_view text = message.text(t);
            if (text.find("ERROR: 001") == std::string_view::npos)
                tell(kServerError + fromWire(text.size() > 7 ? text.substr(7) : std::string_view()));
        }
    }
}

void UpdateClient::beginFile()
{
    m_file.drop();
    m_fileFailed = false;
    if (!m_requested || m_phase != Phase::Download) {
        // Nothing was asked for: a program file nobody requested is not stored.
        m_fileFailed = true;
        return;
    }
    if (!m_file.begin(m_state.paths.UpdateFolder, m_starter.programFileName())) {
        saveFailed();
        return;
    }
    m_lastProgress = 0;
    m_progressClock.start();
    emit downloadProgress(0);
}

void UpdateClient::writeFile(const QByteArray& bytes)
{
    if (m_fileFailed || !m_file.isOpen())
        return;
    if (!m_file.write(bytes)) {
        saveFailed();
        return;
    }
    reportProgress(false);
}

void UpdateClient::reportProgress(bool force)
{
    const qint64 bytes = m_file.size();
    if (bytes == m_lastProgress && !force)
        return;
    if (force || bytes - m_lastProgress >= kProgressStepBytes || m_progressClock.elapsed() >= kProgressStepMs) {
        m_lastProgress = bytes;
        m_progressClock.restart();
        emit downloadProgress(bytes);
    }
}

void UpdateClient::finishFile()
{
    if (m_fileFailed || !m_file.isOpen())
        return;
    reportProgress(true);
    const QString temp = m_file.complete();
    if (temp.isEmpty()) {
        saveFailed();
        return;
    }
    const QString refusal = m_starter.refusal(temp, m_wanted);
    if (!refusal.isEmpty()) {
        giveUp(refusal);
        return;
    }
    const QString target = m_state.paths.UpdateFolder + m_starter.programFileName();
    if (!m_file.install(target)) {
        saveFailed();
        return;
    }
    if (!startProgram(target)) {
        tell(kStartFailed + target);
        finish(false);
    }
}

void UpdateClient::saveFailed()
{
    m_file.drop();
    m_fileFailed = true;
    m_saveFailed = true;
    tell(kSaveFailed + m_state.paths.UpdateFolder + QStringLiteral("!"));
    finish(false);
}

void UpdateClient::giveUp(const QString& message)
{
    m_file.drop();
    m_fileFailed = true;
    tell(message);
    finish(false);
}

bool UpdateClient::startProgram(const QString& path)
{
    if (!m_starter.start(path))
        return false;
    m_startedDownload = m_requested;
    m_phase = Phase::Watching;
    m_connection.stopWait();
    return true;
}

void UpdateClient::programStayedUp()
{
    if (m_phase != Phase::Watching)
        return;
    m_restarting = true;
    finish(true);
}

void UpdateClient::programEnded()
{
    if (m_phase != Phase::Watching)
        return;
    tell(kStartEnded + m_starter.path());
    // A waiting copy that does not run is fetched anew.
    if (!m_startedDownload && m_connection.isConnected()) {
        requestNewClient();
        return;
    }
    finish(false);
}

void UpdateClient::UpdateSocketError(QAbstractSocket::SocketError error)
{
    // The server closing the connection is its end, not a failure.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    const QPoint centre = m_screenCentre ? m_screenCentre() : QPoint();
    m_ui.showBalloon(QStringLiteral("Information"), kSocketError + QString::number(int(error)), 2, 5000,
                     BalloonTarget{QString(), centre});
}

void UpdateClient::UpdateSocketDisconnect()
{
    // A closed connection ends an error text as well as a wait would.
    m_errorTimer.stop();
    auto events = m_receiver.waitElapsed();
    handleEvents(events);
    // Without the connection no answer and no file can come any more.
    if (m_phase == Phase::Answer || m_phase == Phase::Download)
        finish(false);
}

void UpdateClient::UpdateTimerTimer()
{
    m_waitExpired = true;
    m_connection.stopWait();
    m_connection.abort();
    if (m_phase == Phase::Connecting || m_phase == Phase::Answer || m_phase == Phase::Download)
        finish(false);
}

} // namespace quvo
