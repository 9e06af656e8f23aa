#include "filtergraph_p.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

namespace framix {

int FilterGraph::build(const AVFrame* f, const char* chain, int threads, AVPixelFormat sinkFormat)
{
    release();
    m_graph = avfilter_graph_alloc();
    if (!m_graph)
        return AVERROR(ENOMEM);
    if (threads > 0)
        m_graph->nb_threads = threads;
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
    int err = avfilter_graph_create_filter(&m_source, avfilter_get_by_name("buffer"), "in",
                                           args.constData(), nullptr, m_graph);
    if (err >= 0)
        err = avfilter_graph_create_filter(&m_sink, avfilter_get_by_name("buffersink"), "out",
                                           nullptr, nullptr, m_graph);
    if (err >= 0 && sinkFormat != AV_PIX_FMT_NONE) {
        const AVPixelFormat formats[] = {sinkFormat, AV_PIX_FMT_NONE};
        err = av_opt_set_int_list(m_sink, "pix_fmts", formats, AV_PIX_FMT_NONE,
                                  AV_OPT_SEARCH_CHILDREN);
    }
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (err >= 0 && outputs && inputs) {
        outputs->name = av_strdup("in");
        outputs->filter_ctx = m_source;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = m_sink;
        err = avfilter_graph_parse_ptr(m_graph, chain, &inputs, &outputs, nullptr);
    } else if (err >= 0) {
        err = AVERROR(ENOMEM);
    }
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (err >= 0)
        err = avfilter_graph_config(m_graph, nullptr);
    if (err < 0) {
        release();
        return err;
    }
    m_width = f->width;
    m_height = f->height;
    m_format = f->format;
    m_sar = f->sample_aspect_ratio;
    return err;
}

void FilterGraph::release()
{
    avfilter_graph_free(&m_graph);
    m_source = m_sink = nullptr;
}

bool FilterGraph::takes(const AVFrame* f) const
{
    return m_graph && f->width == m_width && f->height == m_height && f->format == m_format &&
           av_cmp_q(f->sample_aspect_ratio, m_sar) == 0;
}

} // namespace framix
