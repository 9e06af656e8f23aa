#include "frameconverter.h"

#include "enginelog.h"
#include "framememory.h"
#include "videoframe_p.h"

extern "C" {
#include <libavutil/opt.h>
}

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

// A swscale context made for one kind of source picture. The range is given before the
// context is initialised, as ffmpeg's own scale filter does: swscale picks its code paths
// at initialisation, and a range changed afterwards is not honoured the same way.
SwsContext* makeContext(int width, int height, AVPixelFormat src, bool fullRange, AVPixelFormat dst,
                        int flags)
{
    SwsContext* ctx = sws_alloc_context();
    if (!ctx)
        return nullptr;
    av_opt_set_int(ctx, "srcw", width, 0);
    av_opt_set_int(ctx, "srch", height, 0);
    av_opt_set_int(ctx, "src_format", src, 0);
    av_opt_set_int(ctx, "dstw", width, 0);
    av_opt_set_int(ctx, "dsth", height, 0);
    av_opt_set_int(ctx, "dst_format", dst, 0);
    av_opt_set_int(ctx, "sws_flags", flags, 0);
    av_opt_set_int(ctx, "src_range", fullRange ? 1 : 0, 0);
    av_opt_set_int(ctx, "dst_range", 1, 0);
    if (sws_init_context(ctx, nullptr, nullptr) < 0) {
        sws_freeContext(ctx);
        return nullptr;
    }
    return ctx;
}

} // namespace

struct FrameConverter::Private
{
    // The context for the last kind of source picture, made anew when the kind changes.
    SwsContext* ctx = nullptr;
    int width = 0, height = 0, matrix = -1;
    bool srcFull = false;
    AVPixelFormat src = AV_PIX_FMT_NONE;
    // BGR24 to the screen's 32-bit layout: a lossless repacking of the bytes.
    SwsContext* repack = nullptr;
    int repackWidth = 0, repackHeight = 0;

    ~Private()
    {
        sws_freeContext(ctx);
        sws_freeContext(repack);
    }

    // Converts to BGR24 into a picture of the pooled layout (rows with room for whole blocks
    // of pixels, see makePooledImage).
    bool convert(const AVFrame* f, uint8_t* dstData, int dstStride)
    {
        bool full = f->color_range == AVCOL_RANGE_JPEG;
        const AVPixelFormat srcFormat = plainFormat(static_cast<AVPixelFormat>(f->format), &full);
        const int m = swsMatrix(f);
        if (!ctx || srcFormat != src || full != srcFull || m != matrix || f->width != width ||
            f->height != height) {
            sws_freeContext(ctx);
            // The picture keeps its size, but the filter still matters: formats whose
            // chroma is subsampled are upsampled with it whenever swscale has no direct
            // converter for the pair (odd heights, 10-bit, NV12, ...). Bicubic is what
            // ffmpeg's own format conversion uses, so our pixels are the ones ffmpeg gives
            // for the same frame.
            ctx = makeContext(f->width, f->height, srcFormat, full, AV_PIX_FMT_BGR24, SWS_BICUBIC);
            if (!ctx) {
                qCWarning(lcEngine) << "no conversion from"
                                    << av_get_pix_fmt_name(static_cast<AVPixelFormat>(f->format));
                return false;
            }
            src = srcFormat;
            srcFull = full;
            matrix = m;
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

    bool toScreen(const QImage& bgr, QImage* out)
    {
        const int w = bgr.width(), h = bgr.height();
        if (!repack || w != repackWidth || h != repackHeight) {
            sws_freeContext(repack);
            repack = makeContext(w, h, AV_PIX_FMT_BGR24, true, AV_PIX_FMT_RGB32, SWS_POINT);
            repackWidth = w;
            repackHeight = h;
            if (!repack)
                return false;
        }
        const uint8_t* srcPlanes[4] = {bgr.constBits(), nullptr, nullptr, nullptr};
        const int srcStrides[4] = {int(bgr.bytesPerLine()), 0, 0, 0};
        uint8_t* dstPlanes[4] = {out->bits(), nullptr, nullptr, nullptr};
        const int dstStrides[4] = {int(out->bytesPerLine()), 0, 0, 0};
        return sws_scale(repack, srcPlanes, srcStrides, 0, h, dstPlanes, dstStrides) == h;
    }
};

FrameConverter::FrameConverter() : d(std::make_unique<Private>()) {}
FrameConverter::~FrameConverter() = default;

QImage FrameConverter::toBgrImage(const VideoFrame& frame)
{
    if (frame.isNull())
        return {};
    const AVFrame* f = frame.data()->frame;
    QImage image = makePooledImage(f->width, f->height, QImage::Format_BGR888);
    if (image.isNull() || !d->convert(f, image.bits(), int(image.bytesPerLine())))
        return {};
    return image;
}

QImage FrameConverter::toDisplayImage(const VideoFrame& frame)
{
    // Made from the BGR picture rather than converted on its own: swscale's converters to
    // 32-bit pixels round differently from its 24-bit ones for some formats and sizes, and
    // the picture on the screen must be the one that is saved.
    const QImage bgr = toBgrImage(frame);
    if (bgr.isNull())
        return {};
    QImage image = makePooledImage(bgr.width(), bgr.height(), QImage::Format_RGB32);
    // AV_PIX_FMT_RGB32 is 0xAARRGGBB in native byte order, the same words Format_RGB32
    // holds; swscale fills the unused byte with 0xff.
    if (image.isNull() || !d->toScreen(bgr, &image))
        return {};
    return image;
}

} // namespace framix
