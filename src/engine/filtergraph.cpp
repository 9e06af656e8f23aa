#include "filtergraph_p.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
}

namespace framix {

int buildFilterGraph(const AVFrame* f, const char* chain, int threads, AVFilterGraph** graph,
                     AVFilterContext** source, AVFilterContext** sink)
{
    *source = *sink = nullptr;
    *graph = avfilter_graph_alloc();
    if (!*graph)
        return AVERROR(ENOMEM);
    if (threads > 0)
        (*graph)->nb_threads = threads;
    const AVRational sar =
        f->sample_aspect_ratio.num > 0 ? f->sample_aspect_ratio : AVRational{0, 1};
    const QByteArray args =
        QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=1/25:pixel_aspect=%4/%5")
            .arg(f->width)
            .arg(f->height)
            .arg(f->format)
            .arg(sar.num)
            .arg(qMax(1, sar.den))
            .toUtf8();
    int err = avfilter_graph_create_filter(source, avfilter_get_by_name("buffer"), "in",
                                           args.constData(), nullptr, *graph);
    if (err >= 0)
        err = avfilter_graph_create_filter(sink, avfilter_get_by_name("buffersink"), "out", nullptr,
                                           nullptr, *graph);
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (err >= 0 && outputs && inputs) {
        outputs->name = av_strdup("in");
        outputs->filter_ctx = *source;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = *sink;
        err = avfilter_graph_parse_ptr(*graph, chain, &inputs, &outputs, nullptr);
    } else if (err >= 0) {
        err = AVERROR(ENOMEM);
    }
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (err >= 0)
        err = avfilter_graph_config(*graph, nullptr);
    if (err < 0) {
        avfilter_graph_free(graph);
        *source = *sink = nullptr;
    }
    return err;
}

} // namespace framix
