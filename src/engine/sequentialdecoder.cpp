#include "sequentialdecoder.h"

#include "decodesession_p.h"
#include "deinterlacer_p.h"
#include "enginelog.h"
#include "frameindex.h"
#include "videoframe_p.h"

#include <deque>

namespace framix {

struct SequentialDecoder::Private
{
    DecodeSession session;
    MediaInfo info;
    ff::PacketPtr pkt = ff::makePacket();
    ff::FramePtr frm = ff::makeFrame();
    bool drained = false;
    int count = 0;
    // With deinterlacing, decoded pictures go through the filter, which hands each one out
    // after the next is decoded; their times wait here meanwhile.
    Deinterlacer deinterlacer;
    ff::FramePtr out = ff::makeFrame();
    std::deque<std::pair<int, qint64>> times; // frame number, time

    int decoded = 0;
};

SequentialDecoder::SequentialDecoder() : d(std::make_unique<Private>()) {}
SequentialDecoder::~SequentialDecoder() = default;

bool SequentialDecoder::open(const QString& path, EngineError* error,
                             const std::atomic_bool* cancel, const SourceOptions& source)
{
    d = std::make_unique<Private>();
    if (!d->session.open(path, error, cancel, source))
        return false;
    d->info = d->session.probeInfo();
    if (!d->session.hasVideo())
        return fail(error, EngineError::Code::NoStreams, QStringLiteral("the file has no video"));
    takeLastFfmpegError();
    return true;
}

const MediaInfo& SequentialDecoder::info() const
{
    return d->info;
}

QString SequentialDecoder::earlyEnd() const
{
    return d->session.earlyEnd();
}

EngineError SequentialDecoder::failureReason() const
{
    return noPictureError();
}

std::optional<VideoFrame> SequentialDecoder::next()
{
    AVCodecContext* dec = d->session.decoder();
    if (!dec)
        return std::nullopt;
    const bool deinterlace = d->session.options().deinterlace;
    for (;;) {
        int number = -1;
        if (deinterlace && d->deinterlacer.take(d->out.get(), &number)) {
            // The filter numbers what it was fed: the decoded pictures, from 0.
            while (!d->times.empty() && d->times.front().first < number)
                d->times.pop_front();
            const qint64 ms = d->times.empty() ? 0 : d->times.front().second;
            d->session.preparePicture(d->out.get());
            d->count = number + 1;
            return makeVideoFrame(d->out.get(), number, ms);
        }
        if (avcodec_receive_frame(dec, d->frm.get()) >= 0) {
            const qint64 pts = d->frm->best_effort_timestamp;
            const AVRational tb = d->session.videoStream()->time_base;
            const qint64 ms =
                pts == AV_NOPTS_VALUE ? 0 : av_rescale_q(pts, tb, AVRational{1, 1000});
            if (deinterlace) {
                const int n = d->decoded++;
                // Read from the start, the filter's run is never primed: it is ffmpeg's.
                if (d->deinterlacer.push(d->frm.get(), n, false)) {
                    av_frame_unref(d->frm.get());
                    d->times.emplace_back(n, ms);
                    continue;
                }
                // The filter could not take it (said in the log): handed out as decoded, and
                // the filter starts again with the next picture.
                d->session.preparePicture(d->frm.get());
                d->count = n + 1;
                return makeVideoFrame(d->frm.get(), n, ms);
            }
            d->session.preparePicture(d->frm.get());
            return makeVideoFrame(d->frm.get(), d->count++, ms);
        }
        if (d->drained) {
            if (deinterlace && !d->deinterlacer.finished() && d->deinterlacer.last() >= 0) {
                d->deinterlacer.finish();
                continue;
            }
            return std::nullopt;
        }
        if (!d->session.readVideoPacket(d->pkt.get())) {
            avcodec_send_packet(dec, nullptr);
            d->drained = true;
            continue;
        }
        // Zero-size packets (dropped-frame markers in AVI) would read as end of stream.
        if (d->pkt->size > 0) {
            const int err = avcodec_send_packet(dec, d->pkt.get());
            if (err < 0 && err != AVERROR(EAGAIN))
                qCInfo(lcEngine) << "packet rejected:" << ff::errorText(err);
        }
        av_packet_unref(d->pkt.get());
    }
}

} // namespace framix
