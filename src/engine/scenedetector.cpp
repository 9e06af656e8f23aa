#include "scenedetector.h"

#include "enginelog.h"
#include "videoframe_p.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/dict.h>
}

#include <QByteArray>
#include <QString>

namespace framix {

struct SceneDetector::Private
{
    double threshold = kDefaultThreshold;
    AVFilterGraph* graph = nullptr;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    int width = 0, height = 0, format = -1;
    qint64 pts = 0;
    double score = 0;
    QString failure;
    ff::FramePtr out = ff::makeFrame();

    ~Private() { avfilter_graph_free(&graph); }

    bool build(const AVFrame* f)
    {
        avfilter_graph_free(&graph);
        source = sink = nullptr;
        graph = avfilter_graph_alloc();
        if (!graph)
            return false;
        const QByteArray args =
            QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=1/25:pixel_aspect=1/1")
                .arg(f->width)
                .arg(f->height)
                .arg(f->format)
                .toUtf8();
        // The scene score of ffmpeg's select filter, which decides: a frame comes out of
        // select='gt(scene,T)' when it starts a new scene, and nothing comes out otherwise.
        const QByteArray expression =
            QStringLiteral("expr=gt(scene,%1)").arg(threshold, 0, 'g', 10).toUtf8();
        AVFilterContext* select = nullptr;
        int err = avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "in",
                                               args.constData(), nullptr, graph);
        if (err >= 0)
            err = avfilter_graph_create_filter(&select, avfilter_get_by_name("select"), "select",
                                               expression.constData(), nullptr, graph);
        if (err >= 0)
            err = avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out",
                                               nullptr, nullptr, graph);
        if (err >= 0)
            err = avfilter_link(source, 0, select, 0);
        if (err >= 0)
            err = avfilter_link(select, 0, sink, 0);
        if (err >= 0)
            err = avfilter_graph_config(graph, nullptr);
        if (err < 0) {
            const QString last = takeLastFfmpegError();
            failure = QStringLiteral("scene detection cannot be set up: %1")
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

SceneDetector::SceneDetector(double threshold) : d(std::make_unique<Private>())
{
    d->threshold = threshold;
    installFfmpegLogHandler();
}

SceneDetector::~SceneDetector() = default;

bool SceneDetector::startsScene(const VideoFrame& frame)
{
    d->score = 0;
    if (frame.isNull())
        return false;
    if (!d->failure.isEmpty())
        return true;
    const AVFrame* f = frame.data()->frame;
    bool fresh = false;
    if (!d->graph || f->width != d->width || f->height != d->height || f->format != d->format) {
        // The first frame, or a picture of another kind: a new scene either way, and the
        // detector starts over from it.
        if (!d->build(f))
            return true;
        fresh = true;
    }
    ff::FramePtr in(av_frame_clone(f));
    if (!in) {
        d->failure = QStringLiteral("out of memory");
        return true;
    }
    in->pts = d->pts++;
    av_dict_free(&in->metadata);
    int err = av_buffersrc_add_frame(d->source, in.get());
    bool scene = fresh;
    if (err >= 0) {
        err = av_buffersink_get_frame(d->sink, d->out.get());
        if (err >= 0) {
            scene = true;
            if (const AVDictionaryEntry* e =
                    av_dict_get(d->out->metadata, "lavfi.scene_score", nullptr, 0))
                d->score = QByteArray(e->value).replace(',', '.').toDouble();
            av_frame_unref(d->out.get());
        } else if (err == AVERROR(EAGAIN)) {
            err = 0; // not selected: the same scene
        }
    }
    if (err < 0) {
        const QString last = takeLastFfmpegError();
        d->failure = QStringLiteral("scene detection failed: %1")
                         .arg(last.isEmpty() ? ff::errorText(err) : last);
        return true;
    }
    return scene;
}

double SceneDetector::lastScore() const
{
    return d->score;
}

QString SceneDetector::failure() const
{
    return d->failure;
}

} // namespace framix
