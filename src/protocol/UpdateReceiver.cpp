#include "protocol/UpdateReceiver.h"

#include "protocol/Frame.h"

namespace quvo::protocol {

namespace {

// ":RETNEWCLIENT¤#DATAEND#" put together at run time, so that this program's
// own file never holds it whole and can be sent through this path itself.
const std::string& fileClosing()
{
    static const std::string m = closingMarker("RETNEWCLIENT") + std::string(kDataEnd);
    return m;
}

} // namespace

UpdateReceiver::UpdateReceiver(std::uint64_t fileLimit, std::size_t textLimit)
    : m_reader(textLimit), m_fileLimit(fileLimit)
{
    m_reader.setRawBlockOpening(openingMarker("RETNEWCLIENT"));
}

void UpdateReceiver::reset()
{
    m_reader.clear();
    m_mode = Mode::Reading;
    m_held.clear();
    m_searchFrom = 0;
    m_fileBytes = 0;
}

void UpdateReceiver::messages(std::vector<Unit>& units, std::vector<Event>& out)
{
    for (Unit& u : units) {
        if (!u.isStray())
            out.push_back(Event{EventKind::Message, std::move(u), {}});
    }
    units.clear();
}

std::vector<UpdateReceiver::Event> UpdateReceiver::feed(std::string_view chunk)
{
    std::vector<Event> out;
    if (m_mode == Mode::Discard || chunk.empty())
        return out;
    if (m_mode == Mode::File) {
        feedFile(chunk, out);
        return out;
    }
    std::vector<Unit> units;
    const std::size_t taken = m_reader.feed(chunk, units);
    messages(units, out);
    if (m_reader.inRawBlock()) {
        m_mode = Mode::File;
        m_held.clear();
        m_searchFrom = 0;
        m_fileBytes = 0;
        out.push_back(Event{EventKind::FileBegin, {}, {}});
        feedFile(chunk.substr(taken), out);
    }
    return out;
}

std::vector<UpdateReceiver::Event> UpdateReceiver::waitElapsed()
{
    std::vector<Event> out;
    if (m_mode != Mode::Reading)
        return out;
    std::vector<Unit> units;
    m_reader.waitElapsed(units);
    messages(units, out);
    return out;
}

bool UpdateReceiver::overLimit(std::uint64_t bytes, std::vector<Event>& out)
{
    if (bytes <= m_fileLimit)
        return false;
    out.push_back(Event{EventKind::Overflow, {}, {}});
    m_mode = Mode::Discard;
    m_held.clear();
    return true;
}

void UpdateReceiver::feedFile(std::string_view data, std::vector<Event>& out)
{
    const std::string& closing = fileClosing();
    m_held.append(data);

    // The file ends at the closing markers that end the data received so far
    // (the server may add up to two bytes behind them). The same bytes
    // further inside are part of the file.
    for (std::size_t at = m_held.find(closing, m_searchFrom); at != std::string::npos;
         at = m_held.find(closing, m_searchFrom)) {
        if (m_held.size() - (at + closing.size()) <= 2) {
            if (overLimit(m_fileBytes + at, out))
                return;
            m_fileBytes += at;
            out.push_back(Event{EventKind::FileData, {}, m_held.substr(0, at)});
            out.push_back(Event{EventKind::FileEnd, {}, {}});
            m_held.clear();
            m_held.shrink_to_fit();
            m_searchFrom = 0;
            m_mode = Mode::Reading;
            m_reader.endRawBlock();
            return;
        }
        m_searchFrom = at + 1;
    }

    // Everything but what could be the beginning of the closing markers.
    const std::size_t keep = closing.size() - 1;
    if (m_held.size() <= keep)
        return;
    const std::size_t release = m_held.size() - keep;
    if (overLimit(m_fileBytes + release, out))
        return;
    m_fileBytes += release;
    out.push_back(Event{EventKind::FileData, {}, m_held.substr(0, release)});
    m_held.erase(0, release);
    m_searchFrom = 0;
}

} // namespace quvo::protocol
