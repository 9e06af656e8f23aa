#include "tempofilter.h"

#include "enginelog.h"
#include "ffmpeg_p.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <QStringList>

#include <cstring>

namespace framix {

struct TempoFilter::Private
{
    AVFilterGraph* graph = nullptr;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    int rate = 0;
    int channels = 0;
    double tempo = 1.0;
    qint64 pts = 0;
    ff::FramePtr out = ff::makeFrame();

    ~Private() { avfilter_graph_free(&graph); }

    QByteArray drain()
    {
        QByteArray result;
        while (av_buffersink_get_frame(sink, out.get()) >= 0) {
            const int bytes = out->nb_samples * channels * 2;
            result.append(reinterpret_cast<const char*>(out->data[0]), bytes);
            av_frame_unref(out.get());
        }
        return result;
    }
};

TempoFilter::TempoFilter() : d(std::make_unique<Private>()) {}
TempoFilter::~TempoFilter() = default;

bool TempoFilter::setup(int sampleRate, int channels, double tempo)
{
    d = std::make_unique<Private>();
    if (tempo <= 0 || sampleRate <= 0 || channels < 1 || channels > 2)
        return false;
    d->rate = sampleRate;
    d->channels = channels;
    d->tempo = tempo;
    d->graph = avfilter_graph_alloc();
    const char* layout = channels == 1 ? "mono" : "stereo";
    const QByteArray sourceArgs = QStringLiteral("sample_rate=%1:sample_fmt=s16:channel_layout=%2:"
                                                 "time_base=1/%1")
                                      .arg(sampleRate)
                                      .arg(QLatin1String(layout))
                                      .toUtf8();
    if (avfilter_graph_create_filter(&d->source, avfilter_get_by_name("abuffer"), "in",
                                     sourceArgs.constData(), nullptr, d->graph) < 0 ||
        avfilter_graph_create_filter(&d->sink, avfilter_get_by_name("abuffersink"), "out", nullptr,
                                     nullptr, d->graph) < 0) {
        qCWarning(lcEngine) << "cannot create the sound filter ends";
        d = std::make_unique<Private>();
        return false;
    }
    const AVSampleFormat formats[] = {AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_NONE};
    av_opt_set_int_list(d->sink, "sample_fmts", formats, AV_SAMPLE_FMT_NONE,
                        AV_OPT_SEARCH_CHILDREN);
    // One atempo stage covers 0.5 to 2 with the best quality; anything further is split
    // into stages of at most that much each.
    QStringList stages;
    double rest = tempo;
    while (rest > 2.0) {
        stages << QStringLiteral("atempo=2.0");
        rest /= 2.0;
    }
    while (rest < 0.5) {
        stages << QStringLiteral("atempo=0.5");
        rest /= 0.5;
    }
    stages << QStringLiteral("atempo=%1").arg(rest, 0, 'f', 6);
    const QByteArray chain = stages.join(QLatin1Char(',')).toUtf8();

    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    outputs->name = av_strdup("in");
    outputs->filter_ctx = d->source;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = d->sink;
    int err = avfilter_graph_parse_ptr(d->graph, chain.constData(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (err >= 0)
        err = avfilter_graph_config(d->graph, nullptr);
    if (err < 0) {
        qCWarning(lcEngine) << "cannot build the tempo filter" << chain << ff::errorText(err);
        d = std::make_unique<Private>();
        return false;
    }
    return true;
}

bool TempoFilter::isSetUp() const
{
    return d->graph != nullptr;
}

void TempoFilter::reset()
{
    d = std::make_unique<Private>();
}

double TempoFilter::tempo() const
{
    return d->tempo;
}

QByteArray TempoFilter::process(const QByteArray& samples)
{
    if (!d->graph || samples.isEmpty())
        return {};
    ff::FramePtr in = ff::makeFrame();
    in->format = AV_SAMPLE_FMT_S16;
    in->sample_rate = d->rate;
    av_channel_layout_default(&in->ch_layout, d->channels);
    in->nb_samples = int(samples.size() / (2 * d->channels));
    in->pts = d->pts;
    d->pts += in->nb_samples;
    if (in->nb_samples == 0 || av_frame_get_buffer(in.get(), 0) < 0)
        return {};
    std::memcpy(in->data[0], samples.constData(), size_t(in->nb_samples) * 2 * d->channels);
    if (av_buffersrc_add_frame(d->source, in.get()) < 0)
        return {};
    return d->drain();
}

QByteArray TempoFilter::flush()
{
    if (!d->graph)
        return {};
    if (av_buffersrc_add_frame(d->source, nullptr) < 0)
        return {};
    return d->drain();
}

} // namespace framix
