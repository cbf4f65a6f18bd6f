#pragma once
// How long each unconfirmed call has waited, as this client saw it: from the
// first call list that held it unconfirmed, for as long as every following
// list holds it too. A call that drops out and comes back starts again, and
// so does every call when the program starts.
#include "common/DataModel.h"

#include <QString>
#include <map>
#include <tuple>
#include <vector>

namespace quvo {

struct WaitingCall {
    QString resourceName;
    int resourceId = 0;
    qint64 sinceMs = 0;
};

class CallAges {
public:
    void seen(const TCallList& calls, qint64 nowMs);
    const std::vector<WaitingCall>& waiting() const { return m_waiting; }
    void clear();

private:
    // Resource, caller and the time of the call tell one call from another.
    using Key = std::tuple<QString, int, QString, int, double>;
    std::map<Key, qint64> m_since;
    std::vector<WaitingCall> m_waiting;
};

} // namespace quvo
