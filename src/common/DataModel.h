#pragma once
// Types shared by the client: program type, this client's data, the call list.
#include <QString>
#include <cstdint>
#include <vector>

namespace quvo {

enum TQUVOClientType : std::uint8_t { ctCall = 0, ctShow = 1, ctAdmin = 2, ctHardware = 3 };

struct TRect { std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0; };

struct TQUVOClientData {
    std::int32_t Lopnr = 0;
    QString Name;
    QString FriendlyName;
    std::int32_t Color = 0;   // red in the lowest byte, then green, then blue
};

struct TCaller {
    QString CallerName;
    std::int32_t CallerLopnr = 0;
    double CallTimeStamp = 0;      // days since 1899-12-30
    std::int32_t CallerColour = 0;
    std::int32_t CallLogLopnr = 0;
    std::int32_t CallComingLopnr = 0; // above 0: somebody confirmed
    QString CallComingName;
    double CallComingTimeStamp = 0;
    TRect ViewRect;
};

struct TCallObject {
    QString CallName;
    std::int32_t CallLopnr = 0;
    std::int32_t CallColour = 0;
    std::int32_t CallIX = 0;
    std::vector<TCaller> CurrentCallList; // owned, in frame order
    bool CallableSendSMS = false;
    QString CallableMobilnummer;
    TRect ViewRect;
    bool Aktiv = false;
};

using TCallList = std::vector<TCallObject>;

// Windows colour values.
inline constexpr std::int32_t kColourRed = 0x0000FF;   // (255, 0, 0)
inline constexpr std::int32_t kColourGreen = 0x008000; // (0, 128, 0)

} // namespace quvo
