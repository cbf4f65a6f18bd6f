#include "common/SettingsStore.h"
#include "common/Text.h"

#include "common/Codec.h"
#include "common/ServerIniLink.h"
#include "protocol/Messages.h"

#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <cerrno>
#include <optional>
#include <cstring>
#include <unistd.h>

namespace quvo {

namespace {

const QString kRegistryBase = QStringLiteral("SOFTWARE\\Veltaris\\");
const QString kMachineErrorKey = QStringLiteral("ERROR_WRITING_TO_LOCAL_MACHINE");

QString trimBlanks(const QString& text) { return trimControl(text); }

bool isBlank(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() > 32)
            return false;
    return true;
}

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

QString firstAbsolute(const QString& list)
{
    for (const QString& dir : list.split(u':', Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(dir))
            return dir;
    return QString();
}

// One settings key path component as a file name: never "." or "..", and
// short enough for the file system's 255 bytes even with the suffixes that
// the lock and the temporary file of a save append; an over-long name keeps
// its start and gets a hash of the whole so that two long keys cannot meet
// in one file.
QString fileNameFor(QString component)
{
    if (component.isEmpty() || component == u"." || component == u"..")
        component.replace(u'.', u'_').prepend(u'_');
    constexpr qsizetype kMaxBytes = 200;
    if (component.toUtf8().size() <= kMaxBytes)
        return component + QStringLiteral(".ini");
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(component.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    QString head = component;
    while (head.toUtf8().size() > kMaxBytes - 17)
        head.chop(1);
    if (!head.isEmpty() && head.back().isHighSurrogate())
        head.chop(1);
    return head + u'~' + hash + QStringLiteral(".ini");
}

struct IniLocation {
    QString file;
    QString group;
};

// "SOFTWARE\Veltaris\<first>\<rest>": <first> names the file, the rest is the
// group. '/' counts as a separator like '\', since the folder key ends in one.
IniLocation locate(const QString& rootDir, const QString& subKey)
{
    QString path = subKey;
    path.replace(u'/', u'\\');
    QStringList parts = path.split(u'\\', Qt::SkipEmptyParts);
    if (parts.size() >= 2 && parts.at(0).compare(u"SOFTWARE", Qt::CaseInsensitive) == 0
        && parts.at(1).compare(u"Veltaris", Qt::CaseInsensitive) == 0)
        parts.remove(0, 2);
    const QString first = parts.isEmpty() ? QString() : parts.takeFirst();
    return {rootDir + u'/' + fileNameFor(first), parts.join(u'/')};
}

QString variantText(const QVariant& value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

// The text behind "key=" in the file's group, untouched.
// Only plain group and key names are looked up: those are all this program
// uses, and they stand in the file as they are.
std::optional<QString> rawValue(const QString& file, const QString& group, const QString& key)
{
    const auto plain = [](const QString& name) {
        for (const QChar c : name)
            if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'_' && c != u'-' && c != u'.')
                return false;
        return !name.isEmpty();
    };
    if (!plain(group) || !plain(key) || group.compare(u"General", Qt::CaseInsensitive) == 0)
        return std::nullopt;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::optional<QString> found;
    bool inGroup = false;
    for (const QByteArray& bytes : f.readAll().split('\n')) {
        const QString line = QString::fromUtf8(bytes).trimmed();
        if (line.startsWith(u'[')) {
            inGroup = line == u'[' + group + u']';
            continue;
        }
        if (!inGroup || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0 && line.left(eq).trimmed() == key)
            found = line.mid(eq + 1).trimmed();
    }
    return found;
}

// How the INI format writes a text without control characters.
QString iniEscaped(const QString& text)
{
    QString out = text.startsWith(u'@') ? QStringLiteral("@") : QString();
    for (const QChar c : text) {
        if (c == u'\\' || c == u'"')
            out += u'\\';
        out += c;
    }
    return out;
}

bool hasControl(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() < 32 || c.unicode() == 127)
            return true;
    return false;
}

// A value typed into the file by hand, without quotes, means what it shows:
// the INI syntax would make "Lampa,hall" a list, cut "Lampa;hall" at the
// comment and read "C:\temp" as an escape. What the program wrote itself
// (quoted, or with its own escapes) reads as it was written.
QString settingText(const QVariant& parsed, const std::optional<QString>& found)
{
    const QString text = variantText(parsed);
    if (!found || found->startsWith(u'"'))
        return text;
    const QString& raw = *found;
    if (raw.contains(u',') || raw.contains(u';'))
        return raw;   // written quoted by the program
    if (!raw.contains(u'\\'))
        return text;
    if (parsed.typeId() == QMetaType::QString && !hasControl(text) && iniEscaped(text) == raw)
        return text;
    return raw;
}

} // namespace

struct SettingsStore::Impl {
    // One value as text; empty when the file, the group or the value is missing.
    static QString regReadText(const QString& rootDir, const QString& subKey, const QString& valueName)
    {
        if (rootDir.isEmpty() || valueName.isEmpty())
            return QString();
        const IniLocation where = locate(rootDir, subKey);
        if (!QFileInfo::exists(where.file))
            return QString();
        QSettings ini(where.file, QSettings::IniFormat);
        if (!where.group.isEmpty())
            ini.beginGroup(where.group);
        const QVariant parsed = ini.value(valueName);
        if (!parsed.isValid())
            return QString();
        return settingText(parsed, rawValue(where.file, where.group, valueName));
    }

