#pragma once
// Turns call lists and the receiver's answers into the history's rows: a
// row per call when it is first seen, then the receiver's switching on for
// it, its confirmation and its end. Runs after the switch decision, on the
// event loop; the writing is the writer's.
#include "common/DataModel.h"

#include <QHash>
#include <QString>

namespace quvo {

class HistoryWriter;

class CallHistory {
public:
    explicit CallHistory(HistoryWriter& writer) : m_writer(writer) {}

    // receiverOn: the receiver is on already and should stay so; a new call
    // then has it on from the moment it is seen.
    void callList(const TCallList& calls, const QString& receiver, bool receiverOn);
    void commandDone(const QString& receiver, bool on, bool ok, const QString& faultText);
    void event(const QString& kind, const QString& detail = QString());
    void prune(qint64 beforeMs);

    // Server times are days since 1899-12-30 in local time; 0 is none.
    static qint64 fromDayCount(double days);
    int openCalls() const { return int(m_open.size()); }

private:
    struct Open {
        bool confirmed = false;
        bool waitingOn = false;    // unconfirmed, the receiver not yet on for it
        bool failed = false;       // a switch-on failed while it waited
        bool seen = false;         // in the list under evaluation
    };
    HistoryWriter& m_writer;
    QHash<QString, Open> m_open;
};

} // namespace quvo
