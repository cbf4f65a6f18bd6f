#pragma once
// Small rules of the settings dialog that need no widget.
#include "common/ProgramState.h"
#include <QColor>
#include <QString>
#include <cstdint>

namespace quvo::systreg {

using quvo::isCurrentServer;

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
