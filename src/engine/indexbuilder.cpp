#include "indexbuilder_p.h"

#include "enginelog.h"

#include <algorithm>
#include <vector>

namespace framix {

namespace {

// What the index keeps of a packet read from the file.
FrameIndex::Packet indexEntry(const AVPacket* pkt)
{
    FrameIndex::Packet p;
    p.pos = pkt->pos;
    p.dts = pkt->dts == AV_NOPTS_VALUE ? FrameIndex::kNoTimestamp : pkt->dts;
    p.pts = pkt->pts == AV_NOPTS_VALUE ? FrameIndex::kNoTimestamp : pkt->pts;
    p.size = pkt->size;
    p.checksum = DecodeSession::checksum(pkt);
    p.key = pkt->flags & AV_PKT_FLAG_KEY;
    return p;
}

// How a scan can tell the order in which the decoder shows the pictures, without decoding.
enum class Ordering
{
    None,         // it cannot: index by decoding
    Timestamps,   // every packet's presentation timestamp, where the container has them all
    MpegPictures, // MPEG-1/2 picture headers: the decoder's reordering of I, P and B pictures
    PacketOrder,  // codecs that never reorder: one picture per packet, in packet order
};

Ordering scanOrdering(const AVFormatContext* fmt, const AVStream* st)
{
    const AVCodecID codec = st->codecpar->codec_id;
    if (codec == AV_CODEC_ID_MPEG1VIDEO || codec == AV_CODEC_ID_MPEG2VIDEO)
        return Ordering::MpegPictures;
    const AVCodecDescriptor* desc = avcodec_descriptor_get(codec);
    switch (codec) {
    // Coded without B-frames: each picture is shown as soon as it is decoded.
    case AV_CODEC_ID_FFV1:
    case AV_CODEC_ID_WMV1:
    case AV_CODEC_ID_WMV2:
    case AV_CODEC_ID_MSMPEG4V1:
    case AV_CODEC_ID_MSMPEG4V2:
    case AV_CODEC_ID_MSMPEG4V3:
        return Ordering::PacketOrder;
    default:
        break;
    }
    if (desc && (desc->props & AV_CODEC_PROP_INTRA_ONLY))
        return Ordering::PacketOrder;
    const QByteArray format(fmt->iformat->name);
    // A transport stream stamps every H.264 and HEVC access unit it carries (camcorders'
    // .mts/.m2ts, broadcast recordings), as MP4 and Matroska do.
    const bool transport =
        format == "mpegts" && (codec == AV_CODEC_ID_H264 || codec == AV_CODEC_ID_HEVC);
    if (!format.startsWith("mov,") && !format.startsWith("matroska") && !transport)
        return Ordering::None; // AVI's packed B-frames, MPEG streams without timestamps
    switch (codec) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_VP8:
    case AV_CODEC_ID_VP9:
    case AV_CODEC_ID_AV1:
        break;
    default:
        return Ordering::None;
    }
    // Field-coded video can take two packets for one picture.
    const AVFieldOrder fields = st->codecpar->field_order;
    return fields == AV_FIELD_PROGRESSIVE || fields == AV_FIELD_UNKNOWN ? Ordering::Timestamps
                                                                        : Ordering::None;
}

// What an MPEG-1/2 packet's headers say, up to its first slice.
struct MpegHeaders
{
    int pictures = 0;      // picture headers
    int type = 0;          // of the first: 1 I, 2 P, 3 B, 4 D
    int structure = 3;     // 3 a frame picture, 1 or 2 a single field
    int closedGop = -1;    // from a GOP header, -1 when the packet has none
    bool lowDelay = false; // a sequence extension says pictures are never reordered
    int width = -1;        // from a sequence header, -1 when the packet has none
    int height = -1;
};

MpegHeaders readMpegHeaders(const uint8_t* p, int size)
{
    MpegHeaders h;
    for (int i = 0; i + 3 < size; ++i) {
        if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1)
            continue;
        const uint8_t code = p[i + 3];
        const uint8_t* b = p + i + 4;
        const int left = size - i - 4;
        if (code == 0x00) {
            if (++h.pictures > 1)
                break;
            if (left >= 2)
                h.type = (b[1] >> 3) & 7; // after the 10-bit temporal reference
        } else if (code <= 0xaf) {
            break; // a slice: the headers are behind us
        } else if (code == 0xb3 && left >= 3) {
            h.width = (b[0] << 4) | (b[1] >> 4);
            h.height = ((b[1] & 15) << 8) | b[2];
        } else if (code == 0xb5 && left >= 6 && (b[0] >> 4) == 1) {
            h.lowDelay = b[5] >> 7;
        } else if (code == 0xb5 && left >= 3 && (b[0] >> 4) == 8 && h.pictures > 0) {
            h.structure = b[2] & 3;
        } else if (code == 0xb8 && left >= 4) {
            h.closedGop = (b[3] >> 6) & 1; // after the 25-bit time code
        }
        i += 3;
    }
    return h;
}

