#pragma once
// Watches the program without changing it: follows the core's signals and
// reads its state for the status endpoint and the call history. The core
// never calls it; a slow disk or a slow HTTP client never holds a switch.
#include "common/Clock.h"
#include "observe/CallHistory.h"
#include "observe/StatusModel.h"

#include <QObject>
#include <QTimer>
#include <memory>
#include <vector>

namespace quvo {

class Activation;
class DeviceController;
class HardwareClient;
class HistoryWriter;
class StatusServer;

class Observer : public QObject {
    Q_OBJECT
public:
    static constexpr int kPruneEveryMs = 24 * 3600 * 1000;
    static constexpr int kDefaultHistoryDays = 400;
    static constexpr int kDefaultPort = 9741;

    Observer(HardwareClient& client, Clock& clock = Clock::system(), QObject* parent = nullptr);
    ~Observer() override;

    // After FormCreate (the settings' folder is known). defaultListen: the
    // endpoint's address when StatusListen is not set; empty is off.
    void start(const QString& defaultListen);

    quint16 statusPort() const;                 // 0 when off
    StatusModel& model() { return m_model; }
    HistoryWriter* historyWriter() { return m_writer.get(); }

    // $XDG_DATA_HOME/Veltaris/QUVO/history.sqlite
    static QString historyPath();

signals:
    void notice(const QString& text, bool warning);

private:
    void startEndpoint(const QString& listen);
    // Every receiver, the primary first; the others change with the settings.
    struct Watched {
        DeviceController* device = nullptr;
        Activation* activation = nullptr;
        std::vector<QMetaObject::Connection> links;
    };
    void watch(std::size_t index, DeviceController& device, Activation& activation);
    void watchOthers();
    void refreshReceiver(std::size_t index);
    void refreshReceivers();
    void onCallList();
    void onCommandDone(std::size_t index, bool on, bool ok);
    void prune();

    HardwareClient& m_client;
    StatusModel m_model;
    std::vector<Watched> m_watched;
    std::unique_ptr<StatusServer> m_server;
    std::unique_ptr<HistoryWriter> m_writer;
    std::unique_ptr<CallHistory> m_history;
    QTimer m_pruneTimer;
    int m_historyDays = kDefaultHistoryDays;
    bool m_up = false;
};

} // namespace quvo
