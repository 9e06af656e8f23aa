#include "bmpwriter.h"

#include <cstring>

namespace framix {

namespace {
void put16(char* p, quint16 v)
{
    p[0] = char(v & 0xff);
    p[1] = char(v >> 8);
}
void put32(char* p, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xff);
}
} // namespace

void BmpWriter::writeHeader(char* dst, int width, int height)
{
    const quint32 imageSize = quint32(rowStride(width)) * quint32(height);
    std::memset(dst, 0, kHeaderSize);
    dst[0] = 'B';
    dst[1] = 'M';
    put32(dst + 2, kHeaderSize + imageSize); // file size
    put32(dst + 10, kHeaderSize);            // offset of the pixel rows
    put32(dst + 14, 40);                     // BITMAPINFOHEADER
    put32(dst + 18, quint32(width));
    put32(dst + 22, quint32(height)); // positive: bottom-up rows
    put16(dst + 26, 1);               // planes
    put16(dst + 28, 24);              // bits per pixel
    put32(dst + 30, 0);               // BI_RGB, uncompressed
    put32(dst + 34, imageSize);
    put32(dst + 38, 2835); // 72 dots per inch, in dots per metre
    put32(dst + 42, 2835);
}

QByteArray BmpWriter::encode(const QImage& image)
{
    if (image.isNull())
        return {};
    // Bitmap rows are blue-green-red: a BGR888 picture is copied row by row, anything
    // else goes through RGB888 and has its bytes swapped on the way.
    const bool bgr = image.format() == QImage::Format_BGR888;
    const QImage src = bgr || image.format() == QImage::Format_RGB888
                           ? image
                           : image.convertToFormat(QImage::Format_RGB888);
    const int w = src.width();
    const int h = src.height();
    const int stride = rowStride(w);
    QByteArray out(int(fileSize(w, h)), Qt::Uninitialized);
    writeHeader(out.data(), w, h);
    for (int y = 0; y < h; ++y) {
        const uchar* from = src.constScanLine(y);
        char* to = out.data() + kHeaderSize + qint64(h - 1 - y) * stride;
        if (bgr) {
            std::memcpy(to, from, size_t(w) * 3);
        } else {
            for (int x = 0; x < w; ++x) {
                to[3 * x] = char(from[3 * x + 2]);
                to[3 * x + 1] = char(from[3 * x + 1]);
                to[3 * x + 2] = char(from[3 * x]);
            }
        }
        std::memset(to + w * 3, 0, size_t(stride - w * 3)); // row padding
    }
    return out;
}

} // namespace framix
