#pragma once
// Readers for every frame the client receives. Each takes the frame copy
// (from the opening ¤ through the ':' of the closing marker). Strings are
// windows-1252 bytes; the caller converts them at the edge.
#include <string>
#include <string_view>
#include <vector>

namespace quvo::protocol {

// Days since 1899-12-30 00:00 of "yyyy-MM-dd HH:mm:ss"; 0 when unreadable or
// not a real date. Also read: one-digit parts, no seconds, a date alone.
double readDateTime(std::string_view text);

std::string readServerVersion(std::string_view frameCopy); // field 1
std::string readIniText(std::string_view frameCopy);       // field 1
std::string readKlinikNamn(std::string_view frameCopy);    // field 1

struct ClientDataFields { std::string name; std::string place; int colour = 0; };
ClientDataFields readClientData(std::string_view frameCopy);

std::vector<int> readStationCallables(std::string_view frameCopy);

struct CallableRecord { std::string name; int id = 0; std::string activeFlag; };
std::vector<CallableRecord> readAllCallables(std::string_view frameCopy);

struct CallerRecord {
    std::string name;
    int lopnr = 0;
    double callTime = 0;
    int colour = 0;
    int comingLopnr = 0;
    double comingTime = 0;
    std::string comingName;
};
struct CallEntry {
    std::string name;
    int lopnr = 0;
    int colour = 0;
    int ix = 0;
    std::vector<CallerRecord> callers;
};
struct CallList {
    std::vector<CallEntry> entries;   // entries with an empty name are skipped
    bool anyCaller = false;
    int callersRead = 0;
    int confirmed = 0;                // callers whose comingLopnr is above 0
    bool hasUnconfirmed() const { return anyCaller && callersRead > confirmed; }
};
// A field a record is missing reads as empty text (0 for numbers); an entry
// without the "¤%" bracket has no callers.
CallList readCurrentList(std::string_view frameCopy);

// Version text with every '.' removed, as an integer; `def` when unreadable.
int versionNumber(std::string_view versionText, int def);

// Servers below this version number are refused.
inline constexpr int kMinimumServerVersion = 1104;
// A RETSERVERVERSION frame copy whose version is refused.
bool isRefusedVersion(std::string_view frameCopy);

} // namespace quvo::protocol
