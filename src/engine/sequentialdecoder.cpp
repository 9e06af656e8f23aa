#include "sequentialdecoder.h"

#include "decodesession_p.h"
#include "enginelog.h"
#include "frameindex.h"
#include "videoframe_p.h"

namespace framix {

struct SequentialDecoder::Private
{
    DecodeSession session;
    MediaInfo info;
    ff::PacketPtr pkt = ff::makePacket();
    ff::FramePtr frm = ff::makeFrame();
    bool drained = false;
    int count = 0;
    qint64 lastPts = FrameIndex::kNoTimestamp;
    qint64 fileSize = 1;
    qint64 lastPos = 0;
};

SequentialDecoder::SequentialDecoder() : d(std::make_unique<Private>()) {}
SequentialDecoder::~SequentialDecoder() = default;

bool SequentialDecoder::open(const QString& path, EngineError* error,
                             const std::atomic_bool* cancel)
{
    d = std::make_unique<Private>();
    if (!d->session.open(path, error, cancel))
        return false;
    d->info = d->session.probeInfo();
    if (!d->session.hasVideo())
        return fail(error, EngineError::Code::NoStreams, QStringLiteral("the file has no video"));
    d->fileSize = qMax<qint64>(1, avio_size(d->session.format()->pb));
    takeLastFfmpegError();
    return true;
}

const MediaInfo& SequentialDecoder::info() const
{
    return d->info;
}

int SequentialDecoder::timeBaseNum() const
{
    return d->session.videoStream() ? d->session.videoStream()->time_base.num : 1;
}

int SequentialDecoder::timeBaseDen() const
{
    return d->session.videoStream() ? d->session.videoStream()->time_base.den : 1;
}

qint64 SequentialDecoder::lastTimestamp() const
{
    return d->lastPts;
}

EngineError SequentialDecoder::failureReason() const
{
    return noPictureError();
}

int SequentialDecoder::percentRead() const
{
    return int(qBound<qint64>(0, d->lastPos * 100 / d->fileSize, qint64(100)));
}

std::optional<VideoFrame> SequentialDecoder::next()
{
    AVCodecContext* dec = d->session.decoder();
    if (!dec)
        return std::nullopt;
    for (;;) {
        if (avcodec_receive_frame(dec, d->frm.get()) >= 0) {
            const qint64 pts = d->frm->best_effort_timestamp;
            d->lastPts = pts == AV_NOPTS_VALUE ? FrameIndex::kNoTimestamp : pts;
            const AVRational tb = d->session.videoStream()->time_base;
            const qint64 ms =
                pts == AV_NOPTS_VALUE ? 0 : av_rescale_q(pts, tb, AVRational{1, 1000});
            return makeVideoFrame(d->frm.get(), d->count++, ms);
        }
        if (d->drained)
            return std::nullopt;
        if (!d->session.readVideoPacket(d->pkt.get())) {
            avcodec_send_packet(dec, nullptr);
            d->drained = true;
            continue;
        }
        if (d->pkt->pos >= 0)
            d->lastPos = d->pkt->pos;
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
