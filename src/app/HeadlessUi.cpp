#include "app/HeadlessUi.h"

#include "app/DesktopSession.h"
#include "app/SignalQuit.h"
#include "core/HardwareClient.h"
#include "core/ReceiverSet.h"
#include "observe/Observer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDateTime>
#include <cstdio>
#include <exception>
#include <sys/stat.h>
#include <unistd.h>

namespace quvo {

namespace {
QString oneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}
QString pageName(SettingsPage page)
{
    switch (page) {
    case SettingsPage::ServerSettings: return QStringLiteral("serverinställningar");
    case SettingsPage::ClientSettings: return QStringLiteral("klientinställningar");
    case SettingsPage::Receivers: return QStringLiteral("mottagare");
    }
    return QString();
}
QString colourName(Indicator c) { return c == Indicator::Green ? QStringLiteral("grön") : QStringLiteral("röd"); }

const QString kCountdownStart = QStringLiteral("Ej ansluten - nästa försök om ");
const QString kServerSilent = QStringLiteral("Servern svarar inte; anslutningen stängs och ett nytt försök görs");
const QString kSleeping = QStringLiteral("Datorn går i viloläge; anslutningen stängs");
const QString kAwake = QStringLiteral("Datorn har vaknat; ansluter igen om 10 sekunder");

// systemd names the journal's stream in JOURNAL_STREAM ("device:inode"); a
// child that inherited the variable but writes elsewhere must not match.
bool stderrIsJournal()
{
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = stream.indexOf(':');
    if (colon <= 0)
        return false;
    bool devOk = false;
    bool inoOk = false;
    const qulonglong dev = stream.left(colon).toULongLong(&devOk);
    const qulonglong ino = stream.mid(colon + 1).toULongLong(&inoOk);
    struct stat st {};
    if (!devOk || !inoOk || ::fstat(STDERR_FILENO, &st) != 0)
        return false;
    return qulonglong(st.st_dev) == dev && qulonglong(st.st_ino) == ino;
}

bool isNormalStatus(const QString& text)
{
    return text == u"Ansluten" || text == u"Ej ansluten" || text == u"Ej ansluten - försöker ansluta..."
        || text == u"Återansluter...";
}

QString withoutDigits(QString text)
{
    text.removeIf([](QChar c) { return c.isDigit(); });
    return text;
}
} // namespace

HeadlessUi::HeadlessUi() : m_err(stderr), m_journal(stderrIsJournal()) {}

void HeadlessUi::log(const QString& kind, const QString& text, Priority priority)
{
    if (m_journal)
        m_err << '<' << int(priority) << '>';
    m_err << QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz")) << ' ' << kind << ": "
          << oneLine(text) << Qt::endl;
}

QString HeadlessUi::hintFor(const QString& text) const
{
    if (!text.contains(QStringLiteral("Systemregistret")) && !text.contains(QStringLiteral("serverinställningarna")))
        return QString();
    if (text.contains(QStringLiteral("Klientnamn")))
        return QStringLiteral(" (huvudlöst: starta med NAME=... PLACE=... COLOR=... AUTOREGISTER=1 CALLLIST=... "
                              "på kommandoraden, så registrerar klienten sig själv)");
    if (text.contains(QStringLiteral("resurser")))
        return QStringLiteral(" (huvudlöst: starta med AUTOREGISTER=1 och CALLLIST=... på kommandoraden, "
                              "så skickar klienten sina resurser)");
    const QString file = m_settingsFile.isEmpty() ? QStringLiteral("inställningsfilen") : m_settingsFile;
    return QStringLiteral(" (huvudlöst: ange [ServerSettings] ServerName=... och ServerPort=... i ") + file
        + QStringLiteral(", eller SERVERNAME=... SERVERPORT=... på kommandoraden)");
}

// Nobody reads a message box on this box: what it would have shown is a warning.
void HeadlessUi::openInfo(const QString& text) { log(QStringLiteral("INFO"), text + hintFor(text), Warning); }

bool HeadlessUi::openQuestion(const QString& text)
{
    log(QStringLiteral("FRÅGA"), text + QStringLiteral(" -> Nej") + hintFor(text), Warning);
    return false;
}

void HeadlessUi::showBalloon(const QString& title, const QString& text, int kind, int, const BalloonTarget&)
{
    log(QStringLiteral("BALLONG"), title + QStringLiteral(": ") + text, kind == 1 ? Warning : Info);
}

void HeadlessUi::setStatusText(const QString& text)
{
    if (!m_quitting)
        m_notifier.status(oneLine(text));
    // A countdown is one line, not one a second.
    if (text.startsWith(kCountdownStart)) {
        bool ok = false;
        const int seconds = text.mid(kCountdownStart.size()).section(u' ', 0, 0).toInt(&ok);
        const bool tick = ok && m_countdownShown >= 0 && seconds < m_countdownShown;
        m_countdownShown = ok ? seconds : -1;
        if (tick)
            return;
    } else {
        m_countdownShown = -1;
    }
    // A fault is a warning once, until the connection is back: the retries
    // that fail the same way are not. Closing on the way out is no fault.
    Priority priority = Info;
    if (text == u"Ansluten") {
        m_lastFault.clear();
    } else if (!isNormalStatus(text) && !m_quitting && withoutDigits(text) != m_lastFault) {
        m_lastFault = withoutDigits(text);
        priority = Warning;
    }
    log(QStringLiteral("STATUS"), text + hintFor(text), priority);
}

