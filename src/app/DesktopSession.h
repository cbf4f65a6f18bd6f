#pragma once
// What the desktop session tells the program and asks of it over D-Bus:
// keeping the screen saver off, and suspend and resume from logind.
#include <QDBusConnection>
#include <QObject>
#include <QTimer>

namespace quvo {

class HardwareClient;

class DesktopSession : public QObject {
    Q_OBJECT
public:
    DesktopSession(HardwareClient& client, QDBusConnection sessionBus, QDBusConnection systemBus,
                   QObject* parent = nullptr);
    explicit DesktopSession(HardwareClient& client, QObject* parent = nullptr);
    ~DesktopSession() override;

    // Asks org.freedesktop.ScreenSaver for an inhibition that lasts until
    // releaseScreenSaver() or destruction. No bus or no service: nothing,
    // until the next call asks again.
    void inhibitScreenSaver();
    void releaseScreenSaver();
    bool screenSaverInhibited() const { return m_cookie != 0; }
    // What the setting last asked for, whether or not a service took it.
    bool screenSaverRefused() const { return m_inhibitWanted; }

    // The desktop never asks before it starts the screen saver, so the
    // setting is read now and again at every interval, from all its
    // sources: a value kept on the server or changed while running counts.
    void watchScreenSaverSetting(int intervalMs = 60000);
    void checkScreenSaverSetting();

    // Listens to logind's PrepareForSleep; false when there is no system bus.
    bool watchSleep();
    void setResumeDelayMs(int ms) { m_resumeTimer.setInterval(ms); }
    bool resumePending() const { return m_resumeTimer.isActive(); }

signals:
    void screenSaverInhibitedChanged(bool inhibited);
    void sleepChanged(bool sleeping);

public slots:
    // true: the machine is about to sleep; false: it has woken up.
    void PrepareForSleep(bool sleeping);

private:
    HardwareClient& m_client;
    QDBusConnection m_sessionBus;
    QDBusConnection m_systemBus;
    QTimer m_resumeTimer;
    QTimer m_screenSaverTimer;
    uint m_cookie = 0;
    bool m_inhibitWanted = false;
    bool m_inhibitPending = false;
};

} // namespace quvo
