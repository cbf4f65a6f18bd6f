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

} // namespace quvo::protocol
