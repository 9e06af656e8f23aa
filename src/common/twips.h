#pragma once

// Window geometry is kept in twips (1/1440 inch) so that stored placements mean the same size
// on screens of different density. This is the only place where twips meet pixels.
namespace framix::twips {

// Twips per logical pixel of the primary screen: 1440 / logical DPI (15 at 96 DPI). When
// there is no screen (no GUI application yet, or none attached) the 96 DPI value is used.
double perPixel();

// Twips to pixels, rounded to the nearest pixel.
int toPixels(double twips);

double fromPixels(int pixels);

} // namespace framix::twips
