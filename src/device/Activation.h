#pragma once
// Switching the receiver for calls: for a set time or until confirmed,
// optionally blinking.
#include "common/Clock.h"

#include <QObject>
#include <memory>

namespace quvo {

class DeviceController;
class SettingsStore;

class Activation : public QObject {
    Q_OBJECT
public:
    static constexpr int kUntilConfirmedMs = 86'400'000;
    static constexpr int kDefaultRefreshSeconds = 30;
    // Offs sent again after an activation ends, at 1, 2, 4 and 8 times the
    // refresh interval; then the radio is quiet.
    static constexpr int kOffRefreshes = 4;

    Activation(DeviceController& device, SettingsStore& settings, Clock& clock = Clock::system(),
               QObject* parent = nullptr);

    void restoreSettings();          // steps 2..5 of the restore (name is the controller's)
    void RadioButton2Click();        // mode handler; also once at the end of creation
    void setSecondsMode(bool secondsMode);   // the radio buttons, then the mode handler
    void SpinEdit1Change(int seconds);
    void SpinEdit2Change(int intervalMs);
    void CheckBox1Click(bool checked);

    void StartActivation();
    void StopActivation();
    void stopTimers();               // closing the window: timers off, device as it is
    // Another receiver's activation runs by the same mode, seconds, blink
    // and refresh; nothing is written.
    void followSettings(const Activation& from);
    // TellStickRefresh: seconds between re-sent commands; 0: none.
    int refreshSeconds() const { return m_refreshSeconds; }
    void setRefreshSeconds(int seconds);

    bool secondsMode() const { return m_secondsMode; }
    int seconds() const { return m_seconds; }
    int blinkIntervalMs() const { return m_blinkMs; }
    bool blink() const { return m_blink; }
    bool active() const { return m_activateTimer->isActive(); }
    bool blinking() const { return m_intervalTimer->isActive(); }
    int activationIntervalMs() const { return m_activateTimer->interval(); }
    int blinkPhase() const { return m_phase; }

signals:
    void settingsRestored();         // front ends refresh their controls
    void settingsChanged();          // restored, or changed by a person

private:
    void EnhetAktivateTimerTimer();
    void EnhetIntervallTimerTimer();
    void setActivationInterval(int ms);
    void refreshDue();
    void keepRefreshing();
    DeviceController& m_device;
    SettingsStore& m_settings;
    std::unique_ptr<Timer> m_activateTimer;   // EnhetAktivateTimer
    std::unique_ptr<Timer> m_intervalTimer;   // EnhetIntervallTimer
    std::unique_ptr<Timer> m_refreshTimer;    // re-sends for a one-way radio
    int m_offRefreshes = kOffRefreshes;       // sent since the activation ended
    int m_refreshSeconds = kDefaultRefreshSeconds;
    int m_phase = 0;
    bool m_secondsMode = false;
    int m_seconds = 2;
    int m_blinkMs = 500;
    bool m_blink = false;
};

} // namespace quvo
