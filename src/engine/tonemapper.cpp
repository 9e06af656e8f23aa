#include "tonemapper.h"

#include "enginelog.h"
#include "filtergraph_p.h"
#include "framememory.h"
#include "videoframe_p.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

#include <cstring>

namespace framix {

namespace {
constexpr const char* kChain = "zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,"
                               "tonemap=tonemap=hable:desat=0,zscale=t=bt709";
} // namespace

struct Tonemapper::Private
{
    FilterGraph graph;
    qint64 pts = 0;
    ff::FramePtr out = ff::makeFrame();

    bool build(const AVFrame* f, QString* why)
    {
        // The worker threads already run one frame each.
        const int err = graph.build(f, kChain, 1, AV_PIX_FMT_GBRP);
        if (err < 0) {
            const QString last = takeLastFfmpegError();
            if (why)
                *why = QStringLiteral("the tone mapping filters cannot be set up: %1")
                           .arg(last.isEmpty() ? ff::errorText(err) : last);
            return false;
        }
        return true;
    }
};

Tonemapper::Tonemapper() : d(std::make_unique<Private>()) {}
Tonemapper::~Tonemapper() = default;

const char* Tonemapper::chain()
{
    return kChain;
}

QImage Tonemapper::toBgrImage(const VideoFrame& frame, QString* why)
{
    if (frame.isNull())
        return {};
    const AVFrame* f = frame.data()->frame;
    installFfmpegLogHandler();
    if (!d->graph.takes(f) && !d->build(f, why))
        return {};
    ff::FramePtr in(av_frame_clone(f));
    if (!in)
        return {};
    in->pts = d->pts++;
    // PQ and HLG come with BT.2020 colours; a stream that names only its transfer means them
    // (zscale cannot convert from colours it is not told).
    if (in->color_primaries == AVCOL_PRI_UNSPECIFIED)
        in->color_primaries = AVCOL_PRI_BT2020;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(in->format));
    if (in->colorspace == AVCOL_SPC_UNSPECIFIED && desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB))
        in->colorspace = AVCOL_SPC_BT2020_NCL;
    int err = av_buffersrc_add_frame(d->graph.source(), in.get());
    if (err >= 0)
        err = av_buffersink_get_frame(d->graph.sink(), d->out.get());
    if (err < 0) {
        const QString last = takeLastFfmpegError();
        if (why)
            *why = QStringLiteral("tone mapping failed: %1")
                       .arg(last.isEmpty() ? ff::errorText(err) : last);
        // The graph may hold a half-done frame: start over with the next one.
        d->graph.release();
        return {};
    }
    const AVFrame* o = d->out.get();
    QImage image = makePooledImage(o->width, o->height, QImage::Format_BGR888);
    if (!image.isNull()) {
        // GBRP: plane 0 is green, 1 blue, 2 red.
        for (int y = 0; y < o->height; ++y) {
            const uint8_t* g = o->data[0] + qptrdiff(y) * o->linesize[0];
            const uint8_t* b = o->data[1] + qptrdiff(y) * o->linesize[1];
            const uint8_t* r = o->data[2] + qptrdiff(y) * o->linesize[2];
            uchar* dst = image.scanLine(y);
            for (int x = 0; x < o->width; ++x) {
                dst[3 * x] = b[x];
                dst[3 * x + 1] = g[x];
                dst[3 * x + 2] = r[x];
            }
        }
    }
    av_frame_unref(d->out.get());
    return image;
}

} // namespace framix
