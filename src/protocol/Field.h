#pragma once
// Field syntax of the wire: fields split at one separator character, trimmed
// of bytes up to 32 at both ends. Works on windows-1252 bytes.
#include <cstddef>
#include <string>
#include <string_view>

namespace quvo::protocol {

// Field `index` (0 is the first) of `text` split at `sep`, trimmed.
// Quirk kept on purpose: an index past the last separator gives field 0 again.
std::string ExtractField(std::string_view text, int index, char sep);

// Same, without copying: a view into `text`.
std::string_view extractFieldView(std::string_view text, int index, char sep);

// Bytes up to 32 removed at both ends.
std::string_view trimControl(std::string_view text);

// Walks a text once and yields the fields ExtractField gives for the indexes
// 0, 1, 2, ... up to the number of separators; after that it is done (where
// ExtractField would start again at field 0).
class FieldIterator {
public:
    FieldIterator(std::string_view text, char sep);
    // Next field, trimmed; false once the index has passed the separator count.
    bool next(std::string_view& field);
    // Skips n fields; false when that passes the separator count.
    bool skip(int n);
    int index() const { return m_index; }        // index of the field next() gives
    std::size_t separatorCount() const;            // counted on first use
private:
    std::string_view m_text;
    char m_sep;
    std::size_t m_pos = 0;
    int m_index = 0;
    bool m_done = false;
    mutable std::size_t m_sepCount = std::string_view::npos;
};

// Lenient integer: optional sign and decimal digits. Bytes up to 32 at either
// end are ignored, as around every field, so trimmed or not gives the same.
// Anything else (blanks inside, hex, a fraction, overflow of 32 bits, empty
// text) gives `def`.
int toIntDef(std::string_view text, int def = 0);

} // namespace quvo::protocol
