#pragma once
// Finds the receiver by name and switches it; reports its state to the person.
// The library is reached through the worker: every operation here returns at
// once and its answer arrives later on this thread.
#include "common/Clock.h"
#include "common/UserInterface.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

namespace quvo {

class TelldusWorker;
struct TelldusLookup;
class SettingsStore;

class DeviceController : public QObject {
    Q_OBJECT
public:
    static constexpr int kLookupRetryMs = 10'000;
    static constexpr int kMaxRepeat = 5;
    // A failed command is sent again while it is still what the receiver
    // should be: often at first, then less so once the failure lasts.
    static constexpr int kRetryMs = 2000;
    static constexpr int kSlowRetryMs = 10'000;
    static constexpr int kSlowRetryAfterMs = 60'000;

    // What the receiver should be, as last decided (by a call list, the end
    // of an activation, a blink step or a person); None until then.
    enum class Intent { None, Off, On };

    DeviceController(TelldusWorker& telldus, SettingsStore& settings, UserInterface& ui,
                     Clock& clock = Clock::system(), QObject* parent = nullptr);

    int TellStickDeviceId() const { return m_deviceId; }
    QString deviceName() const { return m_name; }
    int panelTag() const { return m_tag; }
    QString panelCaption() const;
    bool panelGreen() const { return m_green && !m_libraryFault; }
    int repeat() const { return m_repeat; }
    // The receiver cannot be switched: no device after a lookup, or the last
    // call of the library failed. The panel is red then as well.
    bool receiverFault() const { return m_fault; }

    void restoreName();                        // TellStickDevicename, TellStickRepeat
    void Edit1Change(const QString& text);     // writes the setting at once
    // A receiver besides the one of TellStickDevicename: its name comes from
    // elsewhere, TellStickRepeat is shared.
    void useName(const QString& name);
    // A missing library is told as a notice: one of the receivers shows the box.
    void setLibraryMessageAsNotice(bool asNotice) { m_libraryMessageAsNotice = asNotice; }
    void BitBtn2Click();                       // lookup; answered by lookupFinished
    bool nameStartsLookup() const;             // at first activation: name above " "
    void ShowDeviceStatus();
    void Panel4DblClick();                     // manual switch
    // Decide the receiver's state and send it to the selected device (the
    // decision is kept without one, for the device a lookup finds).
    void turnOn();
    void turnOff();
    Intent intent() const { return m_intent; }
    // The decision the library last took for the selected device; None
    // after a device change or before the first answer.
    Intent accepted() const { return m_accepted; }
    // Sends the decision again: a receiver behind a one-way radio may have
    // missed it.
    void reassert();
    // At quit: hands the decision to the library once more unless it is
    // known to have gone out.
    void flushIntent();

signals:
    void focusNameField();                     // after "Enhetsnamn måste anges!"
    void nameRestored(const QString& name);
    void lookupFinished(bool found);
    void switchFailed(bool on);                // for the selected device
    // Every answer of the library to a command for the selected device.
    void commandDone(bool on, bool ok);
    void faultChanged(bool fault, const QString& reason);
    void statusChanged(const QString& caption, Indicator colour);    // the device panel
    // For whoever glances at the program, without stopping it.
    void notice(const QString& text, bool warning);

private:
    void lookup(bool quiet);
    void onLookedUp(const TelldusLookup& result);
    void onSwitched(int id, bool on, int result, const QString& errorText);
    void onStatusRead(int id, int lastSent, const QString& errorText);
    void libraryFailed(const QString& what, int code, const QString& errorText, bool bySwitch);
    void libraryRecovered();
    void updateFault();
    void publish(bool onlyIfChanged = false);
    void decide(Intent intent);
    void sendIntent();
    void retryLater();

    TelldusWorker& m_telldus;
    SettingsStore& m_settings;
    UserInterface& m_ui;
    Clock& m_clock;
    std::unique_ptr<Timer> m_lookupRetry;
    std::unique_ptr<Timer> m_commandRetry;
    qint64 m_failingSinceMs = -1;   // the decision's commands fail since then
    Intent m_intent = Intent::None;
    Intent m_accepted = Intent::None;
    Intent m_handed = Intent::None;   // the last command given to the worker for this device
    qint64 m_lookupStartedMs = 0;
    int m_deviceId = 0;
    QString m_name;
    int m_repeat = 1;
    int m_tag = 0;
    QString m_caption;
    bool m_green = false;
    bool m_libraryWarned = false;
    bool m_libraryMessageAsNotice = false;
    quint64 m_lookupSerial = 0;
    bool m_quietLookup = false;
    bool m_lookupAnswered = false;
    // A failed library call whose effect lasts until the next success.
    bool m_libraryFault = false;
    bool m_faultBySwitch = false;   // only a sent command clears it
    QStringList m_faultsTold;       // in this run of failures, each kind once
    QString m_faultCaption;
    bool m_fault = false;
    QString m_publishedCaption;
    bool m_publishedGreen = false;
    bool m_published = false;
};

} // namespace quvo
