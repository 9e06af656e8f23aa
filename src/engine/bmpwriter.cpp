#include "bmpwriter.h"

#include "atomicfile.h"

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

namespace {

// The file as a list of pieces: the headers, then each row (bottom row first) and its
// padding. The pieces point into `image` and into `header`.
std::vector<ByteSpan> filePieces(const QImage& image, char* header)
{
    static const char zeros[4] = {};
    const int w = image.width();
    const int h = image.height();
    const int pad = BmpWriter::rowStride(w) - w * 3;
    BmpWriter::writeHeader(header, w, h);
    std::vector<ByteSpan> pieces{{header, BmpWriter::kHeaderSize}};
    pieces.reserve(size_t(h) * 2 + 1);
    for (int y = h - 1; y >= 0; --y) {
        pieces.push_back({reinterpret_cast<const char*>(image.constScanLine(y)), qint64(w) * 3});
        if (pad > 0)
            pieces.push_back({zeros, pad});
    }
    return pieces;
}

QImage asBgr(const QImage& image)
{
    return image.format() == QImage::Format_BGR888 ? image
                                                   : image.convertToFormat(QImage::Format_BGR888);
}

} // namespace

bool BmpWriter::save(const QImage& image, const QString& path, EngineError* error)
{
    const QImage bgr = asBgr(image);
    if (bgr.isNull()) {
        if (error)
            *error = EngineError{EngineError::Code::DecodeFailed,
                                 path + QStringLiteral(": there is no picture to write")};
        return false;
    }
    char header[kHeaderSize];
    return writeFileAtomically(path, filePieces(bgr, header), error);
}

QByteArray BmpWriter::encode(const QImage& image)
{
    const QImage bgr = asBgr(image);
    if (bgr.isNull())
        return {};
    char header[kHeaderSize];
    QByteArray out;
    out.reserve(int(fileSize(bgr.width(), bgr.height())));
    for (const ByteSpan& piece : filePieces(bgr, header))
        out.append(piece.data, qsizetype(piece.size));
    return out;
}

} // namespace framix
