#include "common/ClientIdentity.h"

#include "common/SettingsStore.h"
#include "common/UserInterface.h"

#include <QHostAddress>
#include <QSysInfo>

namespace quvo {

namespace {

const QString kRemoteNameFailed =
    QStringLiteral("Det gick inte att hämta datornamnet i fjärrsessionen!");

// Where a remote session's client device makes itself known. The Citrix-style
// source is the client name that the Citrix and RDP agents export; the
// terminal-services-style source is the remote end of an SSH login.
constexpr const char* kCitrixClientName = "CLIENTNAME";
constexpr const char* kSshClient = "SSH_CLIENT";
constexpr const char* kSshConnection = "SSH_CONNECTION";

// The outcome of asking one name source: a name (possibly empty) or an error.
struct NameQuery {
    QString name;
    QString error;   // non-empty: the source failed with an error
};

bool hasControlCharacters(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() < 32 || c.unicode() == 127)
            return true;
    return false;
}

// Only a value that is present yet unusable counts as an error; an absent
// variable is the counterpart of a missing client library and stays silent.
NameQuery queryCitrixName(const ClientIdentity::EnvReader& env)
{
    const QString value = env(kCitrixClientName);
    if (hasControlCharacters(value))
        return {QString(), QStringLiteral("%1 holds control characters").arg(QLatin1String(kCitrixClientName))};
    return {value, QString()};
}

// The client's address from the first SSH variable present. Frames separate
// their fields with ':', so an IPv6 address is written with '-' instead.
NameQuery queryTerminalClientName(const ClientIdentity::EnvReader& env)
{
    for (const char* variable : {kSshClient, kSshConnection}) {
        const QString value = env(variable).trimmed();
        if (value.isEmpty())
            continue;
        const QString first = value.section(u' ', 0, 0, QString::SectionSkipEmpty);
        QHostAddress address;
        if (!address.setAddress(first))
            return {QString(), QStringLiteral("%1 holds no client address").arg(QLatin1String(variable))};
        bool mapped = false;
        const quint32 v4 = address.toIPv4Address(&mapped);
        if (mapped)
            return {QHostAddress(v4).toString(), QString()};
        QString text = address.toString();
        text.replace(u':', u'-');
        return {text, QString()};
    }
    return {};
}

} // namespace

QString clientTypeName(int programType)
{
    switch (programType) {
    case 0: return QStringLiteral("Call");
    case 1: return QStringLiteral("Show");
    case 2: return QStringLiteral("Admin");
    case 3: return QStringLiteral("Hardware");
    default: return QString();
    }
}

ClientIdentity::ClientIdentity(SettingsStore& settings, int programType)
    : m_settings(settings), m_programType(programType)
{
    m_env = [](const char* name) { return qEnvironmentVariable(name); };
    m_hostName = [] { return QSysInfo::machineHostName(); };
}

void ClientIdentity::setEnvironmentReader(EnvReader reader) { m_env = std::move(reader); }
void ClientIdentity::setHostNameSource(std::function<QString()> source) { m_hostName = std::move(source); }
void ClientIdentity::setUserInterface(UserInterface* ui) { m_ui = ui; }

QString ClientIdentity::GetClientName()
{
    const QString useDefault = m_settings.ReadSettingDef(QStringLiteral("QUVO"),
                                                         QStringLiteral("ClientNameUseDefault"),
                                                         QStringLiteral("1"));
    if (useDefault == u"1")
        return GetClientComputerName() + u'_' + clientTypeName(m_programType);
    return m_settings.ReadSettingDef(QStringLiteral("QUVO"), QStringLiteral("ClientName"), QString());
}

bool ClientIdentity::IsRemoteSession() const
{
    // Remote means a display that sits elsewhere: a remote desktop, or an SSH
    // login that forwards its display. A plain SSH shell or a service runs
    // for this computer, under its own name.
    if (!m_env("XRDP_SESSION").isEmpty())
        return true;
    if (m_env("DISPLAY").isEmpty())
        return false;
    for (const char* variable : {"SSH_CONNECTION", "SSH_CLIENT", "SSH_TTY"})
        if (!m_env(variable).isEmpty())
            return true;
    return false;
}

QString ClientIdentity::GetClientComputerName()
{
    if (!IsRemoteSession()) {
        // The short host name stands in for the NetBIOS name, with its limits.
        QString name = m_hostName ? m_hostName() : QString();
        name = name.section(u'.', 0, 0);
        return name.toUpper().left(15);
    }

    QString remembered;
    const NameQuery citrix = queryCitrixName(m_env);
    QString name = citrix.name;
    if (!citrix.error.isEmpty())
        remembered = QStringLiteral("Citrix: ") + citrix.error + u'\r';
    if (name.trimmed().isEmpty()) {
        const NameQuery terminal = queryTerminalClientName(m_env);
        name = terminal.name;
        if (!citrix.error.isEmpty() && !terminal.error.isEmpty()) {
            remembered += QStringLiteral("TerminalServer: ") + terminal.error;
            if (m_ui)
                m_ui->showInfo(kRemoteNameFailed + QStringLiteral("\r\r") + remembered);
            name.clear();
        }
    }
    return name;
}

} // namespace quvo
