#include "imagewriter.h"

#include "atomicfile.h"
#include "bmpwriter.h"
#include "enginelog.h"
#include "frameconverter.h"
#include "framedetails.h"
#include "framememory.h"
#include "pixelpacking.h"
#include "tonemapper.h"
#include "videoframe_p.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <cmath>

namespace framix {

QString imageFileExtension(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Bmp:
        return QStringLiteral(".bmp");
    case ImageFormat::Png:
        return QStringLiteral(".png");
    case ImageFormat::Jpeg:
        return QStringLiteral(".jpg");
    case ImageFormat::Tiff:
        return QStringLiteral(".tiff");
    case ImageFormat::WebP:
        return QStringLiteral(".webp");
    }
    return {};
}

std::optional<ImageFormat> imageFormatFromName(const QString& name)
{
    const QString n = name.toLower();
    if (n == QLatin1String("bmp"))
        return ImageFormat::Bmp;
    if (n == QLatin1String("png"))
        return ImageFormat::Png;
    if (n == QLatin1String("jpg") || n == QLatin1String("jpeg"))
        return ImageFormat::Jpeg;
    if (n == QLatin1String("tiff") || n == QLatin1String("tif"))
        return ImageFormat::Tiff;
    if (n == QLatin1String("webp"))
        return ImageFormat::WebP;
    return std::nullopt;
}

int displayWidth(int width, int sarNum, int sarDen)
{
    if (sarNum <= 0 || sarDen <= 0)
        return width;
    return qMax(1, int(std::lround(double(width) * sarNum / sarDen)));
}

namespace {

const char* formatName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Bmp:
        return "BMP";
    case ImageFormat::Png:
        return "PNG";
    case ImageFormat::Jpeg:
        return "JPEG";
    case ImageFormat::Tiff:
        return "TIFF";
    case ImageFormat::WebP:
        return "WebP";
    }
    return "";
}

// The example tables of the JPEG standard (ITU T.81 annex K), in row order, which the IJG
// library scales for its quality setting.
constexpr uint16_t kLumaTable[64] = {16,  11,  10,  16,  24, 40, 51,  61,  12,  12,  14,  19,  26,
                                     58,  60,  55,  14,  13, 16, 24,  40,  57,  69,  56,  14,  17,
                                     22,  29,  51,  87,  80, 62, 18,  22,  37,  56,  68,  109, 103,
                                     77,  24,  35,  55,  64, 81, 104, 113, 92,  49,  64,  78,  87,
                                     103, 121, 120, 101, 72, 92, 95,  98,  112, 100, 103, 99};
