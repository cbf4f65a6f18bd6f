#pragma once
// The receivers besides the one of TellStickDevicename, from the settings'
// section Receivers: each has its own device, resources and delay, and is
// on while a call for one of its resources has waited its seconds
// unconfirmed. Each runs the primary's mode, seconds, blink and refresh on
// its own activation; all share the one Telldus worker.
#include "common/Clock.h"
#include "common/DataModel.h"
#include "common/UserInterface.h"
#include "core/CallAges.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace quvo {

class Activation;
class DeviceController;
class SettingsStore;
class TelldusWorker;

// One line of the section: "<device name>;<resources>;<seconds>".
struct ReceiverLine {
    static constexpr int kMaxSeconds = 86'400;
    int key = 0;                 // 1 to 16
    QString device;
    bool allResources = false;   // "*"
    QStringList resources;       // names or numbers, as the call list gives them
    int seconds = 0;
    bool serves(const QString& resourceName, int resourceId) const;
    QString value() const;       // as stored
};

// Nothing for a malformed value.
std::optional<ReceiverLine> parseReceiverLine(int key, const QString& value);

class ReceiverSet : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxReceivers = 16;
    static const QString kSection;

    // What a front end shows of one receiver.
    struct View {
        int key = 0;
        QString name;
        QString caption;
        bool green = false;
        bool fault = false;
        QString faultReason;
        bool active = false;
    };

    ReceiverSet(TelldusWorker& telldus, SettingsStore& settings, UserInterface& ui, Activation& primary,
                Clock& clock, QObject* parent = nullptr);
    ~ReceiverSet() override;

    // Reads the section. A receiver whose device is unchanged keeps its
    // state; a new one looks its device up when lookUp() has run before.
    // A malformed line is told once per run, at once or at lookUp().
    void load();
    void lookUp();
    static std::vector<ReceiverLine> readLines(SettingsStore& settings);
    // Writes the lines, keys from 1 in their order; the keys after them are emptied.
    static void writeLines(SettingsStore& settings, const std::vector<ReceiverLine>& lines);

    // Every call list: the calls' ages, then each receiver's decision.
    void callList(const TCallList& calls);
    void stopTimers();                // at quit
    void flushIntents();              // at quit, before the worker closes

    int count() const { return int(m_receivers.size()); }
    std::vector<View> views() const;
    const ReceiverLine& line(int index) const;
    DeviceController& device(int index);
    Activation& activation(int index);
    const CallAges& ages() const { return m_ages; }

signals:
    void receiversChanged();
    void statusChanged(int key, const QString& name, const QString& caption, Indicator colour);
    void faultChanged(int key, const QString& name, bool fault, const QString& reason);
    // Named after the receiver.
    void notice(const QString& text, bool warning);

private:
    struct Receiver;
    void tellMalformed();
    void decide(Receiver& r, bool fromList);
    std::unique_ptr<Receiver> create(const ReceiverLine& line);

    TelldusWorker& m_telldus;
    SettingsStore& m_settings;
    UserInterface& m_ui;
    Activation& m_primary;
    Clock& m_clock;
    CallAges m_ages;
    std::vector<std::unique_ptr<Receiver>> m_receivers;
    QStringList m_malformed;        // not told yet
    QSet<QString> m_told;
    bool m_lookedUp = false;
    bool m_listSeen = false;
};

} // namespace quvo
