#include "observe/CallHistory.h"

#include "observe/HistoryWriter.h"
#include "observe/ObserveTexts.h"

#include <QDateTime>
#include <cmath>

namespace quvo {

namespace {
qint64 now() { return QDateTime::currentMSecsSinceEpoch(); }
constexpr qint64 kDayMs = 86'400'000;
} // namespace

qint64 CallHistory::fromDayCount(double days)
{
    if (days <= 0)
        return 0;
    const qint64 ms = std::llround(days * double(kDayMs));
    const QDateTime local(QDate(1899, 12, 30).addDays(ms / kDayMs), QTime::fromMSecsSinceStartOfDay(int(ms % kDayMs)));
    return local.toMSecsSinceEpoch();
}

void CallHistory::callList(const TCallList& calls, const QString& receiver, bool receiverOn)
{
    const qint64 at = now();
    for (Open& o : m_open)
        o.seen = false;
    for (const TCallObject& call : calls) {
        for (const TCaller& caller : call.CurrentCallList) {
            // The same call in every list, also after a restart of the program.
            const QString key = QStringLiteral("%1/%2/%3")
                                    .arg(call.CallLopnr)
                                    .arg(caller.CallerLopnr)
                                    .arg(std::llround(caller.CallTimeStamp * double(kDayMs)));
            const bool confirmed = caller.CallComingLopnr > 0;
            auto it = m_open.find(key);
            if (it == m_open.end()) {
                HistoryOp op{HistoryOp::CallSeen, key, at, fromDayCount(caller.CallTimeStamp), call.CallName,
                             caller.CallerName, QString()};
                m_writer.post(std::move(op));
                it = m_open.insert(key, Open());
                if (!confirmed) {
                    it->waitingOn = !receiverOn;
                    if (receiverOn)
                        m_writer.post({HistoryOp::ReceiverResult, key, at, 0, {}, receiver, observe_texts::kAlreadyOn});
                }
            }
            it->seen = true;
            if (confirmed && !it->confirmed) {
                it->confirmed = true;
                it->waitingOn = false;
                m_writer.post({HistoryOp::Confirmed, key, fromDayCount(caller.CallComingTimeStamp), 0, {}, {},
                               caller.CallComingName});
            }
        }
    }
    for (auto it = m_open.begin(); it != m_open.end();) {
        if (it->seen) {
            ++it;
            continue;
        }
        m_writer.post({HistoryOp::Ended, it.key(), at, 0, {}, {}, {}});
        it = m_open.erase(it);
    }
}

void CallHistory::commandDone(const QString& receiver, bool on, bool ok, const QString& faultText)
{
    if (!on)
        return;
    const qint64 at = now();
    for (auto it = m_open.begin(); it != m_open.end(); ++it) {
        Open& o = it.value();
        if (!o.waitingOn)
            continue;
        if (ok) {
            o.waitingOn = false;
            m_writer.post({HistoryOp::ReceiverResult, it.key(), at, 0, {}, receiver,
                           o.failed ? observe_texts::kOnAfterFault : observe_texts::kOnOk});
        } else if (!o.failed) {
            o.failed = true;
            m_writer.post({HistoryOp::ReceiverResult, it.key(), 0, 0, {}, receiver,
                           observe_texts::kOnFailed.arg(faultText)});
        }
    }
}

void CallHistory::event(const QString& kind, const QString& detail)
{
    m_writer.post({HistoryOp::Event, {}, now(), 0, {}, kind, detail});
}

void CallHistory::prune(qint64 beforeMs) { m_writer.post({HistoryOp::Prune, {}, beforeMs, 0, {}, {}, {}}); }

} // namespace quvo