void HeadlessUi::quitStarted(qint64 successorPid)
{
    m_quitting = true;
    // A program the self-update started goes on as the service; a stop
    // would have systemd kill it with this one.
    if (successorPid > 0)
        m_notifier.handOver(successorPid);
    else
        m_notifier.stopping();
}

void HeadlessUi::setIndicator(Indicator colour)
{
    if (m_indicatorKnown && m_indicator == colour)
        return;
    m_indicatorKnown = true;
    m_indicator = colour;
    log(QStringLiteral("ANSLUTNING"), colourName(colour));
}

void HeadlessUi::setWindowTitle(const QString& title)
{
    // The supervision's probe renews the title every half minute.
    if (title == m_title)
        return;
    m_title = title;
    log(QStringLiteral("TITEL"), title);
}

void HeadlessUi::setDeviceStatus(const QString& caption, Indicator colour, const QString& receiver)
{
    log(QStringLiteral("ENHET"),
        (receiver.isEmpty() ? QString() : receiver + QStringLiteral(": "))
            + (caption.isEmpty() ? QStringLiteral("-") : caption) + QStringLiteral(" (") + colourName(colour)
            + QStringLiteral(")"),
        colour == Indicator::Red ? Warning : Info);
}

void HeadlessUi::showSettingsDialog(SettingsPage page)
{
    log(QStringLiteral("SYSTEMREGISTER"),
        QStringLiteral("skulle öppnas på sidan ") + pageName(page) + QStringLiteral(" (inget fönster i huvudlöst läge)"),
        Warning);
}

void HeadlessUi::setPlacePanelVisible(bool visible)
{
    if (visible)
        log(QStringLiteral("SYSTEMREGISTER"), QStringLiteral("plats och färg behöver fyllas i"), Warning);
}


void HeadlessUi::updateProgress(qint64 bytes)
{
    log(QStringLiteral("UPPDATERING"), QStringLiteral("%1 byte mottagna").arg(bytes));
}

void HeadlessUi::showNotice(const QString& text, bool warning)
{
    log(warning ? QStringLiteral("VARNING") : QStringLiteral("NOTIS"), text, warning ? Warning : Info);
}

void HeadlessUi::follow(HardwareClient& client)
{
    QObject::connect(&client, &HardwareClient::statusChanged, &client, [this](const QString& t) { setStatusText(t); });
    QObject::connect(&client, &HardwareClient::indicatorChanged, &client, [this](Indicator c) { setIndicator(c); });
    QObject::connect(&client, &HardwareClient::windowTitleChanged, &client,
                     [this](const QString& t) { setWindowTitle(t); });
    // With other receivers about, every line about one names it.
    QObject::connect(&client, &HardwareClient::deviceStatusChanged, &client,
                     [this, &client](const QString& caption, Indicator c) {
                         setDeviceStatus(caption, c,
                                         client.receivers().count() > 0 ? client.deviceName() : QString());
                     });
    QObject::connect(&client, &HardwareClient::otherReceiverStatusChanged, &client,
                     [this](int, const QString& name, const QString& caption, Indicator c) {
                         setDeviceStatus(caption, c, name);
                     });
    QObject::connect(&client, &HardwareClient::placePanelWanted, &client, [this](bool v) { setPlacePanelVisible(v); });
    QObject::connect(&client, &HardwareClient::downloadProgress, &client, [this](qint64 b) { updateProgress(b); });
    QObject::connect(&client, &HardwareClient::notice, &client,
                     [this](const QString& t, bool warning) { showNotice(t, warning); });
}

int runHeadless(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("QUVO Windows HardwareClient for TellStick"));
    QStringList params = app.arguments().mid(1);
    params.removeAll(QStringLiteral("--headless"));

    HeadlessUi ui;
    HardwareClient client(ui, params);
    ui.follow(client);
    client.setUnattended(true);
    QObject::connect(&client, &HardwareClient::serverSilent, &client,
                     [&ui] { ui.log(QStringLiteral("VARNING"), kServerSilent, HeadlessUi::Warning); });
    // A restarted program must come up headless too: without a screen the
    // desktop front end would end at once.
    client.setFrontEndSwitches({QStringLiteral("--headless")});
    installQuitSignals(&client, [&client] { client.quit(); });
    QObject::connect(&client, &HardwareClient::quitStarted, &client, [&ui, &client] {
        ui.quitStarted(client.startedProgramPid());
    });
    try {
        client.FormCreate();
    } catch (const std::exception& e) {
        ui.log(QStringLiteral("FEL"), QString::fromLocal8Bit(e.what()), HeadlessUi::Error);
        return 1;
    }
    ui.setSettingsFile(client.settings().userFileFor(QStringLiteral("ServerSettings")));
    // A box is watched from outside: the endpoint is on unless set off.
    Observer observer(client);
    QObject::connect(&observer, &Observer::notice, &client,
                     [&ui](const QString& t, bool warning) { ui.showNotice(t, warning); });
    observer.start(QStringLiteral("127.0.0.1:%1").arg(Observer::kDefaultPort));

    // Suspend and resume as on the desktop; there is no session bus to ask.
    DesktopSession session(client, QDBusConnection(QStringLiteral("quvo-no-session-bus")),
                           QDBusConnection::systemBus());
    QObject::connect(&session, &DesktopSession::sleepChanged, &client,
                     [&ui](bool sleeping) { ui.log(QStringLiteral("VILOLÄGE"), sleeping ? kSleeping : kAwake); });
    session.watchSleep();
    QMetaObject::invokeMethod(&client, [&client, &ui] {
        client.FormActivate();
        ui.notifier().ready();
    }, Qt::QueuedConnection);
    app.exec();
    return 1;
}

} // namespace quvo
