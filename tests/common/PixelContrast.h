#pragma once
// Contrast as a person sees it, measured on rendered pixels.
#include <QColor>
#include <QHash>
#include <QImage>
#include <QRect>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace quvo::test {

inline double luminance(const QColor& c)
{
    auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
}

inline double contrast(const QColor& a, const QColor& b)
{
    double la = luminance(a), lb = luminance(b);
    if (la < lb)
        std::swap(la, lb);
    return (la + 0.05) / (lb + 0.05);
}

// The colour most of the area has: what text in it is drawn on.
inline QColor backgroundOf(const QImage& image, const QRect& area)
{
    QHash<QRgb, int> counts;
    const QRect r = area & image.rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ++counts[image.pixel(x, y) | 0xFF000000u];
    QRgb best = 0;
    int bestCount = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > bestCount)
            best = it.key(), bestCount = it.value();
    return QColor::fromRgb(best);
}

// The text on the background: its most distinct pixel.
inline double strongestContrast(const QImage& image, const QRect& area)
{
    const QColor background = backgroundOf(image, area);
    const QRect r = area & image.rect();
    double best = 1;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            best = std::max(best, contrast(image.pixelColor(x, y), background));
    return best;
}

// Twice the size: thin strokes of small text then have pixels of their full
// colour, so what is measured is the colours, not the smoothing.
constexpr int kPixelScale = 2;

inline QImage renderedLarge(QWidget* w)
{
    QImage image(w->size() * kPixelScale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(kPixelScale);
    image.fill(Qt::transparent);
    w->render(&image);
    return image;
}

inline QRect scaledArea(const QRect& r)
{
    return QRect(r.topLeft() * kPixelScale, r.size() * kPixelScale);
}

} // namespace quvo::test
