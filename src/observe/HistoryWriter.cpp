#include "observe/HistoryWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace quvo {

namespace {

const char* const kSchema[] = {
    "PRAGMA journal_mode=WAL",
    // With WAL a crash of the program loses nothing committed; only a power
    // loss may take the last commits.
    "PRAGMA synchronous=NORMAL",
    "PRAGMA busy_timeout=2000",
    "CREATE TABLE IF NOT EXISTS calls(key TEXT PRIMARY KEY, resource TEXT, caller TEXT, call_time INTEGER,"
    " first_seen INTEGER NOT NULL, confirmed_at INTEGER, confirmed_by TEXT, ended INTEGER)",
    "CREATE INDEX IF NOT EXISTS calls_first_seen ON calls(first_seen)",
    "CREATE TABLE IF NOT EXISTS call_receivers(call_key TEXT NOT NULL, receiver TEXT NOT NULL, on_at INTEGER,"
    " result TEXT, PRIMARY KEY(call_key, receiver))",
    "CREATE TABLE IF NOT EXISTS events(id INTEGER PRIMARY KEY, at INTEGER NOT NULL, kind TEXT NOT NULL, detail TEXT)",
    "CREATE INDEX IF NOT EXISTS events_at ON events(at)",
};

QVariant orNull(qint64 v) { return v ? QVariant(v) : QVariant(QMetaType::fromType<qint64>()); }

bool run(QSqlDatabase& db, const QString& sql, const QVariantList& values, QString* error)
{
    QSqlQuery q(db);
    if (!q.prepare(sql)) {
        *error = q.lastError().text();
        return false;
    }
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        *error = q.lastError().text();
        return false;
    }
    return true;
}

bool apply(QSqlDatabase& db, const HistoryOp& op, QString* error)
{
    switch (op.kind) {
    case HistoryOp::CallSeen:
        return run(db, QStringLiteral("INSERT INTO calls(key, resource, caller, call_time, first_seen)"
                                      " VALUES(?, ?, ?, ?, ?) ON CONFLICT(key) DO NOTHING"),
                   {op.key, op.resource, op.caller, orNull(op.callTime), op.at}, error);
    case HistoryOp::ReceiverResult:
        // The first time it went on stays, also across a restart mid-call.
        return run(db, QStringLiteral("INSERT INTO call_receivers(call_key, receiver, on_at, result) VALUES(?, ?, ?, ?)"
                                      " ON CONFLICT(call_key, receiver) DO UPDATE SET on_at = excluded.on_at,"
                                      " result = excluded.result WHERE call_receivers.on_at IS NULL"),
                   {op.key, op.caller, orNull(op.at), op.text}, error);
    case HistoryOp::Confirmed:
        return run(db, QStringLiteral("UPDATE calls SET confirmed_at = ?, confirmed_by = ? WHERE key = ?"
                                      " AND confirmed_at IS NULL"),
                   {orNull(op.at), op.text, op.key}, error);
    case HistoryOp::Ended:
        return run(db, QStringLiteral("UPDATE calls SET ended = ? WHERE key = ? AND ended IS NULL"), {op.at, op.key},
                   error);
    case HistoryOp::Event:
        return run(db, QStringLiteral("INSERT INTO events(at, kind, detail) VALUES(?, ?, ?)"),
                   {op.at, op.caller, op.text}, error);
    case HistoryOp::Prune:
        return run(db, QStringLiteral("DELETE FROM call_receivers WHERE call_key IN"
                                      " (SELECT key FROM calls WHERE first_seen < ?)"), {op.at}, error)
            && run(db, QStringLiteral("DELETE FROM calls WHERE first_seen < ?"), {op.at}, error)
            && run(db, QStringLiteral("DELETE FROM events WHERE at < ?"), {op.at}, error);
    }
    return false;
}

} // namespace

struct HistoryWriter::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<HistoryOp> queue;
    bool busy = false;
    bool stop = false;
    bool finished = false;            // the thread is done with the database
    HistoryWriter* owner = nullptr;   // cleared when it goes; reports are posted to it
    QString path;
    QString connection;

    template <typename F> void report(F f)
    {
        std::lock_guard lock(mutex);
        if (owner)
            QMetaObject::invokeMethod(owner, [o = owner, f] { f(o); }, Qt::QueuedConnection);
    }
};

