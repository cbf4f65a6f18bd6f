#include "protocol/Field.h"

#include <climits>
#include <cstring>

namespace quvo::protocol {

namespace {

inline bool isBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

// Position of the n-th separator (counted from 1), npos when there are fewer.
std::size_t nthSeparator(std::string_view text, int n, char sep)
{
    std::size_t pos = std::string_view::npos;
    for (int i = 0; i < n; ++i) {
        pos = text.find(sep, pos == std::string_view::npos ? 0 : pos + 1);
        if (pos == std::string_view::npos)
            return pos;
    }
    return pos;
}

} // namespace

std::string_view trimControl(std::string_view text)
{
    std::size_t b = 0;
    std::size_t e = text.size();
    while (b < e && isBlank(text[b]))
        ++b;
    while (e > b && isBlank(text[e - 1]))
        --e;
    return text.substr(b, e - b);
}

std::string_view extractFieldView(std::string_view text, int index, char sep)
{
    std::size_t start = 0;
    if (index > 0) {
        const std::size_t p = nthSeparator(text, index, sep);
        // Past the last separator the scan never reaches the index: field 0.
        if (p != std::string_view::npos)
            start = p + 1;
    }
    std::string_view rest = text.substr(start);
    const std::size_t end = rest.find(sep);
    if (end != std::string_view::npos)
        rest = rest.substr(0, end);
    return trimControl(rest);
}

std::string ExtractField(std::string_view text, int index, char sep)
{
    return std::string(extractFieldView(text, index, sep));
}

FieldIterator::FieldIterator(std::string_view text, char sep)
    : m_text(text), m_sep(sep)
{
}

bool FieldIterator::next(std::string_view& field)
{
    if (m_done)
        return false;
    const std::size_t rest = m_text.size() - m_pos;
    const void* hit = rest ? std::memchr(m_text.data() + m_pos, m_sep, rest) : nullptr;
    if (hit) {
        const std::size_t end = static_cast<const char*>(hit) - m_text.data();
        field = trimControl(m_text.substr(m_pos, end - m_pos));
        m_pos = end + 1;
    } else {
        // The field after the last separator; the one after it would be field 0 again.
        field = trimControl(m_text.substr(m_pos));
        m_pos = m_text.size();
        m_done = true;
    }
    ++m_index;
    return true;
}

bool FieldIterator::skip(int n)
{
    std::string_view ignored;
    for (int i = 0; i < n; ++i) {
        if (!next(ignored))
            return false;
    }
    return !m_done;
}

std::size_t FieldIterator::separatorCount() const
{
    if (m_sepCount == std::string_view::npos) {
        std::size_t count = 0;
        for (char c : m_text)
            count += (c == m_sep);
        m_sepCount = count;
    }
    return m_sepCount;
}

int toIntDef(std::string_view text, int def)
{
    // Blanks at either end are ignored, as they are around every field.
    text = trimControl(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return def;
    long long value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return def;
        value = value * 10 + (c - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            return def;
    }
    if (negative)
        value = -value;
    if (value < INT_MIN || value > INT_MAX)
        return def;
    return static_cast<int>(value);
}

} // namespace quvo::protocol
