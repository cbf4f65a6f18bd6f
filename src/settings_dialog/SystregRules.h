#pragma once
// Small rules of the settings dialog that need no widget.
#include "common/ProgramState.h"
#include <QColor>
#include <QString>
#include <cmath>
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

// Black or white, whichever stands out more on the background: a caption on
// a colour the user picked must stay readable on any of them.
inline QColor captionColourOn(const QColor& background)
{
    const auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    const double luminance = 0.2126 * linear(background.redF()) + 0.7152 * linear(background.greenF())
                             + 0.0722 * linear(background.blueF());
    // Where black and white have the same contrast ratio.
    return luminance > 0.179 ? QColor(Qt::black) : QColor(Qt::white);
}

} // namespace quvo::systreg
