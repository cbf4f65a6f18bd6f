#include "protocol/ReceiveBuffer.h"

#include "protocol/Field.h"
#include "protocol/Frame.h"

#include <algorithm>
#include <cstring>

namespace quvo::protocol {

namespace {

// Longest tag taken for a frame opening; a longer run of capitals is stray text.
constexpr std::size_t kMaxTagLength = 64;

inline bool isTagChar(char c) { return c >= 'A' && c <= 'Z'; }

} // namespace

ReceiveBuffer::ReceiveBuffer(std::size_t limit)
    : m_limit(limit)
{
}

std::vector<std::string> ReceiveBuffer::feed(std::string_view bytes)
{
    std::vector<std::string> out;
    if (bytes.empty())
        return out;
    m_pending.append(bytes);
    scan(out);
    // What is handed out is gone; keep only the unit still being read.
    if (m_start > 0) {
        m_pending.erase(0, m_start);
        m_scanFrom -= m_start;
        m_start = 0;
    }
    boundHeld();
    return out;
}

bool ReceiveBuffer::takeOverflow()
{
    const bool was = m_overflow;
    m_overflow = false;
    return was;
}

std::size_t ReceiveBuffer::held() const
{
    return m_pending.size() - m_start;
}

void ReceiveBuffer::clear()
{
    m_pending.clear();
    m_inBlock = false;
    m_inFrame = false;
    m_discarding = false;
    m_overflow = false;
    m_scanFrom = 0;
    m_start = 0;
    m_closing.clear();
}

ReceiveBuffer::Opening ReceiveBuffer::classifyOpening(std::size_t pos, std::size_t& tagEnd) const
{
    std::size_t i = pos + 1;
    while (i < m_pending.size() && i - pos - 1 < kMaxTagLength && isTagChar(m_pending[i]))
        ++i;
    if (i == m_pending.size())
        return Opening::NeedMore;
    if (m_pending[i] == ':' && i > pos + 1) {
        tagEnd = i;
        return Opening::Yes;
    }
    return Opening::No;
}

void ReceiveBuffer::scan(std::vector<std::string>& out)
{
    for (;;) {
        const bool more = m_inBlock ? scanBlock(out) : m_inFrame ? scanFrame(out) : scanOutside(out);
        if (!more)
            return;
    }
}

void ReceiveBuffer::emitStray(std::vector<std::string>& out, std::size_t end)
{
    const std::string_view text(m_pending.data() + m_start, end - m_start);
    // Blanks between frames carry nothing; other stray text (error answers
    // among it) goes to the dispatcher, which knows what to make of it.
    if (!trimControl(text).empty())
        out.emplace_back(text);
    m_start = end;
}

void ReceiveBuffer::emitUnit(std::vector<std::string>& out, std::size_t end, bool skipBlank)
{
    const std::string_view text(m_pending.data() + m_start, end - m_start);
    if (m_discarding) {
        m_discarding = false;
    } else if (text.size() > m_limit) {
        m_overflow = true;
    } else if (!skipBlank || !trimControl(text).empty()) {
        out.emplace_back(text);
    }
    m_start = end;
}

void ReceiveBuffer::enterFrame(std::size_t tagBegin, std::size_t tagEnd)
{
    m_inFrame = true;
    m_closing.assign(1, ':');
    m_closing.append(m_pending, tagBegin, tagEnd - tagBegin);
    m_closing += kFrameChar;
    m_scanFrom = tagEnd + 1;
}

// Outside frames and blocks: looks for a frame opening or a block start.
bool ReceiveBuffer::scanOutside(std::vector<std::string>& out)
{
    const std::size_t size = m_pending.size();
    std::size_t i = m_scanFrom;
    for (; i < size; ++i) {
        const char c = m_pending[i];
        if (c == kFrameChar) {
            std::size_t tagEnd = 0;
            const Opening o = classifyOpening(i, tagEnd);
            if (o == Opening::No)
                continue;
            emitStray(out, i);
            if (o == Opening::NeedMore) {
                m_scanFrom = i;
                return false;
            }
            enterFrame(i + 1, tagEnd);
            return true;
        }
        if (c == '#') {
            const std::size_t avail = std::min(kDataStart.size(), size - i);
            if (m_pending.compare(i, avail, kDataStart, 0, avail) != 0)
                continue;
            emitStray(out, i);
            if (avail < kDataStart.size()) {
                m_scanFrom = i;
                return false;
            }
            // The envelope's own markers are not part of what is handed out.
            m_inBlock = true;
            m_start = i + kDataStart.size();
            m_scanFrom = m_start;
            return true;
        }
    }
    // The end of the read ends stray text, error answers included; only the
    // beginning of an "ERROR:" cut off by the read is kept, to be completed.
    std::size_t hold = 0;
    const std::size_t strayLength = size - m_start;
    for (std::size_t k = std::min(kErrorMarker.size() - 1, strayLength); k > 0; --k) {
        if (m_pending.compare(size - k, k, kErrorMarker, 0, k) == 0) {
            hold = k;
            break;
        }
    }
    emitStray(out, size - hold);
    m_scanFrom = size;
    return false;
}

// Inside a frame: looks for its closing marker. A new frame opening before it
// means this frame is broken; it is given up so the stream does not stall.
bool ReceiveBuffer::scanFrame(std::vector<std::string>& out)
{
    const std::size_t size = m_pending.size();
    const std::size_t L = m_closing.size();
    std::size_t i = m_scanFrom;
    while (i < size) {
        const void* hit = std::memchr(m_pending.data() + i, kFrameChar, size - i);
        if (!hit)
            break;
        const std::size_t p = static_cast<const char*>(hit) - m_pending.data();
        if (p + 1 >= m_start + L && m_pending.compare(p + 1 - L, L, m_closing) == 0) {
            m_inFrame = false;
            emitUnit(out, p + 1, false);
            m_scanFrom = p + 1;
            return true;
        }
        std::size_t tagEnd = 0;
        const Opening o = classifyOpening(p, tagEnd);
        if (o == Opening::NeedMore) {
            m_scanFrom = p;
            return false;
        }
        if (o == Opening::Yes) {
            if (m_discarding) {
                m_discarding = false;
                m_start = p;
            } else if (p - m_start > m_limit) {
                m_overflow = true;
                m_start = p;
            } else {
                emitStray(out, p);
            }
            enterFrame(p + 1, tagEnd);
            return true;
        }
        i = p + 1;
    }
    m_scanFrom = size;
    return false;
}

// Inside a block: everything up to "#DATAEND#" is one text.
bool ReceiveBuffer::scanBlock(std::vector<std::string>& out)
{
    const std::size_t size = m_pending.size();
    const std::size_t p = m_pending.find(kDataEnd, m_scanFrom);
    if (p == std::string::npos) {
        // A marker cut by the read is found again from here.
        const std::size_t keep = kDataEnd.size() - 1;
        m_scanFrom = std::max(m_start, size > keep ? size - keep : 0);
        return false;
    }
    m_inBlock = false;
    emitUnit(out, p, true);
    m_start = p + kDataEnd.size();
    m_scanFrom = m_start;
    return true;
}

// Keeps what the peer can make us hold within the limit: a frame or block
// that outgrows it is dropped whole, and reading goes on after its end.
void ReceiveBuffer::boundHeld()
{
    if (!m_inFrame && !m_inBlock)
        return;
    const std::size_t size = m_pending.size();
    if (!m_discarding) {
        // A block may end in the first bytes of its end marker; they do not count.
        const std::size_t body = (m_inBlock ? m_scanFrom : size) - m_start;
        if (body <= m_limit)
            return;
        m_discarding = true;
        m_overflow = true;
    }
    // Keep only what a marker cut by the read needs to be recognised.
    std::size_t keepFrom = m_scanFrom;
    if (m_inFrame)
        keepFrom = m_scanFrom >= m_closing.size() - 1 ? m_scanFrom - (m_closing.size() - 1) : 0;
    keepFrom = std::min(std::max(keepFrom, m_start), size);
    m_pending.erase(0, keepFrom);
    m_scanFrom -= keepFrom;
    m_start = 0;
}

} // namespace quvo::protocol