    // Writes one value; true only when it is on disk. The reason of a refusal
    // goes to *error.
    static bool regWriteText(const QString& rootDir, const QString& subKey, const QString& valueName,
                             const QString& value, QString* error)
    {
        if (rootDir.isEmpty() || valueName.isEmpty()) {
            *error = QStringLiteral("No settings folder or value name");
            return false;
        }
        const IniLocation where = locate(rootDir, subKey);
        // Checked before QSettings sees the file: a refused sync would leave
        // the value behind in QSettings' in-process cache, readable though
        // never written.
        errno = 0;
        if (!QDir().mkpath(rootDir)) {
            const int err = errno;
            *error = (err ? errnoText(err) : QStringLiteral("Unable to create the folder"))
                + QStringLiteral(": ") + rootDir;
            return false;
        }
        const QByteArray dir = QFile::encodeName(rootDir);
        if (::access(dir.constData(), W_OK | X_OK) != 0) {
            *error = errnoText(errno) + QStringLiteral(": ") + rootDir;
            return false;
        }
        const QByteArray file = QFile::encodeName(where.file);
        if (::access(file.constData(), F_OK) == 0 && ::access(file.constData(), W_OK) != 0) {
            *error = errnoText(errno) + QStringLiteral(": ") + where.file;
            return false;
        }
        QSettings ini(where.file, QSettings::IniFormat);
        if (!where.group.isEmpty())
            ini.beginGroup(where.group);
        ini.setValue(valueName, value);
        ini.sync();
        if (ini.status() != QSettings::NoError || !QFileInfo::exists(where.file)) {
            *error = QStringLiteral("Unable to write the settings file: ") + where.file;
            return false;
        }
        return true;
    }
};

SettingsLocations SettingsLocations::fromEnvironment()
{
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    QString configDir = firstAbsolute(qEnvironmentVariable("XDG_CONFIG_DIRS"));
    if (configDir.isEmpty())
        configDir = QStringLiteral("/etc/xdg");
    SettingsLocations where;
    where.userDir = QDir::cleanPath(configHome + QStringLiteral("/Veltaris"));
    where.machineDir = QDir::cleanPath(configDir + QStringLiteral("/Veltaris"));
    return where;
}

SettingsStore::SettingsStore(SettingsLocations where, QObject* parent)
    : QObject(parent), m_where(std::move(where))
{
    m_socketTimer.setSingleShot(true);
    m_socketTimer.setInterval(m_waitMs);
    // SocketTimerTimer
    connect(&m_socketTimer, &QTimer::timeout, this, [this] {
        m_iniWaitExpired = true;
        m_socketTimer.stop();
    });
}

void SettingsStore::setSettingsFolderKey(const QString& key) { m_folderKey = key; }
QString SettingsStore::settingsFolderKey() const { return m_folderKey; }
void SettingsStore::setServerLink(ServerIniLink* link) { m_link = link; }
void SettingsStore::setComputerNameSource(std::function<QString()> source) { m_computerName = std::move(source); }
void SettingsStore::setIniWaitMs(int ms) { m_waitMs = ms; }
QString SettingsStore::lastRegistryError() const { return m_lastRegistryError; }

QString SettingsStore::userFileFor(const QString& section) const
{
    return locate(m_where.userDir, kRegistryBase + m_folderKey + section).file;
}

QString SettingsStore::ReadSetting(const QString& section, const QString& key)
{
    const QString subKey = kRegistryBase + m_folderKey + section;
    QString value = Impl::regReadText(m_where.userDir, subKey, key);
    if (!isBlank(value))
        return value;
    value = Impl::regReadText(m_where.machineDir, subKey, key);
    if (!isBlank(value))
        return value;
    return ReadServerSetting(section, key);
}

QString SettingsStore::ReadSettingDef(const QString& section, const QString& key, const QString& def)
{
    const QString value = ReadSetting(section, key);
    return trimBlanks(value) == QLatin1String(kSettingMissing) ? def : value;
}

QString SettingsStore::ReadServerSetting(const QString& section, const QString& key)
{
    const QString computer = m_computerName ? m_computerName() : QString();
    QString value = requestIniText(computer + u'\\' + section, key);
    if (!isBlank(value))
        return value;
    value = requestIniText(u'\\' + section, key);
    if (!isBlank(value))
        return value;
    return QString::fromLatin1(kSettingMissing);
}

QString SettingsStore::ReadServerSettingDef(const QString& section, const QString& key, const QString& def)
{
    const QString value = ReadServerSetting(section, key);
    return trimBlanks(value) == QLatin1String(kSettingMissing) ? def : value;
}

void SettingsStore::WriteSetting(const QString& section, const QString& key, const QString& value)
{
    const QString subKey = kRegistryBase + m_folderKey + section;
    QString userError;
    QString machineError;
    const bool okUser = Impl::regWriteText(m_where.userDir, subKey, key, value, &userError);
    if (!okUser)
        m_lastRegistryError = userError;
    const bool okMachine = Impl::regWriteText(m_where.machineDir, subKey, key, value, &machineError);
    if (!okMachine) {
        m_lastRegistryError = machineError;
        if (okUser) {
            QString ignored;
            Impl::regWriteText(m_where.userDir, kRegistryBase + kMachineErrorKey,
                               QStringLiteral("ErrorMsg"), m_lastRegistryError, &ignored);
        }
    }

    if (m_link && m_link->isConnectionUp()) {
        const QString computer = m_computerName ? m_computerName() : QString();
        const std::string wireKey = toWireString(key);
        const std::string wireValue = toWireString(value);
        m_link->sendFrame(QByteArray::fromStdString(
            protocol::buildSetIniText(toWireString(computer + u'\\' + section), wireKey, wireValue)));
        m_link->sendFrame(QByteArray::fromStdString(
            protocol::buildSetIniText(toWireString(section), wireKey, wireValue)));
    }
}

int SettingsStore::readInt(const QString& section, const QString& key, int def)
{
    return toIntDef(ReadSetting(section, key), def);
}

bool SettingsStore::readBool(const QString& section, const QString& key, bool def)
{
    return toBoolDef(ReadSetting(section, key), def);
}

void SettingsStore::writeBool(const QString& section, const QString& key, bool value)
{
    WriteSetting(section, key, value ? QStringLiteral("-1") : QStringLiteral("0"));
}

int SettingsStore::toIntDef(const QString& text, int def)
{
    bool ok = false;
    const int value = trimBlanks(text).toInt(&ok, 10);
    return ok ? value : def;
}

bool SettingsStore::toBoolDef(const QString& text, bool def)
{
    const QString t = trimBlanks(text);
    bool ok = false;
    const qlonglong number = t.toLongLong(&ok, 10);
    if (ok)
        return number != 0;
    if (t.compare(u"true", Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(u"false", Qt::CaseInsensitive) == 0)
        return false;
    return def;
}

void SettingsStore::deliverIniReply(const QString& value)
{
    m_iniReplyText = value;
    m_iniReplyReceived = true;
    emit iniReplyArrived();
}

// RequestIniText. The reply fields are shared by all waits: a request made
// while another one waits clears and reuses them, and the outer wait then
// ends on whatever the inner one left there.
QString SettingsStore::requestIniText(const QString& sectionPath, const QString& key)
{
    m_iniReplyText.clear();
    m_iniReplyReceived = false;
    if (!m_link || !m_link->isConnectionUp())
        return QString();

    m_socketTimer.stop();
    m_socketTimer.start(m_waitMs);
    m_iniWaitExpired = false;

    QEventLoop loop;
    connect(this, &SettingsStore::iniReplyArrived, &loop, &QEventLoop::quit);
    connect(&m_socketTimer, &QTimer::timeout, &loop, &QEventLoop::quit);

    m_link->sendFrame(QByteArray::fromStdString(
        protocol::buildGetIniText(toWireString(sectionPath), toWireString(key))));

    while (!m_iniReplyReceived && !m_iniWaitExpired) {
        loop.exec();
        // exec() returns at once for good once the application is quitting.
        if (!m_iniReplyReceived && !m_iniWaitExpired)
            break;
    }

    m_socketTimer.stop();
    return m_iniReplyReceived ? m_iniReplyText : QString();
}

} // namespace quvo
