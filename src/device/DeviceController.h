#pragma once
// Finds the receiver by name and switches it; reports its state to the person.
#include <QObject>
#include <QString>

namespace quvo {

class TelldusLibrary;
class UserInterface;
class SettingsStore;

class DeviceController : public QObject {
    Q_OBJECT
public:
    DeviceController(TelldusLibrary& lib, SettingsStore& settings, UserInterface& ui, QObject* parent = nullptr);

    int TellStickDeviceId() const { return m_deviceId; }
    QString deviceName() const { return m_name; }
    int panelTag() const { return m_tag; }
    QString panelCaption() const { return m_caption; }
    bool panelGreen() const { return m_green; }

    void restoreName();                        // from TellStickDevicename
    void Edit1Change(const QString& text);     // writes the setting at once
    bool BitBtn2Click();                       // lookup; true when found
    bool nameStartsLookup() const;             // at first activation: name above " "
    void ShowDeviceStatus();
    void Panel4DblClick();                     // manual switch
    void turnOn();                             // no-op without a device
    void turnOff();

signals:
    void focusNameField();                     // after "Enhetsnamn måste anges!"
    void nameRestored(const QString& name);

private:
    void publish();
    TelldusLibrary& m_lib;
    SettingsStore& m_settings;
    UserInterface& m_ui;
    int m_deviceId = 0;
    QString m_name;
    int m_tag = 0;
    QString m_caption;
    bool m_green = false;
    bool m_libraryWarned = false;
};

} // namespace quvo
