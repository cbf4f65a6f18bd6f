#include "device/DeviceController.h"
#include "common/Text.h"

#include "common/SettingsStore.h"
#include "common/UserInterface.h"
#include "device/DeviceTexts.h"
#include "device/TelldusLibrary.h"

#include <QLocale>

namespace quvo {

namespace {

const QString kNameKey = QStringLiteral("TellStickDevicename");
constexpr int kBothMethods = TelldusLibrary::kTurnOn | TelldusLibrary::kTurnOff;


QString captionFor(int lastCommand)
{
    if (lastCommand == TelldusLibrary::kTurnOn)
        return device_texts::kTurnedOn;
    if (lastCommand == TelldusLibrary::kTurnOff)
        return device_texts::kTurnedOff;
    return QString();
}

} // namespace

DeviceController::DeviceController(TelldusLibrary& lib, SettingsStore& settings, UserInterface& ui,
                                   QObject* parent)
    : QObject(parent)
    , m_lib(lib)
    , m_settings(settings)
    , m_ui(ui)
    , m_caption(device_texts::kNotConnected)
{
}

void DeviceController::restoreName()
{
    m_name = m_settings.ReadSettingDef(device_texts::kSection, kNameKey, QString());
    emit nameRestored(m_name);
}

void DeviceController::Edit1Change(const QString& text)
{
    m_name = text;
    m_settings.WriteSetting(device_texts::kSection, kNameKey, text);
}

bool DeviceController::BitBtn2Click()
{
    m_deviceId = 0;
    if (m_name.isEmpty()) {
        m_ui.showInfo(device_texts::kNameRequired);
        emit focusNameField();
        return false;
    }

    if (!m_lib.isLoaded() && !m_lib.loadAttempted())
        m_lib.load();
    if (!m_lib.isLoaded() && !m_libraryWarned) {
        m_libraryWarned = true;
        m_ui.showInfo(device_texts::kLibraryMissing + m_lib.loadError());
    }

    m_lib.init();
    const int count = m_lib.numberOfDevices();
    const QLocale locale;
    const QString wanted = locale.toUpper(m_name);
    bool found = false;
    for (int index = 0; index < count; ++index) {
        const int id = m_lib.deviceId(index);
        // 0 stands for "no device" everywhere else, so a device reported with
        // it could be shown as connected and never be switched.
        if (id <= 0)
            continue;
        if (trimControl(locale.toUpper(m_lib.name(id))) != wanted)
            continue;
        m_deviceId = id;
        found = true;
        m_tag = m_lib.lastSentCommand(id, kBothMethods);
        m_caption = captionFor(m_tag);
        break;
    }

    m_green = found;
    if (!found)
        m_caption = device_texts::kNotConnected;
    publish();
    return found;
}

bool DeviceController::nameStartsLookup() const
{
    // Ordinal: a leading blank or control character does not start it.
    return QString::compare(m_name, QStringLiteral(" "), Qt::CaseSensitive) > 0;
}

void DeviceController::ShowDeviceStatus()
{
    if (m_deviceId == 0)
        return;
    m_tag = m_lib.lastSentCommand(m_deviceId, kBothMethods);
    m_caption = captionFor(m_tag);
    publish();
}

void DeviceController::Panel4DblClick()
{
    if (m_deviceId == 0)
        return;
    if (m_tag == TelldusLibrary::kTurnOn)
        m_lib.turnOff(m_deviceId);
    else if (m_tag == TelldusLibrary::kTurnOff)
        m_lib.turnOn(m_deviceId);
    ShowDeviceStatus();
}

void DeviceController::turnOn()
{
    if (m_deviceId != 0)
        m_lib.turnOn(m_deviceId);
}

void DeviceController::turnOff()
{
    if (m_deviceId != 0)
        m_lib.turnOff(m_deviceId);
}

void DeviceController::publish()
{
    m_ui.setDeviceStatus(m_caption, m_green ? Indicator::Green : Indicator::Red);
}

} // namespace quvo
