#pragma once
// Small rules of the settings dialog that need no widget.
#include <QColor>
#include <QString>
#include <cstdint>

namespace quvo::systreg {

// The first server version that answers GETSTATIONCALLABLES. The test is a
// plain comparison of character codes, so "1.10.10" counts as older.
inline constexpr const char* kFirstStationCallablesVersion = "1.10.4";

inline bool isCurrentServer(const QString& versionText)
{
    return QString::compare(versionText, QLatin1String(kFirstStationCallablesVersion), Qt::CaseSensitive) >= 0;
}

// Only the exact flag "F" marks a resource as inactive.
inline QString callableEntryText(const QString& name, const QString& activeFlag)
{
    if (activeFlag == QLatin1String("F"))
        return name + QStringLiteral(" - ") + QStringLiteral("(inaktiv)");
    return name;
}

// Windows colour values keep red in the lowest byte.
inline QColor colorFromWindows(std::int32_t value)
{
    const auto v = static_cast<std::uint32_t>(value);
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

inline std::int32_t windowsFromColor(const QColor& c)
{
    return std::int32_t(c.red() | (c.green() << 8) | (c.blue() << 16));
}

} // namespace quvo::systreg
