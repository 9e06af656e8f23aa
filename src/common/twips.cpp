#include "twips.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace framix::twips {

namespace {
constexpr double kTwipsPerInch = 1440.0;
constexpr double kFallbackTwipsPerPixel = 15.0;
} // namespace

double perPixel()
{
    // QGuiApplication::primaryScreen() is only meaningful once a GUI application exists;
    // before that (or in a Core-only process) qGuiApp is null.
    if (qGuiApp == nullptr)
        return kFallbackTwipsPerPixel;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return kFallbackTwipsPerPixel;
    const double dpi = screen->logicalDotsPerInch();
    if (!(dpi > 0.0) || !std::isfinite(dpi))
        return kFallbackTwipsPerPixel;
    return kTwipsPerInch / dpi;
}

int toPixels(double twips)
{
    return static_cast<int>(std::lround(twips / perPixel()));
}

double fromPixels(int pixels)
{
    return pixels * perPixel();
}

} // namespace framix::twips
