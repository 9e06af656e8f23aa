#include "frameconverter.h"

#include "bmpwriter.h"
#include "enginelog.h"
#include "framememory.h"
#include "videoframe_p.h"

#include <cstring>

namespace framix {

namespace {

// The full-range twins of FFmpeg's "J" formats (JPEG, MJPEG): swscale wants the plain
// format plus an explicit range.
AVPixelFormat plainFormat(AVPixelFormat f, bool* fullRange)
{
    switch (f) {
    case AV_PIX_FMT_YUVJ420P:
        *fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        *fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        *fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        *fullRange = true;
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        *fullRange = true;
        return AV_PIX_FMT_YUV411P;
    default:
        return f;
    }
}

int swsMatrix(const AVFrame* f)
{
    switch (f->colorspace) {
    case AVCOL_SPC_BT709:
        return SWS_CS_ITU709;
    case AVCOL_SPC_FCC:
        return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M:
        return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
        return SWS_CS_ITU601;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return SWS_CS_BT2020;
    default:
        return f->height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

} // namespace

struct FrameConverter::Private
{
    SwsContext* ctx = nullptr;
    // What ctx was last set up for, so the colour tables are only rebuilt on change.
    int width = 0, height = 0, matrix = -1, srcFull = -1;
    AVPixelFormat src = AV_PIX_FMT_NONE, dst = AV_PIX_FMT_NONE;

    ~Private() { sws_freeContext(ctx); }

    bool convert(const AVFrame* f, AVPixelFormat dstFormat, uint8_t* dstData, int dstStride)
    {
        bool full = f->color_range == AVCOL_RANGE_JPEG;
        const AVPixelFormat srcFormat = plainFormat(static_cast<AVPixelFormat>(f->format), &full);
        // SWS_BILINEAR only matters for scaling; at equal sizes swscale takes its exact
        // unscaled path, the same one ffmpeg's own format conversion takes.
        SwsContext* next =
            sws_getCachedContext(ctx, f->width, f->height, srcFormat, f->width, f->height,
                                 dstFormat, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!next) {
            qCWarning(lcEngine) << "no conversion from"
                                << av_get_pix_fmt_name(static_cast<AVPixelFormat>(f->format));
            return false;
        }
        const int m = swsMatrix(f);
        if (next != ctx || m != matrix || int(full) != srcFull || srcFormat != src ||
            dstFormat != dst || f->width != width || f->height != height) {
            ctx = next;
            matrix = m;
            srcFull = full;
            src = srcFormat;
            dst = dstFormat;
            width = f->width;
            height = f->height;
            sws_setColorspaceDetails(ctx, sws_getCoefficients(m), full,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        }
        uint8_t* dstPlanes[4] = {dstData, nullptr, nullptr, nullptr};
        int dstStrides[4] = {dstStride, 0, 0, 0};
        const int rows = sws_scale(ctx, f->data, f->linesize, 0, f->height, dstPlanes, dstStrides);
        return rows == f->height;
    }
};

FrameConverter::FrameConverter() : d(std::make_unique<Private>()) {}
FrameConverter::~FrameConverter() = default;

QImage FrameConverter::toImage(const VideoFrame& frame)
{
    if (frame.isNull())
        return {};
    const AVFrame* f = frame.data()->frame;
    QImage image = makePooledImage(f->width, f->height, QImage::Format_RGB888);
    if (image.isNull() || !d->convert(f, AV_PIX_FMT_RGB24, image.bits(), int(image.bytesPerLine())))
        return {};
    return image;
}

QImage FrameConverter::toBgrImage(const VideoFrame& frame)
{
    if (frame.isNull())
        return {};
    const AVFrame* f = frame.data()->frame;
    QImage image = makePooledImage(f->width, f->height, QImage::Format_BGR888);
    if (image.isNull() || !d->convert(f, AV_PIX_FMT_BGR24, image.bits(), int(image.bytesPerLine())))
        return {};
    // Rows are padded to 4 bytes, like a bitmap file's; the padding is zero so the file
    // written from these rows is the same on every run.
    const int pad = int(image.bytesPerLine()) - f->width * 3;
    if (pad > 0)
        for (int y = 0; y < f->height; ++y)
            std::memset(image.scanLine(y) + f->width * 3, 0, size_t(pad));
    return image;
}

QImage FrameConverter::toDisplayImage(const VideoFrame& frame)
{
    if (frame.isNull())
        return {};
    const AVFrame* f = frame.data()->frame;
    QImage image = makePooledImage(f->width, f->height, QImage::Format_RGB32);
    // AV_PIX_FMT_RGB32 is 0xAARRGGBB in native byte order, the same words Format_RGB32
    // holds; swscale fills the unused byte with 0xff.
    if (image.isNull() || !d->convert(f, AV_PIX_FMT_RGB32, image.bits(), int(image.bytesPerLine())))
        return {};
    return image;
}

QByteArray FrameConverter::toBmp(const VideoFrame& frame)
{
    if (frame.isNull())
        return {};
    const AVFrame* f = frame.data()->frame;
    const int stride = BmpWriter::rowStride(f->width);
    QByteArray out(int(BmpWriter::fileSize(f->width, f->height)), Qt::Uninitialized);
    BmpWriter::writeHeader(out.data(), f->width, f->height);
    auto* rows = reinterpret_cast<uint8_t*>(out.data()) + BmpWriter::kHeaderSize;
    // A negative stride starting at the last row writes the rows bottom-up, as the format
    // stores them, in the same pass as the colour conversion.
    if (!d->convert(f, AV_PIX_FMT_BGR24, rows + qint64(f->height - 1) * stride, -stride))
        return {};
    const int pad = stride - f->width * 3;
    if (pad > 0)
        for (int y = 0; y < f->height; ++y)
            std::memset(rows + qint64(y) * stride + f->width * 3, 0, size_t(pad));
    return out;
}

} // namespace framix
