#pragma once
// Every Telldus call runs on one thread of its own, in the order asked; the
// answers come back to the owner's thread as signals. With the service
// stopped each call of the library takes seconds: the event loop waits for
// none of them.
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

namespace quvo {

struct TelldusLookup {
    quint64 serial = 0;
    bool loaded = false;
    QString loadError;        // not loaded: the file(s) tried
    int count = 0;            // tdGetNumberOfDevices; negative: failure
    int deviceId = 0;         // 0: not found
    int lastSent = 0;         // of the device found; negative: failure
    QString errorText;        // the library's text for the failure, if it has one
};

class TelldusWorker : public QObject {
    Q_OBJECT
public:
    static constexpr int kRepeatGapMs = 250;
    static constexpr int kCloseWaitMs = 2000;
    // How often the library's own thread is looked at, and the share of one
    // core it may use before the library is closed and opened again.
    static constexpr int kLibraryWatchMs = 5000;
    static constexpr double kLibraryBusyShare = 0.05;

    explicit TelldusWorker(QObject* parent = nullptr);
    ~TelldusWorker() override;
    TelldusWorker(const TelldusWorker&) = delete;
    TelldusWorker& operator=(const TelldusWorker&) = delete;

    // Loads the library if it is not yet, tdInit, then finds the first
    // device whose upper-cased, trimmed name equals upperName. Each receiver
    // is its own requester: a newer lookup replaces only its own queued one.
    // Returns the serial its answer carries, unique in this worker.
    quint64 lookup(const void* requester, const QString& upperName);
    // The names of the library's devices, for a person to choose from.
    void listDevices();
    // Sends the command `times` times, kRepeatGapMs apart; a newer switch
    // ends the repeats early.
    void turn(int id, bool on, int times);
    void readStatus(int id);
    // Sends the switches still queued, drops the rest, and closes the
    // library on the worker.
    // False when that did not end within waitMs; the thread then finishes
    // alone, and nothing more is sent.
    bool close(int waitMs = kCloseWaitMs);
    // For tests: true once nothing is queued or running.
    bool waitForIdle(int waitMs);
    void setLibraryWatchInterval(int ms);
    void setRepeatGap(int ms);

signals:
    void lookedUp(const quvo::TelldusLookup& result);
    // result: 0 when at least one of the repeats was sent, else the last code.
    void switched(int id, bool on, int result, const QString& errorText);
    void statusRead(int id, int lastSent, const QString& errorText);
    // loaded false: no library; count negative: the library failed.
    void devicesListed(bool loaded, int count, const QStringList& names);
    // The library's thread was busy on its own and the library was restarted.
    void libraryRestarted();

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

} // namespace quvo
