#include "tonemapper.h"

#include "enginelog.h"
#include "framememory.h"
#include "videoframe_p.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
}

#include <cstring>

namespace framix {

namespace {
constexpr const char* kChain = "zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,"
                               "tonemap=tonemap=hable:desat=0,zscale=t=bt709";
} // namespace

struct Tonemapper::Private
{
    AVFilterGraph* graph = nullptr;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    int width = 0, height = 0, format = -1;
    qint64 pts = 0;
    ff::FramePtr out = ff::makeFrame();

    ~Private() { avfilter_graph_free(&graph); }

    bool build(const AVFrame* f, QString* why)
    {
        avfilter_graph_free(&graph);
        source = sink = nullptr;
        graph = avfilter_graph_alloc();
        if (!graph)
            return false;
        // The worker threads already run one frame each.
        graph->nb_threads = 1;
        const AVRational sar =
            f->sample_aspect_ratio.num > 0 ? f->sample_aspect_ratio : AVRational{1, 1};
        const QByteArray args = QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=1/25:"
                                               "pixel_aspect=%4/%5")
                                    .arg(f->width)
                                    .arg(f->height)
                                    .arg(f->format)
                                    .arg(sar.num)
                                    .arg(sar.den)
                                    .toUtf8();
        int err = avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "in",
                                               args.constData(), nullptr, graph);
        if (err >= 0)
            err = avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out",
                                               nullptr, nullptr, graph);
        if (err >= 0) {
            const AVPixelFormat formats[] = {AV_PIX_FMT_GBRP, AV_PIX_FMT_NONE};
            err = av_opt_set_int_list(sink, "pix_fmts", formats, AV_PIX_FMT_NONE,
                                      AV_OPT_SEARCH_CHILDREN);
        }
        AVFilterInOut* outputs = avfilter_inout_alloc();
        AVFilterInOut* inputs = avfilter_inout_alloc();
        if (err >= 0 && outputs && inputs) {
            outputs->name = av_strdup("in");
            outputs->filter_ctx = source;
            inputs->name = av_strdup("out");
            inputs->filter_ctx = sink;
            err = avfilter_graph_parse_ptr(graph, kChain, &inputs, &outputs, nullptr);
        } else if (err >= 0) {
            err = AVERROR(ENOMEM);
        }
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        if (err >= 0)
            err = avfilter_graph_config(graph, nullptr);
        if (err < 0) {
            const QString last = takeLastFfmpegError();
            if (why)
                *why = QStringLiteral("the tone mapping filters cannot be set up: %1")
                           .arg(last.isEmpty() ? ff::errorText(err) : last);
            avfilter_graph_free(&graph);
            return false;
        }
        width = f->width;
        height = f->height;
        format = f->format;
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
    if (!d->graph || f->width != d->width || f->height != d->height || f->format != d->format) {
        if (!d->build(f, why))
            return {};
    }
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
    int err = av_buffersrc_add_frame(d->source, in.get());
    if (err >= 0)
        err = av_buffersink_get_frame(d->sink, d->out.get());
    if (err < 0) {
        const QString last = takeLastFfmpegError();
        if (why)
            *why = QStringLiteral("tone mapping failed: %1")
                       .arg(last.isEmpty() ? ff::errorText(err) : last);
        // The graph may hold a half-done frame: start over with the next one.
        avfilter_graph_free(&d->graph);
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