// The MPEG-1/2 decoder's output, packet by packet: a B picture is shown at once, an I or P
// picture when the next one of those arrives (or at the end). Until the first I picture, P
// pictures are dropped; until two reference pictures have been decoded, so are the B
// pictures of an open GOP (they refer to a picture before the file's start).
class MpegOrder
{
public:
    // False when the packet is one this model does not cover (no picture or several, a
    // single field, D pictures, low delay, a change of picture size).
    bool add(const AVPacket* pkt, int number)
    {
        const MpegHeaders h = readMpegHeaders(pkt->data, pkt->size);
        if (h.pictures != 1 || h.structure != 3 || h.lowDelay || h.type < 1 || h.type > 3)
            return false;
        if (h.width >= 0) {
            if (m_width >= 0 && (h.width != m_width || h.height != m_height))
                return false;
            m_width = h.width;
            m_height = h.height;
        }
        if (h.closedGop >= 0)
            m_closedGop = h.closedGop;
        if (h.type == 3) {
            if (m_haveLast || m_closedGop) {
                m_haveLast = true; // a closed GOP's B picture gets a stand-in for the missing one
                m_shown.push_back(number);
            }
            return true;
        }
        if (h.type == 2 && m_held < 0)
            return true; // a P picture before any I picture
        if (m_held >= 0) {
            m_shown.push_back(m_held);
            m_haveLast = true;
        }
        m_held = number;
        return true;
    }
    const std::vector<int>& finish()
    {
        if (m_held >= 0)
            m_shown.push_back(std::exchange(m_held, -1));
        return m_shown;
    }

private:
    std::vector<int> m_shown;
    int m_held = -1;
    bool m_haveLast = false;
    bool m_closedGop = false;
    int m_width = -1;
    int m_height = -1;
};

} // namespace

// One pass over the whole stream with the same packets the random-access path will see.
// The decoder's output order and the frames it drops do not depend on the loop filter, so
// it is skipped here for speed; pictures themselves are never kept.
std::optional<FrameIndex> buildIndex(DecodeSession& session, const VideoSource::Options& options,
                                     EngineError* error)
{
    AVCodecContext* dec = session.decoder();
    const AVStream* st = session.videoStream();
    FrameIndex index;
    index.setTimeBase(st->time_base.num, st->time_base.den);
    const qint64 fileSize = qMax<qint64>(1, avio_size(session.format()->pb));
    takeLastFfmpegError();
    ff::PacketPtr pkt = ff::makePacket();
    ff::FramePtr frm = ff::makeFrame();
    int lastPercent = -1;

    dec->skip_loop_filter = AVDISCARD_ALL;
    // Every picture must come out, whatever an earlier decoding run left set.
    dec->skip_frame = AVDISCARD_DEFAULT;
    auto receiveAll = [&] {
        while (avcodec_receive_frame(dec, frm.get()) >= 0) {
            index.addFrame(frm->pts >= 0 && frm->pts < index.packetCount() ? int(frm->pts) : -1);
            av_frame_unref(frm.get());
        }
    };
    while (session.readVideoPacket(pkt.get())) {
        if (options.cancel && options.cancel->load()) {
            av_packet_unref(pkt.get());
            dec->skip_loop_filter = AVDISCARD_DEFAULT;
            avcodec_flush_buffers(dec);
            fail(error, EngineError::Code::Cancelled, QString());
            return std::nullopt;
        }
        const FrameIndex::Packet p = indexEntry(pkt.get());
        const int number = index.packetCount();
        index.addPacket(p);
        if (options.progress && pkt->pos >= 0) {
            const int percent =
                int(qBound(qint64(0), qint64(pkt->pos * 100 / fileSize), qint64(99)));
            if (percent != lastPercent)
                options.progress(lastPercent = percent);
        }
        if (pkt->size > 0) {
            // The packet's number rides through the decoder's reordering as its timestamp,
            // so every output frame says which packet it came from.
            pkt->pts = number;
            pkt->dts = AV_NOPTS_VALUE;
            const int err = avcodec_send_packet(dec, pkt.get());
            if (err < 0 && err != AVERROR(EAGAIN))
                qCInfo(lcEngine) << "packet" << number << "rejected:" << ff::errorText(err);
        }
        av_packet_unref(pkt.get());
        receiveAll();
    }
    avcodec_send_packet(dec, nullptr);
    receiveAll();
    avcodec_flush_buffers(dec);
    dec->skip_loop_filter = AVDISCARD_DEFAULT;
    const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    index.finish(rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0);
    if (options.progress)
        options.progress(100);
    if (index.frameCount() == 0) {
        if (error)
            *error = noPictureError();
        return std::nullopt;
    }
    return index;
}

