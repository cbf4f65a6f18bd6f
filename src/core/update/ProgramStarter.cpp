#include "core/update/ProgramStarter.h"

#include "common/CommandLine.h"
#include "common/ProgramState.h"
#include "common/SettingsStore.h"
#include "common/VersionInfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <csignal>

namespace quvo {

namespace {

const QString kNoVersionBlock = QStringLiteral(
    "Den nedladdade versionen av programmet saknar versionsinformation och startas därför inte.");
const QString kVersionTooOld = QStringLiteral(
    "Den nedladdade versionen av programmet (%1) är äldre än den begärda (%2) och startas därför inte.");

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

ProgramStarter::ProgramStarter(ProgramState& state, SettingsStore& settings, QObject* parent)
    : QObject(parent), m_state(state), m_settings(settings)
{
    m_timer.setInterval(kWatchTickMs);
    connect(&m_timer, &QTimer::timeout, this, &ProgramStarter::tick);
}

QString ProgramStarter::programFile() const
{
    if (!m_state.programFilePath.isEmpty())
        return m_state.programFilePath;
    return QCoreApplication::applicationFilePath();
}

QString ProgramStarter::programFileName() const
{
    return QFileInfo(programFile()).fileName();
}

QString ProgramStarter::updateCopy() const
{
    const QString folder = m_state.paths.UpdateFolder;
    return folder.isEmpty() ? QString() : folder + programFileName();
}

int ProgramStarter::ownVersion() const
{
    return VersionNumber(TCEVersionInfo(programFile()).ProductVersion);
}

int ProgramStarter::wantedVersion(int own) const
{
    return SettingsStore::toIntDef(m_settings.ReadSetting(QStringLiteral("CHECKVERSION"), programFileName()), own);
}

bool ProgramStarter::waitingCopyFits(int wanted) const
{
    const QString local = updateCopy();
    if (local.isEmpty() || !QFileInfo(local).isFile())
        return false;
    const TCEVersionInfo waiting(local);
    return waiting.valid && VersionNumber(waiting.ProductVersion) == wanted;
}

QString ProgramStarter::refusal(const QString& path, int wanted) const
{
    // Only a file that says it is the wanted version (or newer) replaces the
    // one in the update folder and is started.
    const TCEVersionInfo info(path);
    if (!info.valid)
        return kNoVersionBlock;
    if (VersionNumber(info.ProductVersion) < wanted)
        return kVersionTooOld.arg(info.ProductVersion).arg(wanted);
    return QString();
}

bool ProgramStarter::start(const QString& path)
{
    ++m_attempts;
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
    // A program that cannot load or finds no screen ends at once.
    m_pid = pid;
    m_path = path;
    m_clock.start();
    m_timer.start();
    return true;
}

void ProgramStarter::stop()
{
    m_timer.stop();
}

void ProgramStarter::reset()
{
    m_timer.stop();
    m_pid = 0;
    m_path.clear();
}

void ProgramStarter::tick()
{
    if (processRunning(m_pid)) {
        if (m_clock.elapsed() >= m_watchMs) {
            m_timer.stop();
            emit stayedUp();
        }
        return;
    }
    m_timer.stop();
    emit ended();
}

} // namespace quvo
