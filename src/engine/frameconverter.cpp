#include "frameconverter.h"

#include "enginelog.h"
#include "framedetails.h"
#include "framememory.h"
#include "tonemapper.h"
#include "videoframe_p.h"

extern "C" {
}

#include <atomic>

namespace framix {

namespace {

// One swscale context for one kind of source picture and one output format, made anew
// when the kind of picture changes.
class Conversion
{
public:
    explicit Conversion(AVPixelFormat dst) : m_dst(dst) {}
    ~Conversion() { sws_freeContext(m_ctx); }
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;

    // Converts into a picture of the pooled layout (rows with room for whole blocks of
    // pixels, see makePooledImage).
    bool run(const AVFrame* f, uint8_t* dstData, int dstStride)
    {
        bool full = f->color_range == AVCOL_RANGE_JPEG;
        const AVPixelFormat srcFormat =
            ff::plainFormat(static_cast<AVPixelFormat>(f->format), &full);
        const int m = ff::swsMatrix(f);
        if (!m_ctx || srcFormat != m_src || full != m_full || m != m_matrix ||
            f->width != m_width || f->height != m_height) {
            sws_freeContext(m_ctx);
            // The picture keeps its size, but the filter still matters: formats whose
            // chroma is subsampled are upsampled with it whenever swscale has no direct
            // converter for the pair (odd heights, 10-bit, NV12, ...). Bicubic is what
            // ffmpeg's own format conversion uses, so our pixels are the ones ffmpeg gives
            // for the same frame.
            m_ctx = ff::makeScaler(f->width, f->height, srcFormat, full, f->width, f->height, m_dst,
                                   true, SWS_BICUBIC);
            if (!m_ctx) {
                qCWarning(lcEngine) << "no conversion from"
                                    << av_get_pix_fmt_name(static_cast<AVPixelFormat>(f->format));
                return false;
            }
            m_src = srcFormat;
            m_full = full;
            m_matrix = m;
            m_width = f->width;
            m_height = f->height;
            sws_setColorspaceDetails(m_ctx, sws_getCoefficients(m), full,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        }
        uint8_t* dstPlanes[4] = {dstData, nullptr, nullptr, nullptr};
        int dstStrides[4] = {dstStride, 0, 0, 0};
        const int rows =
            sws_scale(m_ctx, f->data, f->linesize, 0, f->height, dstPlanes, dstStrides);
        return rows == f->height;
    }

private:
    AVPixelFormat m_dst;
    SwsContext* m_ctx = nullptr;
    int m_width = 0, m_height = 0, m_matrix = -1;
    bool m_full = false;
    AVPixelFormat m_src = AV_PIX_FMT_NONE;
};

// Whether swscale's direct converter gives the screen the same pixels as the 24-bit
// picture: its YUV 4:2:0 to RGB converter, which it takes for even heights, does (the picture
// tests compare the two on every size and format).
bool screenSameAsSaved(const AVFrame* f)
{
    bool full = false;
    const AVPixelFormat src = ff::plainFormat(static_cast<AVPixelFormat>(f->format), &full);
    return src == AV_PIX_FMT_YUV420P && f->height % 2 == 0;
}

} // namespace

struct FrameConverter::Private
{
    Conversion toBgr{AV_PIX_FMT_BGR24};
    // AV_PIX_FMT_RGB32 is 0xAARRGGBB in native byte order, the same words Format_RGB32
    // holds; swscale fills the unused byte with 0xff.
    Conversion toScreen{AV_PIX_FMT_RGB32};
    // BGR24 to the screen's 32-bit layout: a lossless repacking of the bytes.
    SwsContext* repack = nullptr;
    int repackWidth = 0, repackHeight = 0;

    bool tonemap = false;
    // Made on the first high dynamic range frame: its filter graph is large, and most
    // video never needs it.
    std::unique_ptr<Tonemapper> tonemapper;

    ~Private() { sws_freeContext(repack); }

    bool tonemaps(const VideoFrame& frame) const { return tonemap && frameDetails(frame).hdr; }

    // The tone-mapped picture, or a null image when the filters fail; the plain
    // conversion is shown then, better than no picture at all.
    QImage tonemapped(const VideoFrame& frame)
    {
        if (!tonemapper)
            tonemapper = std::make_unique<Tonemapper>();
        QString why;
        QImage image = tonemapper->toBgrImage(frame, &why);
        // Once per program run: every converter on every thread fails alike, frame after
        // frame.
        static std::atomic_bool warned{false};
        if (image.isNull() && !warned.exchange(true))
            qCWarning(lcEngine).noquote()
                << "showing high dynamic range frames without tone mapping:"
                << (why.isEmpty() ? QStringLiteral("no picture") : why);
        return image;
    }

    bool repackToScreen(const QImage& bgr, QImage* out)
    {
        const int w = bgr.width(), h = bgr.height();
        if (!repack || w != repackWidth || h != repackHeight) {
            sws_freeContext(repack);
            repack = ff::makeScaler(w, h, AV_PIX_FMT_BGR24, true, w, h, AV_PIX_FMT_RGB32, true,
                                    SWS_POINT);
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

void FrameConverter::setTonemap(bool on)
{
    d->tonemap = on;
}

bool FrameConverter::tonemap() const
{
    return d->tonemap;
}

QImage FrameConverter::toBgrImage(const VideoFrame& frame)
{
    if (frame.isNull())
        return {};
    if (d->tonemaps(frame)) {
        QImage image = d->tonemapped(frame);
        if (!image.isNull())
            return image;
    }
    const AVFrame* f = frame.data()->frame;
    QImage image = makePooledImage(f->width, f->height, QImage::Format_BGR888);
    if (image.isNull() || !d->toBgr.run(f, image.bits(), int(image.bytesPerLine())))
        return {};
    return image;
}

QImage FrameConverter::toDisplayImage(const VideoFrame& frame)
{
    if (frame.isNull())
        return {};
    const AVFrame* f = frame.data()->frame;
    // A tone-mapped picture exists only as BGR: it is repacked below.
    if (screenSameAsSaved(f) && !d->tonemaps(frame)) {
        QImage image = makePooledImage(f->width, f->height, QImage::Format_RGB32);
        if (image.isNull() || !d->toScreen.run(f, image.bits(), int(image.bytesPerLine())))
            return {};
        return image;
    }
    // Otherwise made from the BGR picture: swscale's other converters to 32-bit pixels round
    // differently from its 24-bit ones, and the picture on the screen must be the one that
    // is saved.
    const QImage bgr = toBgrImage(frame);
    if (bgr.isNull())
        return {};
    QImage image = makePooledImage(bgr.width(), bgr.height(), QImage::Format_RGB32);
    if (image.isNull() || !d->repackToScreen(bgr, &image))
        return {};
    return image;
}

} // namespace framix
