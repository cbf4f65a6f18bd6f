#include "device/DeviceController.h"

#include "common/SettingsStore.h"
#include "common/UserInterface.h"
#include "device/DeviceTexts.h"
#include "device/TelldusLibrary.h"
#include "device/TelldusWorker.h"

#include <QLocale>
#include <algorithm>

namespace quvo {

namespace {

const QString kNameKey = QStringLiteral("TellStickDevicename");
const QString kRepeatKey = QStringLiteral("TellStickRepeat");

QString captionFor(int lastCommand)
{
    if (lastCommand == TelldusLibrary::kTurnOn)
        return device_texts::kTurnedOn;
    if (lastCommand == TelldusLibrary::kTurnOff)
        return device_texts::kTurnedOff;
    return QString();
}

} // namespace

DeviceController::DeviceController(TelldusWorker& telldus, SettingsStore& settings, UserInterface& ui,
                                   Clock& clock, QObject* parent)
    : QObject(parent)
    , m_telldus(telldus)
    , m_settings(settings)
    , m_ui(ui)
    , m_clock(clock)
    , m_lookupRetry(clock.createTimer())
    , m_commandRetry(clock.createTimer())
    , m_caption(device_texts::kNotConnected)
{
    m_commandRetry->setSingleShot(true);
    connect(m_commandRetry.get(), &Timer::timeout, this, &DeviceController::sendIntent);
    // Whatever was on its way while the library was closed and opened again
    // may not have reached the transmitter.
    connect(&m_telldus, &TelldusWorker::libraryRestarted, this, &DeviceController::reassert);
    m_lookupRetry->setSingleShot(true);
    connect(m_lookupRetry.get(), &Timer::timeout, this, [this] {
        if (!m_name.isEmpty())
            lookup(true);
    });
    connect(&m_telldus, &TelldusWorker::lookedUp, this, &DeviceController::onLookedUp);
    connect(&m_telldus, &TelldusWorker::switched, this, &DeviceController::onSwitched);
    connect(&m_telldus, &TelldusWorker::statusRead, this, &DeviceController::onStatusRead);
}

QString DeviceController::panelCaption() const
{
    return m_libraryFault ? m_faultCaption : m_caption;
}

void DeviceController::restoreName()
{
    m_name = m_settings.ReadSettingDef(device_texts::kSection, kNameKey, QString());
    // More than a few repeats would hold the transmitter for seconds per command.
    m_repeat = std::clamp(m_settings.readInt(device_texts::kSection, kRepeatKey, 1), 1, kMaxRepeat);
    emit nameRestored(m_name);
}

void DeviceController::useName(const QString& name)
{
    m_name = name;
    m_repeat = std::clamp(m_settings.readInt(device_texts::kSection, kRepeatKey, 1), 1, kMaxRepeat);
}

void DeviceController::Edit1Change(const QString& text)
{
    m_name = text;
    m_settings.WriteSetting(device_texts::kSection, kNameKey, text);
}

void DeviceController::BitBtn2Click()
{
    m_lookupRetry->stop();
    lookup(false);
}

void DeviceController::lookup(bool quiet)
{
    // The device found so far keeps being switched until the answer names
    // the one to use: a decision made meanwhile must reach a receiver.
    m_lookupSerial = 0; // answers to earlier lookups no longer count
    if (m_name.isEmpty()) {
        m_deviceId = 0;
        m_accepted = Intent::None;
        m_handed = Intent::None;
        m_commandRetry->stop();
        m_ui.showInfo(device_texts::kNameRequired);
        emit focusNameField();
        m_lookupAnswered = true;
        updateFault();
        emit lookupFinished(false);
        return;
    }
    m_quietLookup = quiet;
    m_lookupStartedMs = m_clock.nowMs();
    m_lookupSerial = m_telldus.lookup(this, QLocale().toUpper(m_name));
}

void DeviceController::onLookedUp(const TelldusLookup& r)
{
    if (r.serial != m_lookupSerial)
        return;
    m_lookupAnswered = true;
    const int before = m_deviceId;
    // A service that did not answer says nothing about the device: the one
    // found before stays, and the lookup is soon tried again.
    const bool unanswered = r.loaded && r.count < 0;
    if (!unanswered)
        m_deviceId = 0;
    if (!r.loaded) {
        if (!m_libraryWarned) {
            m_libraryWarned = true;
            if (m_libraryMessageAsNotice)
                emit notice(device_texts::kLibraryMissing + r.loadError, true);
            else
                m_ui.showInfo(device_texts::kLibraryMissing + r.loadError);
        }
    } else if (r.count < 0) {
        libraryFailed(device_texts::kDevicesUnreadable, r.count, r.errorText, false);
    } else {
        if (r.deviceId != 0) {
            m_deviceId = r.deviceId;
            if (r.lastSent >= 0) {
                m_tag = r.lastSent;
                m_caption = captionFor(m_tag);
            }
        }
        if (r.deviceId != 0 && r.lastSent < 0)
            libraryFailed(device_texts::kStatusUnreadable, r.lastSent, r.errorText, false);
        else if (!m_faultBySwitch) // a lookup does not reach the transmitter
            libraryRecovered();
    }

    const bool found = m_deviceId != 0;
    if (m_deviceId != before) {
        m_accepted = Intent::None;
        m_handed = Intent::None;
        m_commandRetry->stop();
        m_failingSinceMs = -1;
    }
    m_green = found;
    if (!found)
        m_caption = device_texts::kNotConnected;
    publish(m_quietLookup);
    updateFault();
    // A service may start later (boot order): look again, every interval
    // from the start of this lookup, which a stalled service makes long.
    if (!found || unanswered) {
        const qint64 after = unanswered ? kRetryMs : kLookupRetryMs;
        m_lookupRetry->start(int(std::max<qint64>(0, after - (m_clock.nowMs() - m_lookupStartedMs))));
    }
    emit lookupFinished(found && !unanswered);
    // The device found gets what was decided meanwhile, an off included.
    if (found && !unanswered && m_intent != Intent::None) {
        sendIntent();
        ShowDeviceStatus();
    }
}

bool DeviceController::nameStartsLookup() const
{
    // Ordinal: a leading blank or control character does not start it.
    return QString::compare(m_name, QStringLiteral(" "), Qt::CaseSensitive) > 0;
}

void DeviceController::ShowDeviceStatus()
{
    if (m_deviceId != 0)
        m_telldus.readStatus(m_deviceId);
}

void DeviceController::onStatusRead(int id, int lastSent, const QString& errorText)
{
    if (id != m_deviceId)
        return;
    if (lastSent < 0) {
        libraryFailed(device_texts::kStatusUnreadable, lastSent, errorText, false);
        publish(true);
        return;
    }
    m_tag = lastSent;
    m_caption = captionFor(m_tag);
    // After a failed switch the library still reports the last command that
    // did go out; that is no sign of the transmitter being back.
    if (!m_faultBySwitch)
        libraryRecovered();
    publish(m_libraryFault); // the fault is on the panel already
    updateFault();
}

void DeviceController::Panel4DblClick()
{
    if (m_deviceId == 0)
        return;
    if (m_tag == TelldusLibrary::kTurnOn)
        turnOff();
    else if (m_tag == TelldusLibrary::kTurnOff)
        turnOn();
    ShowDeviceStatus();
}

void DeviceController::turnOn()
{
    decide(Intent::On);
}

void DeviceController::turnOff()
{
    decide(Intent::Off);
}

void DeviceController::decide(Intent intent)
{
    if (intent != m_intent) {
        m_intent = intent;
        m_commandRetry->stop();
        m_failingSinceMs = -1;
    }
    sendIntent();
}

void DeviceController::sendIntent()
{
    if (m_deviceId == 0 || m_intent == Intent::None)
        return;
    m_handed = m_intent;
    m_telldus.turn(m_deviceId, m_intent == Intent::On, m_repeat);
}

void DeviceController::reassert()
{
    sendIntent();
}

void DeviceController::flushIntent()
{
    // A command still with the worker goes out at its close anyway.
    if (m_handed != m_intent || m_commandRetry->isActive())
        sendIntent();
}

void DeviceController::retryLater()
{
    const qint64 now = m_clock.nowMs();
    if (m_failingSinceMs < 0)
        m_failingSinceMs = now;
    m_commandRetry->start(now - m_failingSinceMs < kSlowRetryAfterMs ? kRetryMs : kSlowRetryMs);
}

void DeviceController::onSwitched(int id, bool on, int result, const QString& errorText)
{
    if (id != m_deviceId)
        return;
    const Intent done = on ? Intent::On : Intent::Off;
    emit commandDone(on, result >= 0);
    if (result < 0) {
        libraryFailed(on ? device_texts::kTurnOnFailed : device_texts::kTurnOffFailed, result, errorText, true);
        publish(true); // a retry failing alike changes nothing on the panel
        // Until one goes through or the decision changes; a superseded
        // command's failure is moot.
        if (done == m_intent)
            retryLater();
        emit switchFailed(on);
        return;
    }
    if (done == m_intent) {
        m_accepted = done;
        m_commandRetry->stop();
        m_failingSinceMs = -1;
    }
    if (m_libraryFault) {
        libraryRecovered();
        updateFault();
        // A blink step does not read the state back; the panel needs it now.
        ShowDeviceStatus();
    }
}

void DeviceController::libraryFailed(const QString& what, int code, const QString& errorText, bool bySwitch)
{
    const QString codeText = device_texts::kErrorCode.arg(code);
    m_libraryFault = true;
    m_faultBySwitch = bySwitch;
    m_faultCaption = device_texts::kFaultCaption.arg(errorText.isEmpty() ? codeText : errorText);
    updateFault();
    // Told once per run of failures; a switch-on failing after a switch-off
    // did is news, a retry failing alike is not.
    if (m_faultsTold.contains(what))
        return;
    m_faultsTold << what;
    const QString detail = errorText.isEmpty() ? QStringLiteral(" (%1)").arg(codeText)
                                               : QStringLiteral(": %1 (%2)").arg(errorText, codeText);
    emit notice(what + detail, true);
}

void DeviceController::libraryRecovered()
{
    m_libraryFault = false;
    m_faultBySwitch = false;
    if (m_faultsTold.isEmpty())
        return;
    m_faultsTold.clear();
    emit notice(device_texts::kRecovered, false);
}

void DeviceController::updateFault()
{
    const bool fault = m_libraryFault || (m_lookupAnswered && m_deviceId == 0);
    if (fault == m_fault)
        return;
    m_fault = fault;
    const QString reason = !fault ? QString() : m_libraryFault ? m_faultCaption : device_texts::kNotConnected;
    emit faultChanged(fault, reason);
}

void DeviceController::publish(bool onlyIfChanged)
{
    const QString caption = panelCaption();
    const bool green = panelGreen();
    if (onlyIfChanged && m_published && caption == m_publishedCaption && green == m_publishedGreen)
        return;
    m_published = true;
    m_publishedCaption = caption;
    m_publishedGreen = green;
    emit statusChanged(caption, green ? Indicator::Green : Indicator::Red);
}

} // namespace quvo
