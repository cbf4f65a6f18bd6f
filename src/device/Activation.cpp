#include "device/Activation.h"

#include "common/SettingsStore.h"
#include "device/DeviceController.h"
#include "device/DeviceTexts.h"

#include <algorithm>

namespace quvo {

namespace {

const QString kModeKey = QStringLiteral("TellStickAktivateMode");
const QString kActivateKey = QStringLiteral("TellStickAktivateTimer");
const QString kIntervalKey = QStringLiteral("TellStickIntervalTimer");
const QString kDoIntervalKey = QStringLiteral("TellStickDoIntervall");
const QString kRefreshKey = QStringLiteral("TellStickRefresh");

constexpr int kDefaultActivateMs = 2000;
constexpr int kDefaultBlinkMs = 500;
constexpr int kMinSeconds = 1;
constexpr int kMaxSeconds = 999;
constexpr int kMinBlinkMs = 100;
constexpr int kMaxBlinkMs = 5000;
constexpr int kMaxRefreshSeconds = 3600;

// setInterval restarts a running timer even for the same value; here
// only a different interval restarts the countdown.
void changeInterval(Timer& timer, int ms)
{
    if (timer.interval() == ms)
        return;
    timer.setInterval(ms);
}

// start restarts a running timer; enabling an enabled one must not.
void enable(Timer& timer)
{
    if (!timer.isActive())
        timer.start();
}

} // namespace

Activation::Activation(DeviceController& device, SettingsStore& settings, Clock& clock, QObject* parent)
    : QObject(parent)
    , m_device(device)
    , m_settings(settings)
    , m_activateTimer(clock.createTimer())
    , m_intervalTimer(clock.createTimer())
    , m_refreshTimer(clock.createTimer())
{
    // A coarse timer may fire 5% late, enough to reorder the last blink step
    // and the end of the activation.
    m_activateTimer->setTimerType(Qt::PreciseTimer);
    m_intervalTimer->setTimerType(Qt::PreciseTimer);
    m_activateTimer->setInterval(m_seconds * 1000);
    m_intervalTimer->setInterval(m_blinkMs);
    connect(m_activateTimer.get(), &Timer::timeout, this, &Activation::EnhetAktivateTimerTimer);
    connect(m_intervalTimer.get(), &Timer::timeout, this, &Activation::EnhetIntervallTimerTimer);
    m_refreshTimer->setSingleShot(true);
    connect(m_refreshTimer.get(), &Timer::timeout, this, &Activation::refreshDue);
}

void Activation::restoreSettings()
{
    const QString& section = device_texts::kSection;

    int activateMs = m_settings.readInt(section, kActivateKey, kDefaultActivateMs);
    // Zero or less would end every activation at once.
    if (activateMs <= 0)
        activateMs = kDefaultActivateMs;
    setActivationInterval(activateMs);
    m_seconds = std::clamp(activateMs / 1000, kMinSeconds, kMaxSeconds);

    // The field's range also bounds the timer: a tiny stored interval would
    // flood the transmitter with commands.
    m_blinkMs = std::clamp(m_settings.readInt(section, kIntervalKey, kDefaultBlinkMs), kMinBlinkMs,
                           kMaxBlinkMs);
    changeInterval(*m_intervalTimer, m_blinkMs);

    m_blink = m_settings.readBool(section, kDoIntervalKey, false);
    m_secondsMode = m_settings.ReadSetting(section, kModeKey) == QLatin1String("1");
    // Below a second the radio would be busy re-sending.
    const int refresh = m_settings.readInt(section, kRefreshKey, kDefaultRefreshSeconds);
    m_refreshSeconds = refresh <= 0 ? 0 : std::min(refresh, kMaxRefreshSeconds);
    emit settingsRestored();
    emit settingsChanged();
}

void Activation::RadioButton2Click()
{
    if (!m_secondsMode) {
        m_settings.WriteSetting(device_texts::kSection, kModeKey, QStringLiteral("2"));
        setActivationInterval(kUntilConfirmedMs);
    } else {
        m_settings.WriteSetting(device_texts::kSection, kModeKey, QStringLiteral("1"));
        setActivationInterval(m_seconds * 1000);
    }
    keepRefreshing();
    emit settingsChanged();
}

void Activation::setSecondsMode(bool secondsMode)
{
    m_secondsMode = secondsMode;
    RadioButton2Click();
}

void Activation::SpinEdit1Change(int seconds)
{
    m_seconds = std::clamp(seconds, kMinSeconds, kMaxSeconds);
    m_settings.WriteSetting(device_texts::kSection, kActivateKey, QString::number(m_seconds * 1000));
    if (m_secondsMode)
        setActivationInterval(m_seconds * 1000);
    emit settingsChanged();
}

void Activation::SpinEdit2Change(int intervalMs)
{
    m_blinkMs = std::clamp(intervalMs, kMinBlinkMs, kMaxBlinkMs);
    m_settings.WriteSetting(device_texts::kSection, kIntervalKey, QString::number(m_blinkMs));
    changeInterval(*m_intervalTimer, m_blinkMs);
    emit settingsChanged();
}

void Activation::CheckBox1Click(bool checked)
{
    m_blink = checked;
    m_settings.writeBool(device_texts::kSection, kDoIntervalKey, checked);
    emit settingsChanged();
}

void Activation::setRefreshSeconds(int seconds)
{
    m_refreshSeconds = std::clamp(seconds, 0, kMaxRefreshSeconds);
    m_refreshTimer->stop();
    keepRefreshing();
    emit settingsChanged();
}

void Activation::followSettings(const Activation& from)
{
    m_secondsMode = from.m_secondsMode;
    m_seconds = from.m_seconds;
    m_blinkMs = from.m_blinkMs;
    changeInterval(*m_intervalTimer, m_blinkMs);
    m_blink = from.m_blink;
    setActivationInterval(from.activationIntervalMs());
    if (from.m_refreshSeconds != m_refreshSeconds) {
        m_refreshSeconds = from.m_refreshSeconds;
        m_refreshTimer->stop();
    }
    keepRefreshing();
}

void Activation::StartActivation()
{
    if (m_activateTimer->isActive())
        return;
    // Runs without a device too: the device a lookup finds meanwhile gets
    // what the activation then decides, and its end comes on time.
    enable(*m_activateTimer);
    m_device.turnOn();
    if (m_blink) {
        m_intervalTimer->stop();
        m_intervalTimer->start();
        m_phase = 1;
    }
    m_refreshTimer->stop();
    keepRefreshing();
    m_device.ShowDeviceStatus();
}

void Activation::StopActivation()
{
    const bool ended = m_activateTimer->isActive() || m_device.intent() != DeviceController::Intent::Off;
    m_activateTimer->stop();
    m_intervalTimer->stop();
    m_device.turnOff();
    if (m_device.TellStickDeviceId() != 0)
        m_device.ShowDeviceStatus();
    // A receiver that missed the off would stay lit until the next call
    // ends; lists that only repeat the off do not start the round again.
    if (ended) {
        m_refreshTimer->stop();
        m_offRefreshes = 0;
        keepRefreshing();
    }
}

void Activation::stopTimers()
{
    m_activateTimer->stop();
    m_intervalTimer->stop();
    m_refreshTimer->stop();
    m_offRefreshes = kOffRefreshes;
}

// Runs the refresh timer when the state calls for it: a steady activation
// until confirmed re-sends its on, the end of an activation its offs.
// A running countdown is left alone.
void Activation::keepRefreshing()
{
    if (m_refreshSeconds <= 0 || m_refreshTimer->isActive())
        return;
    const int ms = m_refreshSeconds * 1000;
    if (m_activateTimer->isActive()) {
        if (!m_secondsMode && !m_intervalTimer->isActive())
            m_refreshTimer->start(ms);
    } else if (m_offRefreshes < kOffRefreshes) {
        m_refreshTimer->start(ms << std::max(0, m_offRefreshes - 1));
    }
}

void Activation::refreshDue()
{
    if (m_activateTimer->isActive()) {
        if (!m_secondsMode && !m_intervalTimer->isActive())
            m_device.reassert();
    } else if (m_offRefreshes < kOffRefreshes) {
        ++m_offRefreshes;
        m_device.reassert();
    }
    keepRefreshing();
}

void Activation::EnhetAktivateTimerTimer()
{
    StopActivation();
}

void Activation::EnhetIntervallTimerTimer()
{
    m_intervalTimer->stop();
    if (m_activateTimer->isActive()) {
        if (m_phase == 1) {
            m_phase = 2;
            m_device.turnOff();
        } else if (m_phase == 2) {
            m_phase = 1;
            m_device.turnOn();
        }
    }
    if (m_activateTimer->isActive())
        enable(*m_intervalTimer);
}

void Activation::setActivationInterval(int ms)
{
    changeInterval(*m_activateTimer, ms);
}

} // namespace quvo
