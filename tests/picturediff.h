#pragma once
// How far apart two pictures are, for tests of what is shown on screen (scaled, blended or
// drawn by a style) where an exact comparison does not apply.

#include <QImage>

#include <cstdlib>

// The mean difference of two pictures' channels, in levels (255 when their sizes differ).
inline double meanDifference(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    if (x.size() != y.size() || x.isNull())
        return 255;
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int i = 0; i < x.width() * 3; ++i)
            sum += std::abs(int(x.constScanLine(row)[i]) - int(y.constScanLine(row)[i]));
    return sum / (double(x.width()) * x.height() * 3);
}