constexpr uint16_t kChromaTable[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// A table scaled for `quality` as the IJG library scales it, in a buffer the codec
// context owns (avcodec_free_context frees it).
uint16_t* scaledTable(const uint16_t* table, int quality)
{
    auto* out = static_cast<uint16_t*>(av_malloc(64 * sizeof(uint16_t)));
    if (!out)
        return nullptr;
    const int q = qBound(1, quality, 100);
    const int scale = q < 50 ? 5000 / q : 200 - 2 * q;
    for (int i = 0; i < 64; ++i)
        out[i] = uint16_t(qBound(1, (table[i] * scale + 50) / 100, 255));
    return out;
}

// A swscale context kept while its parameters stay the same.
class Scaler
{
public:
    ~Scaler() { sws_freeContext(m_ctx); }

    // `matrix` and `srcFull` describe a YUV source (ignored for RGB), `dstFull` a YUV
    // destination; RGB is always full range.
    SwsContext* get(int srcW, int srcH, AVPixelFormat src, int dstW, int dstH, AVPixelFormat dst,
                    int flags, int matrix = SWS_CS_DEFAULT, bool srcFull = true,
                    bool dstFull = true)
    {
        const Key key{srcW, srcH, src, dstW, dstH, dst, flags, matrix, srcFull, dstFull};
        if (m_ctx && key == m_key)
            return m_ctx;
        sws_freeContext(m_ctx);
        m_ctx = ff::makeScaler(srcW, srcH, src, srcFull, dstW, dstH, dst, dstFull, flags);
        if (!m_ctx)
            return nullptr;
        sws_setColorspaceDetails(m_ctx, sws_getCoefficients(matrix), srcFull,
                                 sws_getCoefficients(SWS_CS_DEFAULT), dstFull, 0, 1 << 16, 1 << 16);
        m_key = key;
        return m_ctx;
    }

private:
    struct Key
    {
        int srcW, srcH;
        AVPixelFormat src;
        int dstW, dstH;
        AVPixelFormat dst;
        int flags, matrix;
        bool srcFull, dstFull;
        bool operator==(const Key&) const = default;
    };
    SwsContext* m_ctx = nullptr;
    Key m_key{};
};

// A picture in memory: its planes, their row lengths, format and size.
struct Planes
{
    const uint8_t* data[4] = {};
    int linesize[4] = {};
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int width = 0;
    int height = 0;
};

Planes planesOf(const QImage& bgr)
{
    Planes p;
    p.data[0] = bgr.constBits();
    p.linesize[0] = int(bgr.bytesPerLine());
    p.format = AV_PIX_FMT_BGR24;
    p.width = bgr.width();
    p.height = bgr.height();
    return p;
}

Planes planesOf(const AVFrame* f)
{
    Planes p;
    for (int i = 0; i < 4; ++i) {
        p.data[i] = f->data[i];
        p.linesize[i] = f->linesize[i];
    }
    p.format = AVPixelFormat(f->format);
    p.width = f->width;
    p.height = f->height;
    return p;
}

} // namespace

struct ImageWriter::Private
{
    ImageOptions options;
    Stats stats;
    FrameConverter converter;
    std::unique_ptr<Tonemapper> tonemapper;
    Scaler deepScaler;  // decoded frame to 16-bit RGB
    Scaler shapeScaler; // stored shape to display shape

    ff::CodecPtr codec;
    AVPixelFormat codecFormat = AV_PIX_FMT_NONE;
    ff::FramePtr codecFrame; // the encoder's input when it needs a conversion
    ff::FramePtr deepFrame;
    ff::FramePtr shapedDeep;
    ff::PacketPtr packet = ff::makePacket();
    qint64 pts = 0;

    ~Private() { dropEncoder(); }

    void dropEncoder()
    {
        // avcodec_free_context frees the luma table but not the chroma one.
        if (codec)
            av_freep(&codec->chroma_intra_matrix);
        codec.reset();
    }

    bool failWith(EngineError* error, const QString& path, const QString& why)
    {
        return fail(error, EngineError::Code::DecodeFailed, path + QStringLiteral(": ") + why);
    }

    // The pixel format the encoder takes for 8-bit pictures.
    AVPixelFormat encoderFormat(bool deep) const
    {
        switch (options.format) {
        case ImageFormat::Png:
            return deep ? AV_PIX_FMT_RGB48BE : AV_PIX_FMT_RGB24;
        case ImageFormat::Jpeg:
            // 4:4:4 at full range: no chroma subsampling, no range squeeze.
            return AV_PIX_FMT_YUVJ444P;
        case ImageFormat::Tiff:
            return AV_PIX_FMT_RGB24;
        case ImageFormat::WebP:
            return AV_PIX_FMT_BGRA;
        case ImageFormat::Bmp:
            break;
        }
        return AV_PIX_FMT_NONE;
    }