// Used only where the order it derives is the decoder's: no packet is empty or marked to be
// dropped, and per ordering, every packet has a timestamp of its own and no two share one
// (Timestamps), every packet holds one whole frame picture (MpegPictures), decoding starts
// at a keyframe (Timestamps, PacketOrder). Every later decode checks the order again
// (VideoSource::Private::takeOutput), and a file where it differs is indexed by decoding.
std::optional<FrameIndex> scanIndex(DecodeSession& session, const VideoSource::Options& options,
                                    EngineError* error, bool* declined)
{
    *declined = true;
    const AVStream* st = session.videoStream();
    const Ordering ordering = scanOrdering(session.format(), st);
    if (ordering == Ordering::None)
        return std::nullopt;
    FrameIndex index;
    index.setTimeBase(st->time_base.num, st->time_base.den);
    const qint64 fileSize = qMax<qint64>(1, avio_size(session.format()->pb));
    ff::PacketPtr pkt = ff::makePacket();
    std::vector<std::pair<qint64, int>> byTime; // (pts, packet)
    MpegOrder mpeg;
    int lastPercent = -1;
    bool usable = true;
    while (usable && session.readVideoPacket(pkt.get())) {
        if (options.cancel && options.cancel->load()) {
            av_packet_unref(pkt.get());
            *declined = false;
            fail(error, EngineError::Code::Cancelled, QString());
            return std::nullopt;
        }
        const int number = index.packetCount();
        const bool first = number == 0;
        usable = pkt->size > 0 && !(pkt->flags & (AV_PKT_FLAG_DISCARD | AV_PKT_FLAG_CORRUPT));
        switch (ordering) {
        case Ordering::Timestamps:
            usable =
                usable && pkt->pts != AV_NOPTS_VALUE && (!first || (pkt->flags & AV_PKT_FLAG_KEY));
            byTime.emplace_back(pkt->pts, number);
            break;
        case Ordering::MpegPictures:
            usable = usable && mpeg.add(pkt.get(), number);
            break;
        case Ordering::PacketOrder:
            usable = usable && (!first || (pkt->flags & AV_PKT_FLAG_KEY));
            break;
        case Ordering::None:
            break;
        }
        index.addPacket(indexEntry(pkt.get()));
        if (options.progress && pkt->pos >= 0) {
            const int percent =
                int(qBound(qint64(0), qint64(pkt->pos * 100 / fileSize), qint64(99)));
            if (percent != lastPercent)
                options.progress(lastPercent = percent);
        }
        av_packet_unref(pkt.get());
    }
    if (!usable || index.packetCount() == 0)
        return std::nullopt;
    std::vector<int> shown;
    if (ordering == Ordering::Timestamps) {
        std::sort(byTime.begin(), byTime.end());
        for (size_t i = 0; i < byTime.size(); ++i) {
            if (i > 0 && byTime[i].first == byTime[i - 1].first)
                return std::nullopt;
            shown.push_back(byTime[i].second);
        }
        // Nothing shown before the first keyframe: the decoder would drop such pictures.
        if (shown.front() != 0)
            return std::nullopt;
    } else if (ordering == Ordering::MpegPictures) {
        shown = mpeg.finish();
    } else {
        for (int i = 0; i < index.packetCount(); ++i)
            shown.push_back(i);
    }
    if (shown.empty())
        return std::nullopt;
    for (const int packet : shown)
        index.addFrame(packet);
    const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    index.finish(rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0);
    if (options.progress)
        options.progress(100);
    *declined = false;
    return index;
}

} // namespace framix
