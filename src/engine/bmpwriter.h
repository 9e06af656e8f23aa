#pragma once

#include <QByteArray>
#include <QImage>

namespace framix {

// The 24-bit Windows bitmap format: a 14-byte file header, a 40-byte BITMAPINFOHEADER and
// uncompressed BGR rows, bottom row first, each padded to a multiple of 4 bytes.
class BmpWriter
{
public:
    static constexpr int kHeaderSize = 54;

    static int rowStride(int width) { return (width * 3 + 3) & ~3; }
    static qint64 fileSize(int width, int height)
    {
        return kHeaderSize + qint64(rowStride(width)) * height;
    }
    // Writes both headers for a width x height picture into dst[0..53].
    static void writeHeader(char* dst, int width, int height);
    // Encodes any QImage (converted to 24-bit first when needed).
    static QByteArray encode(const QImage& image);
};

} // namespace framix
