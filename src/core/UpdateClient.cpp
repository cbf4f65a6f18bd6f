#include "core/UpdateClient.h"

#include "common/ClientIdentity.h"
#include "common/Codec.h"
#include "common/CommandLine.h"
#include "common/Paths.h"
#include "common/ProgramState.h"
#include "common/SettingsStore.h"
#include "common/UserInterface.h"
#include "common/VersionInfo.h"
#include "core/ServerConnection.h"
#include "protocol/Field.h"
#include "protocol/Frame.h"
#include "protocol/Messages.h"
#include "protocol/Readers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QMetaObject>
#include <QProcess>
#include <QTemporaryFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
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
const QString kNoVersionBlock = QStringLiteral(
    "Den nedladdade versionen av programmet saknar versionsinformation och startas därför inte.");
const QString kVersionTooOld = QStringLiteral(
    "Den nedladdade versionen av programmet (%1) är äldre än den begärda (%2) och startas därför inte.");
const QString kStartFailed = QStringLiteral("Den nya versionen av programmet kunde inte startas:\r\r");
const QString kStartEnded = QStringLiteral("Den nya versionen av programmet avslutades direkt efter starten:\r\r");
const QString kTooLarge = QStringLiteral(
    "Den nya versionen av programmet är större än %1 MB och hämtas därför inte.");

constexpr qint64 kProgressStepBytes = 64 * 1024;
constexpr qint64 kProgressStepMs = 250;
constexpr int kWatchTickMs = 50;

// The started program is not this process's child (it is started detached),
// so its end is seen in the process table: gone, or ended and not yet
// collected by its parent.
bool processRunning(qint64 pid)
{
    if (pid <= 0)
        return false;
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size())
        return true;
    const char state = line.at(close + 2);
    return state != 'Z' && state != 'X';
}

} // namespace

// ---------------------------------------------------------------- client

