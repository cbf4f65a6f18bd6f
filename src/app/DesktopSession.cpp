#include "DesktopSession.h"

#include "DesktopTexts.h"
#include "common/SettingsStore.h"
#include "core/HardwareClient.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace quvo {

namespace {

const QString kScreenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kScreenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString kLogindService = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kLogindManager = QStringLiteral("org.freedesktop.login1.Manager");
constexpr int kResumeDelayMs = 10000;

} // namespace

DesktopSession::DesktopSession(HardwareClient& client, QDBusConnection sessionBus,
                               QDBusConnection systemBus, QObject* parent)
    : QObject(parent)
    , m_client(client)
    , m_sessionBus(std::move(sessionBus))
    , m_systemBus(std::move(systemBus))
{
    m_resumeTimer.setSingleShot(true);
    m_resumeTimer.setInterval(kResumeDelayMs);
    // The network needs a moment after waking before a connect can succeed.
    connect(&m_resumeTimer, &QTimer::timeout, this, [this] { m_client.resumeConnection(); });
    connect(&m_screenSaverTimer, &QTimer::timeout, this, &DesktopSession::checkScreenSaverSetting);
}

DesktopSession::DesktopSession(HardwareClient& client, QObject* parent)
    : DesktopSession(client, QDBusConnection::sessionBus(), QDBusConnection::systemBus(), parent)
{
}

DesktopSession::~DesktopSession()
{
    releaseScreenSaver();
}

void DesktopSession::inhibitScreenSaver()
{
    m_inhibitWanted = true;
    if (m_cookie != 0 || m_inhibitPending || !m_sessionBus.isConnected())
        return;
    m_inhibitPending = true;
    QDBusMessage call = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath, kScreenSaverService,
                                                       QStringLiteral("Inhibit"));
    call << desktop_texts::kApplicationTitle << desktop_texts::kInhibitReason;
    auto* watcher = new QDBusPendingCallWatcher(m_sessionBus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<uint> reply = *w;
        w->deleteLater();
        m_inhibitPending = false;
        if (reply.isError())
            return;   // no screen-saver service in this session (yet)
        if (!m_inhibitWanted) {
            // Released while the answer was on its way.
            QDBusMessage undo = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath,
                                                               kScreenSaverService, QStringLiteral("UnInhibit"));
            undo << reply.value();
            m_sessionBus.send(undo);
            return;
        }
        m_cookie = reply.value();
        emit screenSaverInhibitedChanged(true);
    });
}

void DesktopSession::releaseScreenSaver()
{
    m_inhibitWanted = false;
    if (m_cookie == 0)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath, kScreenSaverService,
                                                       QStringLiteral("UnInhibit"));
    call << m_cookie;
    m_sessionBus.send(call);
    m_cookie = 0;
    emit screenSaverInhibitedChanged(false);
}

void DesktopSession::watchScreenSaverSetting(int intervalMs)
{
    m_screenSaverTimer.start(intervalMs);
    checkScreenSaverSetting();
}

void DesktopSession::checkScreenSaverSetting()
{
    if (m_client.settings().readBool(QStringLiteral("QUVO"), QStringLiteral("PreventScreenSaver"), false))
        inhibitScreenSaver();
    else
        releaseScreenSaver();
}

bool DesktopSession::watchSleep()
{
    if (!m_systemBus.isConnected())
        return false;
    return m_systemBus.connect(kLogindService, kLogindPath, kLogindManager, QStringLiteral("PrepareForSleep"), this,
                               SLOT(PrepareForSleep(bool)));
}

void DesktopSession::PrepareForSleep(bool sleeping)
{
    emit sleepChanged(sleeping);
    if (sleeping) {
        m_resumeTimer.stop();
        m_client.suspendConnection();
    } else {
        m_resumeTimer.start();
    }
}

} // namespace quvo