    bool openEncoder(int width, int height, AVPixelFormat format, QString* why)
    {
        AVCodecContext* c = codec.get();
        if (c && c->width == width && c->height == height && c->pix_fmt == format)
            return true;
        dropEncoder();
        const char* name = options.format == ImageFormat::Png    ? "png"
                           : options.format == ImageFormat::Jpeg ? "mjpeg"
                           : options.format == ImageFormat::Tiff ? "tiff"
                                                                 : "libwebp";
        const AVCodec* encoder = avcodec_find_encoder_by_name(name);
        if (!encoder) {
            *why = QStringLiteral("this FFmpeg has no %1 encoder").arg(QLatin1String(name));
            return false;
        }
        codec.reset(avcodec_alloc_context3(encoder));
        c = codec.get();
        if (!c) {
            *why = QStringLiteral("out of memory");
            return false;
        }
        c->width = width;
        c->height = height;
        c->pix_fmt = format;
        c->time_base = AVRational{1, 25};
        // Several writers run at once, one picture each.
        c->thread_count = 1;
        if (options.format == ImageFormat::Jpeg) {
            const int quality =
                options.quality > 0 ? options.quality : ImageOptions::kDefaultJpegQuality;
            // FFmpeg's encoder quantises with its tables times qscale / 8: at qscale 8 the
            // tables are used as they are, here the IJG ones for the quality asked.
            c->intra_matrix = scaledTable(kLumaTable, quality);
            c->chroma_intra_matrix = scaledTable(kChromaTable, quality);
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = 8 * FF_QP2LAMBDA;
            c->color_range = AVCOL_RANGE_JPEG;
            if (!c->intra_matrix || !c->chroma_intra_matrix) {
                *why = QStringLiteral("out of memory");
                dropEncoder();
                return false;
            }
        } else if (options.format == ImageFormat::Png) {
            // Each row predicted from the one above it, then light deflate: on video frames
            // this writes smaller files than the encoder's defaults (no prediction, level 6)
            // in about two thirds of the time. Still lossless.
            av_opt_set(c->priv_data, "pred", "up", 0);
            c->compression_level = 3;
        } else if (options.format == ImageFormat::WebP) {
            if (options.quality > 0)
                av_opt_set_double(c->priv_data, "quality", options.quality, 0);
            else
                av_opt_set_int(c->priv_data, "lossless", 1, 0);
        }
        const int err = avcodec_open2(c, encoder, nullptr);
        if (err < 0) {
            const QString last = takeLastFfmpegError();
            *why = QStringLiteral("the %1 encoder cannot be opened: %2")
                       .arg(QLatin1String(name), last.isEmpty() ? ff::errorText(err) : last);
            dropEncoder();
            return false;
        }
        return true;
    }

