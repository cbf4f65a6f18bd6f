#include "protocol/StreamReader.h"

#include "protocol/Frame.h"

#include <algorithm>

namespace quvo::protocol {

namespace {

inline bool isTagChar(char c) { return c >= 'A' && c <= 'Z'; }

// Keeps a buffer that once held a large unit from keeping its memory.
void release(std::string& s)
{
    if (s.capacity() > 64 * 1024 && s.size() < s.capacity() / 4)
        s.shrink_to_fit();
}

} // namespace

StreamReader::StreamReader(std::size_t limit)
    : m_limit(limit)
{
}

StreamReader::Match StreamReader::openingAt(std::size_t pos, std::size_t& tagLength) const
{
    const std::size_t size = m_buf.size();
    std::size_t i = pos + 1;
    while (i < size && i - pos - 1 < kMaxTagLength && isTagChar(m_buf[i]))
        ++i;
    if (i == size)
        return Match::NeedMore;
    if (m_buf[i] == ':' && i > pos + 1) {
        tagLength = i - pos - 1;
        return Match::Yes;
    }
    return Match::No;
}

StreamReader::Match StreamReader::markerAt(std::size_t pos, std::string_view marker) const
{
    const std::size_t avail = std::min(marker.size(), m_buf.size() - pos);
    if (m_buf.compare(pos, avail, marker, 0, avail) != 0)
        return Match::No;
    return avail < marker.size() ? Match::NeedMore : Match::Yes;
}

std::size_t StreamReader::feed(std::string_view bytes, std::vector<Unit>& out)
{
    if (m_raw || bytes.empty())
        return 0;
    const std::size_t heldBefore = m_buf.size();
    m_buf.append(bytes);
    scan(out);
    if (m_raw) {
        // Everything behind the opening came with this read; it is the caller's.
        const std::size_t taken = m_scan > heldBefore ? m_scan - heldBefore : 0;
        m_buf.clear();
        release(m_buf);
        m_scan = m_start = 0;
        return std::min(taken, bytes.size());
    }
    // The end of a read ends stray text outside blocks; a marker it may cut stays.
    if (!m_inBlock && m_state == State::Text && m_scan > m_start) {
        put(TokenKind::Stray, m_start, m_scan, out);
        m_start = m_scan;
    }
    bound();
    compact();
    return bytes.size();
}

void StreamReader::scan(std::vector<Unit>& out)
{
    const std::size_t size = m_buf.size();
    std::size_t i = m_scan;
    while (i < size) {
        if (m_inBlock && m_discard) {
            // A block past the limit: only its end counts.
            const std::size_t p = m_buf.find(kDataEnd, i);
            if (p == std::string::npos) {
                i = std::max(i, size >= kDataEnd.size() ? size - (kDataEnd.size() - 1) : std::size_t(0));
                break;
            }
            leaveBlock(p, out);
            i = p + kDataEnd.size();
            continue;
        }
        const char c = m_buf[i];
        if (c == kFrameChar) {
            if (m_state == State::Frame) {
                const std::size_t L = m_closing.size();
                if (i + 1 >= L && m_buf.compare(i + 1 - L, L, m_closing) == 0) {
                    if (m_discard)
                        m_discard = false;
                    else
                        put(TokenKind::Frame, m_start, i + 1, out, m_tagLength);
                    m_state = State::Text;
                    m_start = ++i;
                    continue;
                }
                // A frame ends only at its own closing marker: a "¤" and
                // capitals in a name are text.
                ++i;
                continue;
            }
            std::size_t tagLength = 0;
            const Match m = openingAt(i, tagLength);
            if (m == Match::NeedMore)
                break;
            if (m == Match::Yes) {
                endText(i, out);
                beginFrame(i, tagLength);
                i += tagLength + 2;
                continue;
            }
        } else if (c == '#') {
            const Match m = markerAt(i, m_inBlock ? kDataEnd : kDataStart);
            if (m == Match::NeedMore)
                break;
            if (m == Match::Yes) {
                endText(i, out);
                if (m_inBlock) {
                    leaveBlock(i, out);
                    i += kDataEnd.size();
                    continue;
                }
                if (!enterBlock(i)) {
                    m_scan = m_raw ? m_scan : i;
                    return;
                }
                i = m_scan;
                continue;
            }
        } else if (c == 'E' && m_state == State::Text) {
            const Match m = markerAt(i, kErrorMarker);
            if (m == Match::NeedMore)
                break;
            if (m == Match::Yes) {
                endText(i, out);
                m_state = State::Error;
                m_start = i;
                i += kErrorMarker.size();
                continue;
            }
        }
        ++i;
    }
    m_scan = i;
}

void StreamReader::beginFrame(std::size_t pos, std::size_t tagLength)
{
    m_state = State::Frame;
    m_start = pos;
    m_tagLength = tagLength;
    m_closing.assign(1, ':');
    m_closing.append(m_buf, pos + 1, tagLength);
    m_closing += kFrameChar;
}

// Ends the token being read at `end`, where something else begins.
void StreamReader::endText(std::size_t end, std::vector<Unit>& out)
{
    switch (m_state) {
    case State::Text:
        if (end > m_start)
            put(TokenKind::Stray, m_start, end, out);
        break;
    case State::Frame:
        brokenFrame(end, out);
        break;
    case State::Error:
        if (!m_discard)
            put(TokenKind::ErrorText, m_start, end, out);
        break;
    }
    if (!m_inBlock)
        m_discard = false;
    m_state = State::Text;
    m_start = end;
}

// A frame that a block marker cut short is stray text; an error text inside
// it still counts.
void StreamReader::brokenFrame(std::size_t end, std::vector<Unit>& out)
{
    if (m_discard)
        return;
    if (!m_inBlock && end - m_start > m_limit) {
        m_overflow = true;
        return;
    }
    const std::size_t e = std::string_view(m_buf).substr(0, end).find(kErrorMarker, m_start);
    if (e == std::string_view::npos) {
        put(TokenKind::Stray, m_start, end, out);
        return;
    }
    if (e > m_start)
        put(TokenKind::Stray, m_start, e, out);
    put(TokenKind::ErrorText, e, end, out);
}

void StreamReader::put(TokenKind kind, std::size_t begin, std::size_t end, std::vector<Unit>& out,
                        std::size_t tagLength)
{
    if (m_inBlock) {
        const auto b = std::uint32_t(begin - m_blockStart);
        const auto e = std::uint32_t(end - m_blockStart);
        if (kind == TokenKind::Stray && !m_blockTokens.empty() && m_blockTokens.back().kind == TokenKind::Stray
            && m_blockTokens.back().end == b) {
            m_blockTokens.back().end = e;
            return;
        }
        m_blockTokens.push_back(Token{kind, std::uint8_t(tagLength), b, e});
        return;
    }
    const std::string_view text = std::string_view(m_buf).substr(begin, end - begin);
    if (kind == TokenKind::Stray) {
        if (!out.empty() && out.back().isStray()) {
            out.back().bytes.append(text);
            out.back().tokens.front().end = std::uint32_t(out.back().bytes.size());
            return;
        }
    } else if (text.size() > m_limit) {
        m_overflow = true;
        return;
    }
    Unit u;
    u.bytes.assign(text);
    u.tokens.push_back(Token{kind, std::uint8_t(tagLength), 0, std::uint32_t(text.size())});
    out.push_back(std::move(u));
}

bool StreamReader::enterBlock(std::size_t markerPos)
{
    const std::size_t content = markerPos + kDataStart.size();
    if (!m_rawOpening.empty()) {
        const std::size_t avail = std::min(m_rawOpening.size(), m_buf.size() - content);
        if (m_buf.compare(content, avail, m_rawOpening, 0, avail) == 0) {
            if (avail < m_rawOpening.size())
                return false; // not yet known which kind of block this is
            m_raw = true;
            m_scan = content + m_rawOpening.size();
            return false;
        }
    }
    m_inBlock = true;
    m_blockStart = content;
    m_blockTokens.clear();
    m_blockTokens.push_back(Token{TokenKind::BlockStart, 0, 0, 0});
    m_state = State::Text;
    m_start = content;
    m_scan = content;
    return true;
}

void StreamReader::leaveBlock(std::size_t markerPos, std::vector<Unit>& out)
{
    const std::size_t size = markerPos - m_blockStart;
    if (m_discard) {
        m_discard = false;
    } else if (size > m_limit) {
        m_overflow = true;
    } else {
        Unit u;
        u.bytes.assign(m_buf, m_blockStart, size);
        m_blockTokens.push_back(Token{TokenKind::BlockEnd, 0, std::uint32_t(size), std::uint32_t(size)});
        u.tokens = std::move(m_blockTokens);
        out.push_back(std::move(u));
    }
    std::vector<Token>().swap(m_blockTokens);
    m_inBlock = false;
    m_state = State::Text;
    m_start = markerPos + kDataEnd.size();
}

bool StreamReader::errorOpen() const
{
    return !m_inBlock && !m_raw && m_state == State::Error;
}

void StreamReader::waitElapsed(std::vector<Unit>& out)
{
    if (!errorOpen())
        return;
    // A frame or block opening cut by the read stays: it may still come.
    endText(m_scan, out);
    compact();
}

// Whatever the peer sends, what is held stays within the limit (plus what a
// marker cut by the read needs): a unit that outgrows it is dropped whole.
void StreamReader::bound()
{
    if (m_discard)
        return;
    std::size_t size = 0;
    if (m_inBlock)
        size = m_scan - m_blockStart;
    else if (m_state != State::Text)
        size = m_scan - m_start;
    if (size <= m_limit)
        return;
    m_discard = true;
    m_overflow = true;
    if (m_inBlock) {
        std::vector<Token>().swap(m_blockTokens);
        m_state = State::Text;
    }
}

void StreamReader::compact()
{
    std::size_t keep = m_start;
    if (m_inBlock) {
        keep = m_discard ? m_scan : m_blockStart;
    } else if (m_discard) {
        // An oversized frame still needs the bytes its closing marker may end in.
        keep = m_scan;
        if (m_state == State::Frame)
            keep = m_scan >= m_closing.size() - 1 ? m_scan - (m_closing.size() - 1) : 0;
    }
    keep = std::min(keep, m_buf.size());
    if (keep == 0)
        return;
    m_buf.erase(0, keep);
    release(m_buf);
    m_scan -= std::min(m_scan, keep);
    m_start -= std::min(m_start, keep);
    m_blockStart -= std::min(m_blockStart, keep);
}

void StreamReader::endRawBlock()
{
    clear();
}

bool StreamReader::takeOverflow()
{
    const bool was = m_overflow;
    m_overflow = false;
    return was;
}

void StreamReader::clear()
{
    m_buf.clear();
    release(m_buf);
    m_scan = m_start = m_blockStart = 0;
    m_state = State::Text;
    m_tagLength = 0;
    m_inBlock = false;
    std::vector<Token>().swap(m_blockTokens);
    m_discard = false;
    m_raw = false;
    m_overflow = false;
}

} // namespace quvo::protocol
