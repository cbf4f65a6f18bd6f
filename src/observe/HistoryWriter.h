#pragma once
// Writes the call history to its SQLite file on a thread of its own, with a
// connection of its own: posting never waits for the disk. A file that
// cannot be written is reported once; what is posted meanwhile waits in a
// bounded queue and is written when the file can be written again.
#include <QObject>
#include <QString>
#include <memory>

namespace quvo {

struct HistoryOp {
    enum Kind { CallSeen, ReceiverResult, Confirmed, Ended, Event, Prune };
    Kind kind = Event;
    QString key;          // the call's
    qint64 at = 0;        // ms since the epoch; 0 is none
    qint64 callTime = 0;  // the server's time of the call, ms since the epoch
    QString resource;
    QString caller;       // or the receiver, or the event's kind
    QString text;         // who confirmed, the receiver's result, the event's detail
};

class HistoryWriter : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxQueued = 10'000;
    static constexpr int kRetryMs = 30'000;       // after a failure, the next try
    static constexpr int kStopWaitMs = 1000;      // at the end, for the last rows

    explicit HistoryWriter(const QString& path, QObject* parent = nullptr);
    ~HistoryWriter() override;
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    void post(HistoryOp op);
    // True once everything posted so far is written (or dropped).
    bool waitForIdle(int waitMs);
    QString path() const { return m_path; }

    struct Shared;   // with the writer's thread, which may outlive this object

signals:
    void unwritable(const QString& reason);
    void writableAgain();

private:
    std::shared_ptr<Shared> m_shared;
    QString m_path;
};

} // namespace quvo