    // Encodes `src` (converting it to the encoder's pixel format when it is not in it) and
    // writes the file.
    bool encodeAndWrite(const Planes& src, const QString& path, EngineError* error)
    {
        QString why;
        const bool deep = src.format == AV_PIX_FMT_RGB48BE;
        const AVPixelFormat format = encoderFormat(deep);
        if (!openEncoder(src.width, src.height, format, &why))
            return failWith(error, path, why);
        ff::FramePtr input(av_frame_alloc());
        if (!input)
            return failWith(error, path, QStringLiteral("out of memory"));
        if (src.format == format) {
            // Used in place: the encoder copies what it keeps.
            for (int i = 0; i < 4; ++i) {
                input->data[i] = const_cast<uint8_t*>(src.data[i]);
                input->linesize[i] = src.linesize[i];
            }
        } else {
            if (!codecFrame || codecFrame->width != src.width || codecFrame->height != src.height ||
                codecFrame->format != format) {
                codecFrame.reset(av_frame_alloc());
                if (!codecFrame)
                    return failWith(error, path, QStringLiteral("out of memory"));
                codecFrame->width = src.width;
                codecFrame->height = src.height;
                codecFrame->format = format;
                if (av_frame_get_buffer(codecFrame.get(), 0) < 0) {
                    codecFrame.reset();
                    return failWith(error, path, QStringLiteral("out of memory"));
                }
            }
            if (av_frame_make_writable(codecFrame.get()) < 0)
                return failWith(error, path, QStringLiteral("out of memory"));
            if (src.format != AV_PIX_FMT_BGR24)
                return failWith(error, path,
                                QStringLiteral("no conversion to the encoder's format"));
            if (format == AV_PIX_FMT_YUVJ444P)
                bgrToJfifYcc(src.data[0], src.linesize[0], codecFrame->data, codecFrame->linesize,
                             src.width, src.height);
            else if (format == AV_PIX_FMT_RGB24)
                bgrToRgb(src.data[0], src.linesize[0], codecFrame->data[0], codecFrame->linesize[0],
                         src.width, src.height);
            else if (format == AV_PIX_FMT_BGRA)
                bgrToBgra(src.data[0], src.linesize[0], codecFrame->data[0],
                          codecFrame->linesize[0], src.width, src.height);
            else
                return failWith(error, path,
                                QStringLiteral("no conversion to the encoder's format"));
            av_frame_ref(input.get(), codecFrame.get());
        }
        input->width = src.width;
        input->height = src.height;
        input->format = format;
        input->pts = pts++;
        if (options.format == ImageFormat::Jpeg) {
            input->quality = codec->global_quality;
            input->color_range = AVCOL_RANGE_JPEG;
        }
        int err = avcodec_send_frame(codec.get(), input.get());
        if (err >= 0)
            err = avcodec_receive_packet(codec.get(), packet.get());
        if (err < 0) {
            const QString last = takeLastFfmpegError();
            // The encoder's state is unknown after a failure: a new one for the next picture.
            dropEncoder();
            return failWith(error, path,
                            QStringLiteral("the picture cannot be encoded as %1: %2")
                                .arg(QLatin1String(formatName(options.format)),
                                     last.isEmpty() ? ff::errorText(err) : last));
        }
        const bool ok = writeFileAtomically(path, reinterpret_cast<const char*>(packet->data),
                                            packet->size, error);
        av_packet_unref(packet.get());
        return ok;
    }

    // The BGR picture at the display shape (the same picture when that is its shape).
    QImage shaped(const QImage& bgr)
    {
        if (!options.displayShape)
            return bgr;
        const int w = displayWidth(bgr.width(), options.sarNum, options.sarDen);
        if (w == bgr.width())
            return bgr;
        QImage out = makePooledImage(w, bgr.height(), QImage::Format_BGR888);
        SwsContext* sws = shapeScaler.get(bgr.width(), bgr.height(), AV_PIX_FMT_BGR24, w,
                                          bgr.height(), AV_PIX_FMT_BGR24, SWS_BICUBIC);
        if (out.isNull() || !sws)
            return {};
        const Planes src = planesOf(bgr);
        uint8_t* dst[4] = {out.bits(), nullptr, nullptr, nullptr};
        const int dstStride[4] = {int(out.bytesPerLine()), 0, 0, 0};
        if (sws_scale(sws, src.data, src.linesize, 0, src.height, dst, dstStride) != src.height)
            return {};
        return out;
    }

    // The decoded frame as 16-bit RGB, at the display shape when asked.
    const AVFrame* deepPicture(const VideoFrame& frame)
    {
        const AVFrame* f = frame.data()->frame;
        bool full = f->color_range == AVCOL_RANGE_JPEG;
        const AVPixelFormat src = ff::plainFormat(AVPixelFormat(f->format), &full);
        SwsContext* sws = deepScaler.get(f->width, f->height, src, f->width, f->height,
                                         AV_PIX_FMT_RGB48BE, SWS_BICUBIC, ff::swsMatrix(f), full);
        if (!sws || !sizedFrame(&deepFrame, f->width, f->height, AV_PIX_FMT_RGB48BE))
            return nullptr;
        if (sws_scale(sws, f->data, f->linesize, 0, f->height, deepFrame->data,
                      deepFrame->linesize) != f->height)
            return nullptr;
        if (!options.displayShape)
            return deepFrame.get();
        const int w = displayWidth(f->width, options.sarNum, options.sarDen);
        if (w == f->width)
            return deepFrame.get();
        SwsContext* shape = shapeScaler.get(f->width, f->height, AV_PIX_FMT_RGB48BE, w, f->height,
                                            AV_PIX_FMT_RGB48BE, SWS_BICUBIC);
        if (!shape || !sizedFrame(&shapedDeep, w, f->height, AV_PIX_FMT_RGB48BE))
            return nullptr;
        if (sws_scale(shape, deepFrame->data, deepFrame->linesize, 0, f->height, shapedDeep->data,
                      shapedDeep->linesize) != f->height)
            return nullptr;
        return shapedDeep.get();
    }

