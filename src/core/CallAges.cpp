#include "core/CallAges.h"

namespace quvo {

void CallAges::seen(const TCallList& calls, qint64 nowMs)
{
    std::map<Key, qint64> since;
    m_waiting.clear();
    for (const TCallObject& call : calls) {
        for (const TCaller& caller : call.CurrentCallList) {
            if (caller.CallComingLopnr > 0)
                continue;
            Key key{call.CallName, call.CallLopnr, caller.CallerName, caller.CallerLopnr, caller.CallTimeStamp};
            const auto before = m_since.find(key);
            const qint64 first = before != m_since.end() ? before->second : nowMs;
            since.emplace(std::move(key), first);
            m_waiting.push_back({call.CallName, call.CallLopnr, first});
        }
    }
    m_since = std::move(since);
}

void CallAges::clear()
{
    m_since.clear();
    m_waiting.clear();
}

} // namespace quvo
