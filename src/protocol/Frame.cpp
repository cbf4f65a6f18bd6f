#include "protocol/Frame.h"

namespace quvo::protocol {

std::string openingMarker(std::string_view tag)
{
    std::string m;
    m.reserve(tag.size() + 2);
    m += kFrameChar;
    m += tag;
    m += ':';
    return m;
}

std::string closingMarker(std::string_view tag)
{
    std::string m;
    m.reserve(tag.size() + 2);
    m += ':';
    m += tag;
    m += kFrameChar;
    return m;
}

std::optional<FrameSpan> findFrame(std::string_view text, std::string_view tag)
{
    const std::string open = openingMarker(tag);
    const std::size_t q = text.find(open);
    if (q == std::string_view::npos)
        return std::nullopt;
    // The closing marker may share its ':' with the opening marker (a frame
    // without fields), but it must begin after the opening "¤". A stray
    // closing marker in front of the frame is not taken for this frame's end.
    const std::string close = closingMarker(tag);
    const std::size_t r = text.find(close, q + 1);
    if (r == std::string_view::npos)
        return std::nullopt;
    FrameSpan span;
    span.start = q;
    span.copyLength = r - q + 1;
    span.removeLength = r - q + close.size();
    return span;
}

bool hasFrame(std::string_view text, std::string_view tag)
{
    return text.find(openingMarker(tag)) != std::string_view::npos;
}

std::string_view frameCopy(std::string_view text, const FrameSpan& span)
{
    if (span.start >= text.size())
        return {};
    return text.substr(span.start, span.copyLength);
}

void removeFrame(std::string& text, const FrameSpan& span)
{
    if (span.start >= text.size())
        return;
    text.erase(span.start, span.removeLength);
}

std::size_t openingLengthAt(std::string_view t, std::size_t pos)
{
    if (pos >= t.size() || t[pos] != kFrameChar)
        return 0;
    std::size_t i = pos + 1;
    while (i < t.size() && t[i] >= 'A' && t[i] <= 'Z')
        ++i;
    if (i == pos + 1 || i >= t.size() || t[i] != ':')
        return 0;
    return i + 1 - pos;
}

ErrorSpan findErrorText(std::string_view t)
{
    ErrorSpan span;
    std::size_t pos = 0;
    while (pos < t.size()) {
        if (const std::size_t open = openingLengthAt(t, pos)) {
            const std::string_view tag = t.substr(pos + 1, open - 2);
            const std::size_t close = t.find(closingMarker(tag), pos + open - 1);
            if (close != std::string_view::npos) {
                pos = close + tag.size() + 2;
                continue;
            }
        }
        if (t.compare(pos, kErrorMarker.size(), kErrorMarker) == 0) {
            span.start = pos;
            break;
        }
        ++pos;
    }
    if (span.start == std::string_view::npos)
        return span;
    span.end = t.size();
    for (std::size_t p = t.find(kFrameChar, span.start); p != std::string_view::npos; p = t.find(kFrameChar, p + 1)) {
        if (openingLengthAt(t, p)) {
            span.end = p;
            break;
        }
    }
    return span;
}

} // namespace quvo::protocol
