#pragma once

#include "engineerror.h"

#include <QByteArray>
#include <QImage>
#include <QString>

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
    // Writes any picture to `path` as a bitmap file, atomically (see writeFileAtomically).
    // A QImage::Format_BGR888 picture is written straight from its rows; anything else is
    // converted to it first.
    static bool save(const QImage& image, const QString& path, EngineError* error);
    // The bytes save() would write.
    static QByteArray encode(const QImage& image);
};

} // namespace framix