    // A writable frame of that size and format in *frame, reusing the one there.
    static bool sizedFrame(ff::FramePtr* frame, int width, int height, AVPixelFormat format)
    {
        AVFrame* f = frame->get();
        if (!f || f->width != width || f->height != height || f->format != format) {
            frame->reset(av_frame_alloc());
            f = frame->get();
            if (!f)
                return false;
            f->width = width;
            f->height = height;
            f->format = format;
            if (av_frame_get_buffer(f, 0) < 0) {
                frame->reset();
                return false;
            }
        }
        return av_frame_make_writable(f) >= 0;
    }

    bool writeBgr(const QImage& bgr, const QString& path, EngineError* error)
    {
        const QImage picture = shaped(bgr);
        if (picture.isNull())
            return failWith(error, path, QStringLiteral("the picture cannot be scaled"));
        if (options.format == ImageFormat::Bmp)
            return BmpWriter::save(picture, path, error);
        return encodeAndWrite(planesOf(picture), path, error);
    }
};

ImageWriter::ImageWriter(const ImageOptions& options) : d(std::make_unique<Private>())
{
    d->options = options;
    installFfmpegLogHandler();
}

ImageWriter::~ImageWriter() = default;

const ImageWriter::Stats& ImageWriter::stats() const
{
    return d->stats;
}

bool ImageWriter::save(const VideoFrame& frame, const QString& path, EngineError* error)
{
    if (frame.isNull())
        return d->failWith(error, path, QStringLiteral("there is no picture to write"));
    const ImageOptions& o = d->options;
    if (o.format != ImageFormat::Bmp || o.tonemap || o.displayShape || o.depth != 8) {
        const FrameDetails details = frameDetails(frame);
        if (o.tonemap && details.hdr) {
            if (!d->tonemapper)
                d->tonemapper = std::make_unique<Tonemapper>();
            QString why;
            const QImage sdr = d->tonemapper->toBgrImage(frame, &why);
            if (sdr.isNull())
                return d->failWith(error, path, why);
            ++d->stats.tonemapped;
            return d->writeBgr(sdr, path, error);
        }
        if (o.format == ImageFormat::Png && o.depth == 16 && details.bitsPerComponent > 8) {
            const AVFrame* deep = d->deepPicture(frame);
            if (!deep)
                return d->failWith(error, path,
                                   QStringLiteral("the picture cannot be converted to RGB"));
            ++d->stats.deep;
            return d->encodeAndWrite(planesOf(deep), path, error);
        }
    }
    const QImage bgr = d->converter.toBgrImage(frame);
    if (bgr.isNull())
        return d->failWith(error, path, QStringLiteral("the picture cannot be converted to RGB"));
    return d->writeBgr(bgr, path, error);
}

bool ImageWriter::save(const QImage& image, const QString& path, EngineError* error)
{
    if (image.isNull())
        return d->failWith(error, path, QStringLiteral("there is no picture to write"));
    if (d->options.format == ImageFormat::Bmp && !d->options.displayShape)
        return BmpWriter::save(image, path, error);
    const QImage bgr = image.format() == QImage::Format_BGR888
                           ? image
                           : image.convertToFormat(QImage::Format_BGR888);
    return d->writeBgr(bgr, path, error);
}

} // namespace framix
