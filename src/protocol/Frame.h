#pragma once
// Frames "¤TAG:" ... ":TAG¤" on windows-1252 bytes (¤ is the byte 0xA4).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quvo::protocol {

inline constexpr char kFrameChar = '\xA4';
inline constexpr std::string_view kDataStart = "#DATASTART#";
inline constexpr std::string_view kDataEnd = "#DATAEND#";
inline constexpr std::string_view kErrorMarker = "ERROR:";

std::string openingMarker(std::string_view tag);   // "¤TAG:"
std::string closingMarker(std::string_view tag);   // ":TAG¤"

struct FrameSpan {
    std::size_t start = 0;      // offset of the opening ¤
    std::size_t copyLength = 0; // through the ':' that begins the closing marker
    std::size_t removeLength = 0; // through the closing ¤
};

// First frame of `tag` whose closing marker follows its opening marker;
// nothing when the opening marker is absent or not yet closed.
std::optional<FrameSpan> findFrame(std::string_view text, std::string_view tag);
bool hasFrame(std::string_view text, std::string_view tag); // opening marker present
std::string_view frameCopy(std::string_view text, const FrameSpan& span);
void removeFrame(std::string& text, const FrameSpan& span);

} // namespace quvo::protocol