UpdateClient::UpdateClient(ProgramState& state, SettingsStore& settings, ClientIdentity& identity,
                           UserInterface& ui, ServerConnection& mainConnection, QObject* parent)
    : QObject(parent), m_state(state), m_settings(settings), m_identity(identity), m_ui(ui),
      m_main(mainConnection)
{
    m_updateTimer.setSingleShot(true);
    m_updateTimer.setInterval(m_connectMs);
    connect(&m_updateTimer, &QTimer::timeout, this, &UpdateClient::UpdateTimerTimer);
    m_watchTimer.setInterval(kWatchTickMs);
    connect(&m_watchTimer, &QTimer::timeout, this, &UpdateClient::watchTick);
    connect(&m_socket, &QTcpSocket::connected, this, &UpdateClient::UpdateSocketConnect);
    connect(&m_socket, &QTcpSocket::readyRead, this, &UpdateClient::UpdateSocketRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &UpdateClient::UpdateSocketError);
    connect(&m_socket, &QTcpSocket::disconnected, this, &UpdateClient::UpdateSocketDisconnect);
    // While a message opened by a read is up, the read is not taken up again;
    // Qt then holds at most this much and lets TCP hold back the rest.
    m_socket.setReadBufferSize(1024 * 1024);
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
    m_socket.disconnect(this);
    m_socket.abort();
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

QString UpdateClient::programFile() const
{
    if (!m_state.programFilePath.isEmpty())
        return m_state.programFilePath;
    return QCoreApplication::applicationFilePath();
}

QString UpdateClient::programFileName() const
{
    return QFileInfo(programFile()).fileName();
}

void UpdateClient::restartTimer(int ms)
{
    m_updateTimer.stop();
    m_updateTimer.setInterval(ms);
    m_updateTimer.start();
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

void UpdateClient::cancel()
{
    ++m_generation;
    m_phase = Phase::Idle;
    m_again = false;
    m_watchTimer.stop();
    m_updateTimer.stop();
    m_socket.abort();
    dropFile();
    m_receiver.reset();
    m_errorTimer.stop();
}

void UpdateClient::beginCheck()
{
    ++m_generation;
    m_again = false;
    m_watchTimer.stop();
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    // Busy from here on: the settings reads below may wait for the server,
    // and a check asked for meanwhile has to follow this one.
    m_phase = Phase::Connecting;
    m_receiver.reset();
    m_errorTimer.stop();
    dropFile();
    m_fileFailed = false;
    m_requested = false;
    m_wanted = 0;
    m_startedPid = 0;
    m_startedPath.clear();
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

    restartTimer(m_connectMs);
    if (IsNumericAddress(name)) {
        // Only the four parts that make it an address count.
        const QString address = name.split(u'.').mid(0, 4).join(u'.');
        m_socket.connectToHost(QHostAddress(address), quint16(port));
    } else {
        m_socket.connectToHost(name, quint16(port));
    }
}

void UpdateClient::finish(bool restart)
{
    if (m_phase == Phase::Idle || m_phase == Phase::Ending)
        return;
    m_watchTimer.stop();
    if (restart || m_updateState == StateCurrent) {
        // Closes the update connection in a while (the version answer may
        // still come), unless the program has ended by then.
        restartTimer(m_answerMs);
    } else {
        m_updateTimer.stop();
        if (m_socket.state() != QAbstractSocket::UnconnectedState)
            m_socket.abort();
        dropFile();
        m_receiver.reset();
        m_errorTimer.stop();
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

void UpdateClient::sendText(const QByteArray& wireBytes)
{
    if (m_socket.state() == QAbstractSocket::ConnectedState)
        m_socket.write(wireBytes);
}

void UpdateClient::requestNewClient()
{
    m_requested = true;
    m_phase = Phase::Download;
    restartTimer(m_downloadMs);
    sendText(QByteArray::fromStdString(protocol::buildGetNewClient(
        toWireString(programFileName()), toWireString(m_identity.GetClientName()), int(m_state.ProgramType))));
}

void UpdateClient::UpdateSocketConnect()
{
    if (m_phase != Phase::Connecting)
        return;
    m_phase = Phase::Answer;
    restartTimer(m_answerMs);
    const quint64 generation = m_generation;
    try {
        const QString program = programFile();
        const QString fileName = programFileName();
        const int own = VersionNumber(TCEVersionInfo(program).ProductVersion);
        m_wanted = SettingsStore::toIntDef(m_settings.ReadSetting(QStringLiteral("CHECKVERSION"), fileName), own);
        const std::string client = toWireString(m_identity.GetClientName());
        if (generation != m_generation || m_phase != Phase::Answer)
            return;
        sendText(QByteArray::fromStdString(protocol::buildGetServerVersion(client, int(m_state.ProgramType))));

        if (own >= m_wanted) {
            m_updateState = StateCurrent;
            finish(false);
            return;
        }
        m_updateState = StateUpdating;
        const QString folder = m_state.paths.UpdateFolder;
        const QString local = folder.isEmpty() ? QString() : folder + fileName;
        if (!local.isEmpty() && QFileInfo(local).isFile()) {
            const TCEVersionInfo waiting(local);
            // A waiting copy that cannot be started is fetched anew.
            if (waiting.valid && VersionNumber(waiting.ProductVersion) == m_wanted && startProgram(local))
                return;
        }
        requestNewClient();
    } catch (const std::exception& e) {
        tell(kErrorInConnect + QString::fromLocal8Bit(e.what()));
    }
}

void UpdateClient::UpdateSocketRead()
{
    // Qt does not announce new data again while this runs.
    if (m_inRead)
        return;
    m_inRead = true;
    while (m_socket.bytesAvailable() > 0) {
        const QByteArray chunk = m_socket.readAll();
        try {
            handleChunk(chunk);
        } catch (const std::exception& e) {
            tell(kErrorInRead + QString::fromLocal8Bit(e.what()));
        }
    }
    m_inRead = false;
}

void UpdateClient::handleChunk(const QByteArray& chunk)
{
    auto events = m_receiver.feed(std::string_view(chunk.constData(), std::size_t(chunk.size())));
    if (m_receiver.errorOpen())
        m_errorTimer.start();
    else
        m_errorTimer.stop();
    handleEvents(events);
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
            if (m_file) {
                dropFile();
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
            m_state.UpdateServerVersionText = fromWire(protocol::readServerVersion(message.frameCopy(t)));
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
    dropFile();
    m_fileFailed = false;
    if (!m_requested || m_phase != Phase::Download) {
        // Nothing was asked for: a program file nobody requested is not stored.
        m_fileFailed = true;
        return;
    }
    const QString folder = m_state.paths.UpdateFolder;
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        saveFailed();
        return;
    }
    m_file = std::make_unique<QTemporaryFile>(folder + programFileName() + QStringLiteral(".XXXXXX.part"));
    if (!m_file->open()) {
        saveFailed();
        return;
    }
    m_lastProgress = 0;
    m_progressClock.start();
    emit downloadProgress(0);
}

void UpdateClient::writeFile(const QByteArray& bytes)
{
    if (m_fileFailed || !m_file)
        return;
    if (m_file->write(bytes) != bytes.size()) {
        saveFailed();
        return;
    }
    reportProgress(false);
}

void UpdateClient::reportProgress(bool force)
{
    const qint64 bytes = m_file ? m_file->pos() : 0;
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
    if (m_fileFailed || !m_file)
        return;
    reportProgress(true);
    if (!m_file->flush()) {
        saveFailed();
        return;
    }
    const QString temp = m_file->fileName();
    m_file->close();

    // Only a file that says it is the wanted version (or newer) replaces the
    // one in the update folder and is started.
    const TCEVersionInfo info(temp);
    if (!info.valid) {
        giveUp(kNoVersionBlock);
        return;
    }
    const int number = VersionNumber(info.ProductVersion);
    if (number < m_wanted) {
        giveUp(kVersionTooOld.arg(info.ProductVersion).arg(m_wanted));
        return;
    }

    const QString target = m_state.paths.UpdateFolder + programFileName();
    if (!QFile::setPermissions(temp, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                         | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther)
        || std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) != 0) {
        saveFailed();
        return;
    }
    m_file->setAutoRemove(false);
    m_file.reset();

    if (!startProgram(target)) {
        tell(kStartFailed + target);
        finish(false);
    }
}

void UpdateClient::dropFile()
{
    // The temporary file goes with its object; the copy in place stays.
    m_file.reset();
}

void UpdateClient::saveFailed()
{
    dropFile();
    m_fileFailed = true;
    m_saveFailed = true;
    tell(kSaveFailed + m_state.paths.UpdateFolder + QStringLiteral("!"));
    finish(false);
}

void UpdateClient::giveUp(const QString& message)
{
    dropFile();
    m_fileFailed = true;
    tell(message);
    finish(false);
}

bool UpdateClient::startProgram(const QString& path)
{
    // Executable for its owner; nobody else may write it.
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                    | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    const QFile::Permissions now = QFileInfo(path).permissions();
    if (now & (QFile::WriteGroup | QFile::WriteOther))
        return false;
    qint64 pid = 0;
    if (!QProcess::startDetached(path, RestartParameters(m_state.commandLine.params(), m_state.frontEndSwitches),
                                 m_state.paths.ProgramFolder, &pid))
        return false;
    // This instance ends only once the new one has stayed up for a while: a
    // program that cannot load or finds no screen ends at once.
    m_startedPid = pid;
    m_startedPath = path;
    m_startedDownload = m_requested;
    m_phase = Phase::Watching;
    m_updateTimer.stop();
    m_watchClock.start();
    m_watchTimer.start();
    return true;
}

void UpdateClient::watchTick()
{
    if (m_phase != Phase::Watching) {
        m_watchTimer.stop();
        return;
    }
    if (processRunning(m_startedPid)) {
        if (m_watchClock.elapsed() >= m_watchMs) {
            m_restarting = true;
            finish(true);
        }
        return;
    }
    m_watchTimer.stop();
    tell(kStartEnded + m_startedPath);
    // A waiting copy that does not run is fetched anew.
    if (!m_startedDownload && m_socket.state() == QAbstractSocket::ConnectedState) {
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
    UpdateSocketRead();
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
    m_updateTimer.stop();
    m_socket.abort();
    if (m_phase == Phase::Connecting || m_phase == Phase::Answer || m_phase == Phase::Download)
        finish(false);
}

} // namespace quvo
