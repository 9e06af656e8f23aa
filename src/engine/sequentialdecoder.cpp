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

    // While frame threads decode, pictures wait here until those decoded after them that
    // could be shown before them are out: a picture's damage shows when it comes out, and
    // the pictures shown before it that refer to it must not be handed out by then.
    std::deque<ff::FramePtr> held;
    int handedOut = 0; // decoder pictures handed out so far
    int discard = 0;   // after starting again, pictures already handed out
    bool keyShown = false;

    // The next decoded picture into `picture`; false at the end.
    bool decodeOne(AVFrame* picture);
    // The decoder found damage while frame threads decode, whose patching depends on their
    // timing: read the file again from the start with one thread, passing over what was
    // handed out already (undamaged, so the same with either).
    bool startAgainWithOneThread();
};

bool SequentialDecoder::Private::startAgainWithOneThread()
{
    qCInfo(lcEngine) << "the decoder found damage; reading again with one thread";
    EngineError error;
    if (!session.useOneThread(&error) || !session.reopenContainer(&error)) {
        qCWarning(lcEngine) << "cannot read again:" << error.message();
        return false;
    }
    held.clear();
    discard = handedOut;
    drained = false;
    return true;
}

bool SequentialDecoder::Private::decodeOne(AVFrame* picture)
{
    for (;;) {
        AVCodecContext* dec = session.decoder();
        const size_t depth = session.oneThread() ? 0 : size_t(qMax(0, dec->has_b_frames) + 1);
        if (!held.empty() && (held.size() > depth || drained)) {
            av_frame_move_ref(picture, held.front().get());
            held.pop_front();
            ++handedOut;
            return true;
        }
        if (avcodec_receive_frame(dec, frm.get()) >= 0) {
            if (discard > 0) {
                --discard;
                av_frame_unref(frm.get());
                continue;
            }
            // Pictures shown before the first keyframe's refer to what is not in the file.
            if (!session.oneThread() && keyShown && DecodeSession::damaged(frm.get())) {
                av_frame_unref(frm.get());
                if (!startAgainWithOneThread())
                    return false;
                continue;
            }
            keyShown = keyShown || frm->key_frame;
            ff::FramePtr kept = ff::makeFrame();
            av_frame_move_ref(kept.get(), frm.get());
            held.push_back(std::move(kept));
            continue;
        }
        if (drained)
            return false;
        if (!session.readVideoPacket(pkt.get())) {
            avcodec_send_packet(dec, nullptr);
            drained = true;
            continue;
        }
        // Zero-size packets (dropped-frame markers in AVI) would read as end of stream.
        if (pkt->size > 0) {
            const int err = avcodec_send_packet(dec, pkt.get());
            if (err < 0 && err != AVERROR(EAGAIN)) {
                qCInfo(lcEngine) << "packet rejected:" << ff::errorText(err);
                if (!session.oneThread() && keyShown) {
                    av_packet_unref(pkt.get());
                    if (!startAgainWithOneThread())
                        return false;
                    continue;
                }
            }
        }
        av_packet_unref(pkt.get());
    }
}

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
    if (!d->session.decoder())
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
        if (d->decodeOne(d->frm.get())) {
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
        if (deinterlace && !d->deinterlacer.finished() && d->deinterlacer.last() >= 0) {
            d->deinterlacer.finish();
            continue;
        }
        return std::nullopt;
    }
}

} // namespace framix
