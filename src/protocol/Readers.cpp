#include "protocol/Readers.h"

#include "protocol/Field.h"

#include <cstdint>

namespace quvo::protocol {

namespace {

// Reads 1..maxDigits decimal digits at text[pos]; advances pos.
bool readNumber(std::string_view text, std::size_t& pos, int minDigits, int maxDigits, int& out)
{
    int digits = 0;
    int value = 0;
    while (pos < text.size() && digits < maxDigits && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + (text[pos] - '0');
        ++pos;
        ++digits;
    }
    if (digits < minDigits)
        return false;
    out = value;
    return true;
}

bool expect(std::string_view text, std::size_t& pos, char c)
{
    if (pos < text.size() && text[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// Days of the proleptic Gregorian calendar since 1970-01-01.
std::int64_t daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// A field of the iterator, or empty text when the record has run out.
std::string_view nextOrEmpty(FieldIterator& it)
{
    std::string_view f;
    if (!it.next(f))
        return {};
    return f;
}

} // namespace

double readDateTime(std::string_view text)
{
    text = trimControl(text);
    std::size_t pos = 0;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!readNumber(text, pos, 4, 4, y) || !expect(text, pos, '-') || !readNumber(text, pos, 1, 2, mo)
        || !expect(text, pos, '-') || !readNumber(text, pos, 1, 2, d))
        return 0;
    if (pos < text.size()) {
        // Date and time are separated by blanks; a date alone means midnight.
        if (text[pos] != ' ')
            return 0;
        while (pos < text.size() && text[pos] == ' ')
            ++pos;
        if (!readNumber(text, pos, 1, 2, h) || !expect(text, pos, ':') || !readNumber(text, pos, 1, 2, mi))
            return 0;
        if (pos < text.size() && (!expect(text, pos, ':') || !readNumber(text, pos, 1, 2, s)))
            return 0;
        if (pos != text.size())
            return 0;
    }
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59 || s > 59)
        return 0;
    const double days = static_cast<double>(daysFromCivil(y, mo, d) - daysFromCivil(1899, 12, 30));
    const double fraction = (h * 3600 + mi * 60 + s) / 86400.0;
    // Before the epoch the day counts down but the time of day still counts up.
    return days < 0 ? days - fraction : days + fraction;
}

std::string readServerVersion(std::string_view frameCopy)
{
    return ExtractField(frameCopy, 1, ':');
}

std::string readIniText(std::string_view frameCopy)
{
    return ExtractField(frameCopy, 1, ':');
}

std::string readKlinikNamn(std::string_view frameCopy)
{
    return ExtractField(frameCopy, 1, ':');
}

ClientDataFields readClientData(std::string_view frameCopy)
{
    FieldIterator it(frameCopy, ':');
    ClientDataFields out;
    it.skip(1);
    out.name = std::string(nextOrEmpty(it));
    out.place = std::string(nextOrEmpty(it));
    out.colour = toIntDef(nextOrEmpty(it), 0);
    return out;
}

std::vector<int> readStationCallables(std::string_view frameCopy)
{
    std::vector<int> ids;
    FieldIterator it(frameCopy, ':');
    it.skip(1);
    std::string_view id;
    // Ids at fields 1, 3, 5, ...; the positions between them are not read.
    while (it.next(id) && !id.empty()) {
        ids.push_back(toIntDef(id, 0));
        it.skip(1);
    }
    return ids;
}

std::vector<CallableRecord> readAllCallables(std::string_view frameCopy)
{
    std::vector<CallableRecord> records;
    FieldIterator it(frameCopy, ':');
    it.skip(1);
    std::string_view name;
    while (it.next(name) && !name.empty()) {
        CallableRecord r;
        r.name = std::string(name);
        r.id = toIntDef(nextOrEmpty(it), 0);
        it.skip(4); // fields 3 to 6 of the record are not used here
        r.activeFlag = std::string(nextOrEmpty(it));
        records.push_back(std::move(r));
    }
    return records;
}

CallList readCurrentList(std::string_view frameCopy)
{
    static constexpr std::string_view kEntryEnd = "%\xA4:";
    static constexpr std::string_view kCallersOpen = "\xA4%";
    static constexpr std::string_view kCallersClose = "%\xA4";
    static constexpr std::size_t kOpeningLength = 13; // "¤CURRENTLIST:"

    CallList list;
    std::string_view body = frameCopy.size() > kOpeningLength ? frameCopy.substr(kOpeningLength)
                                                              : std::string_view();
    std::size_t pos = 0;
    for (;;) {
        const std::size_t endMark = body.find(kEntryEnd, pos);
        if (endMark == std::string_view::npos)
            break;
        const std::string_view entry = body.substr(pos, endMark + kEntryEnd.size() - pos);
        pos = endMark + kEntryEnd.size();

        FieldIterator fields(entry, ':');
        const std::string_view name = nextOrEmpty(fields);
        if (name.empty())
            continue;
        CallEntry call;
        call.name = std::string(name);
        call.lopnr = toIntDef(nextOrEmpty(fields), 0);
        call.colour = toIntDef(nextOrEmpty(fields), 0);
        call.ix = toIntDef(nextOrEmpty(fields), 0);

        // An entry without the opening bracket has no caller list at all;
        // reading from its start would turn the entry's own fields into a caller.
        std::string_view callers;
        const std::size_t p = entry.find(kCallersOpen);
        const std::size_t q = entry.find(kCallersClose);
        if (p != std::string_view::npos && q > p + kCallersOpen.size())
            callers = entry.substr(p + kCallersOpen.size(), q - p - kCallersOpen.size());

        FieldIterator rec(callers, '~');
        std::string_view callerName;
        while (rec.next(callerName) && !callerName.empty()) {
            list.anyCaller = true;
            CallerRecord c;
            c.name = std::string(callerName);
            c.lopnr = toIntDef(nextOrEmpty(rec), 0);
            c.callTime = readDateTime(nextOrEmpty(rec));
            c.colour = toIntDef(nextOrEmpty(rec), 0);
            c.comingLopnr = toIntDef(nextOrEmpty(rec), 0);
            if (c.comingLopnr > 0)
                ++list.confirmed;
            c.comingTime = readDateTime(nextOrEmpty(rec));
            c.comingName = std::string(nextOrEmpty(rec));
            call.callers.push_back(std::move(c));
            ++list.callersRead;
        }
        list.entries.push_back(std::move(call));
    }
    return list;
}

int versionNumber(std::string_view versionText, int def)
{
    std::string digits;
    digits.reserve(versionText.size());
    for (char c : versionText) {
        if (c != '.')
            digits += c;
    }
    return toIntDef(digits, def);
}

bool isRefusedVersion(std::string_view frameCopy)
{
    return versionNumber(readServerVersion(frameCopy), 0) < kMinimumServerVersion;
}

} // namespace quvo::protocol