namespace {

void writerLoop(std::shared_ptr<HistoryWriter::Shared> s);

} // namespace

HistoryWriter::HistoryWriter(const QString& path, QObject* parent)
    : QObject(parent), m_shared(std::make_shared<Shared>()), m_path(path)
{
    static std::atomic<int> serial{0};
    m_shared->owner = this;
    m_shared->path = path;
    m_shared->connection = QStringLiteral("quvo-history-%1").arg(++serial);
    std::thread(writerLoop, m_shared).detach();
}

HistoryWriter::~HistoryWriter()
{
    std::unique_lock lock(m_shared->mutex);
    m_shared->owner = nullptr;
    m_shared->stop = true;
    m_shared->wake.notify_all();
    // The last rows (the end of the program) get a moment; a stalled disk
    // does not hold the exit, the thread then ends alone.
    m_shared->idle.wait_for(lock, std::chrono::milliseconds(kStopWaitMs), [&] { return m_shared->finished; });
}

void HistoryWriter::post(HistoryOp op)
{
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->queue.size() >= std::size_t(kMaxQueued))
        return;
    m_shared->queue.push_back(std::move(op));
    m_shared->wake.notify_one();
}

bool HistoryWriter::waitForIdle(int waitMs)
{
    std::unique_lock lock(m_shared->mutex);
    return m_shared->idle.wait_for(lock, std::chrono::milliseconds(waitMs),
                                   [&] { return m_shared->queue.empty() && !m_shared->busy; });
}

namespace {

bool openDatabase(QSqlDatabase& db, const QString& path, QString* error)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("mappen kan inte skapas");
        return false;
    }
    db.setDatabaseName(path);
    if (!db.open()) {
        *error = db.lastError().text();
        return false;
    }
    for (const char* sql : kSchema) {
        QSqlQuery q(db);
        if (!q.exec(QString::fromLatin1(sql))) {
            *error = q.lastError().text();
            db.close();
            return false;
        }
    }
    return true;
}

bool writeBatch(QSqlDatabase& db, const std::deque<HistoryOp>& batch, QString* error)
{
    if (!db.transaction()) {
        *error = db.lastError().text();
        return false;
    }
    for (const HistoryOp& op : batch) {
        if (!apply(db, op, error)) {
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        *error = db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

void writerLoop(std::shared_ptr<HistoryWriter::Shared> s)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), s->connection);
        bool failing = false;
        auto retryAt = std::chrono::steady_clock::now();
        for (;;) {
            std::deque<HistoryOp> batch;
            {
                std::unique_lock lock(s->mutex);
                s->busy = false;
                s->idle.notify_all();
                s->wake.wait(lock, [&] { return s->stop || !s->queue.empty(); });
                if (s->queue.empty())
                    break;
                // After a failure the queue waits for the next try (the
                // program's end tries once more).
                if (failing && !s->stop && std::chrono::steady_clock::now() < retryAt) {
                    s->wake.wait_until(lock, retryAt, [&] { return s->stop; });
                    continue;
                }
                batch.swap(s->queue);
                s->busy = true;
            }
            QString error;
            const bool ok = (db.isOpen() || openDatabase(db, s->path, &error)) && writeBatch(db, batch, &error);
            if (ok && failing) {
                failing = false;
                s->report([](HistoryWriter* w) { emit w->writableAgain(); });
            } else if (!ok) {
                db.close();
                retryAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(HistoryWriter::kRetryMs);
                if (!failing)
                    s->report([error](HistoryWriter* w) { emit w->unwritable(error); });
                failing = true;
                std::lock_guard lock(s->mutex);
                if (s->stop)
                    continue;   // nothing more will come: this batch is gone
                // Kept for the next try, within the bound.
                while (!batch.empty() && s->queue.size() < std::size_t(HistoryWriter::kMaxQueued)) {
                    s->queue.push_front(std::move(batch.back()));
                    batch.pop_back();
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(s->connection);
    std::lock_guard lock(s->mutex);
    s->busy = false;
    s->finished = true;
    s->idle.notify_all();
}

} // namespace

} // namespace quvo
