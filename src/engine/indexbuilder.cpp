#include "indexbuilder_p.h"

#include "enginelog.h"

#include <QByteArray>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace framix {

namespace {

// What the index keeps of a packet read from the file. `startable` says whether decoding can
// start at a packet the container marks as a keyframe (null: it can).
FrameIndex::Packet indexEntry(const AVPacket* pkt,
                              const std::function<bool(const AVPacket*)>& startable)
{
    FrameIndex::Packet p;
    p.pos = pkt->pos;
    p.dts = pkt->dts == AV_NOPTS_VALUE ? FrameIndex::kNoTimestamp : pkt->dts;
    p.pts = pkt->pts == AV_NOPTS_VALUE ? FrameIndex::kNoTimestamp : pkt->pts;
    p.size = pkt->size;
    p.checksum = DecodeSession::checksum(pkt);
    p.key = (pkt->flags & AV_PKT_FLAG_KEY) && (!startable || startable(pkt));
    return p;
}

// How a scan can tell the order in which the decoder shows the pictures, without decoding.
enum class Ordering
{
    None,          // it cannot: index by decoding
    Timestamps,    // every packet's presentation timestamp, where the container has them all
    MpegPictures,  // MPEG-1/2 picture headers: the decoder's reordering of I, P and B pictures
    Mpeg4Vops,     // MPEG-4 Part 2 in AVI, which has no timestamps: the VOP headers, likewise
    PacketOrder,   // codecs that never reorder: one picture per packet, in packet order
    FramePictures, // as Timestamps, once each packet's header says it holds a frame picture
    PictureOrder,  // H.264 without timestamps (AVI, raw streams): each picture's order count
    Vc1Pictures,   // WMV9 (WMV3) and VC-1 in ASF: each picture header's type, as MpegPictures
};

bool interlaced(const AVStream* st)
{
    const AVFieldOrder fields = st->codecpar->field_order;
    return fields != AV_FIELD_PROGRESSIVE && fields != AV_FIELD_UNKNOWN;
}

Ordering scanOrdering(const AVFormatContext* fmt, const AVStream* st)
{
    // The decoder works around an old encoder's clock for this FourCC; not modelled.
    if (st->codecpar->codec_tag == MKTAG('U', 'M', 'P', '4'))
        return Ordering::None;
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
    // ASF stamps WMV9 and VC-1 packets with their send times, not the order they are shown
    // in; the picture headers tell it instead.
    if (codec == AV_CODEC_ID_WMV3 || codec == AV_CODEC_ID_VC1)
        return format == "asf" ? Ordering::Vc1Pictures : Ordering::None;
    if (codec == AV_CODEC_ID_MPEG4 && format == "avi")
        return Ordering::Mpeg4Vops;
    if (codec == AV_CODEC_ID_H264 && (format == "avi" || format == "h264"))
        return Ordering::PictureOrder;
    // A transport stream stamps every H.264 and HEVC access unit it carries (camcorders'
    // .mts/.m2ts, broadcast recordings), as MP4 and Matroska do.
    const bool transport =
        format == "mpegts" && (codec == AV_CODEC_ID_H264 || codec == AV_CODEC_ID_HEVC);
    if (!format.startsWith("mov,") && !format.startsWith("matroska") && !transport)
        return Ordering::None; // AVI's packed B-frames, MPEG streams without timestamps
    if (codec == AV_CODEC_ID_H264 && interlaced(st))
        return Ordering::FramePictures;
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
    // Field-coded video can take two packets for one picture. Interlaced H.264 is read
    // packet by packet (H264Pictures), the rest is indexed by decoding.
    return interlaced(st) ? Ordering::None : Ordering::Timestamps;
}

// Interlaced H.264 (broadcast 1080i) codes a picture either as one frame, whose macroblocks
// may switch between frame and field coding (MBAFF), or as two fields, each an access unit of
// its own (PAFF). Only the first gives one decoded picture per packet, as the scan assumes;
// libavcodec's parser reads each packet's slice header to tell them apart, and gives the
// picture's order count, which orders H.264 where the container has no timestamps.
class H264Pictures
{
public:
    explicit H264Pictures(const AVCodecParameters* par)
        : m_parser(av_parser_init(par->codec_id)), m_context(avcodec_alloc_context3(nullptr))
    {
        if (!m_parser || !m_context || avcodec_parameters_to_context(m_context.get(), par) < 0)
            m_parser.reset();
        else
            m_parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    }

    // Whether the packet holds a whole frame picture; if so, *order is its order count.
    bool add(const AVPacket* pkt, int* order = nullptr)
    {
        if (!m_parser)
            return false;
        uint8_t* out = nullptr;
        int outSize = 0;
        // Left as it was by a packet whose header the parser cannot read: a stale answer must
        // not pass for this packet's.
        m_parser->picture_structure = AV_PICTURE_STRUCTURE_UNKNOWN;
        m_parser->pict_type = AV_PICTURE_TYPE_NONE;
        const int used = av_parser_parse2(m_parser.get(), m_context.get(), &out, &outSize,
                                          pkt->data, pkt->size, pkt->pts, pkt->dts, pkt->pos);
        if (order)
            *order = m_parser->output_picture_number;
        if (used != pkt->size || outSize != pkt->size)
            return false;
        // HEVC's parser does not tell the picture structure (the scan takes progressive HEVC
        // only); that it read the slice header's picture type is what counts there.
        if (m_context->codec_id == AV_CODEC_ID_HEVC)
            return m_parser->pict_type != AV_PICTURE_TYPE_NONE;
        return m_parser->picture_structure == AV_PICTURE_STRUCTURE_FRAME;
    }

private:
    struct ParserDeleter
    {
        void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
    };
    std::unique_ptr<AVCodecParserContext, ParserDeleter> m_parser;
    ff::CodecPtr m_context;
};

// H.264 and HEVC as MP4 and Matroska store them: each NAL unit of a packet behind its length
// in `lengthSize` bytes, as the codec's configuration record says (0 when the stream is
// in start-code form, as in transport streams).
int nalLengthSize(const AVCodecParameters* par)
{
    const uint8_t* x = par->extradata;
    if (!x || x[0] != 1)
        return 0;
    if (par->codec_id == AV_CODEC_ID_H264 && par->extradata_size >= 7)
        return (x[4] & 3) + 1;
    if (par->codec_id == AV_CODEC_ID_HEVC && par->extradata_size >= 23)
        return (x[21] & 3) + 1;
    return 0;
}

// Whether the packet's NAL units fill it exactly, each behind a length that fits and with a
// valid first byte: a damaged packet whose lengths do not add up is one the decoder drops.
bool nalUnitsTile(const AVPacket* pkt, int lengthSize)
{
    int pos = 0;
    while (pos < pkt->size) {
        if (pkt->size - pos < lengthSize + 1)
            return false;
        quint64 length = 0;
        for (int i = 0; i < lengthSize; ++i)
            length = (length << 8) | pkt->data[pos + i];
        pos += lengthSize;
        if (length == 0 || length > quint64(pkt->size - pos) || (pkt->data[pos] & 0x80))
            return false;
        pos += int(length);
    }
    return pos == pkt->size;
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

// Calls f(code, the bytes after the start code, how many) for each start code (00 00 01
// code) of a packet in order, for as long as f returns true. Returns whether every one was
// visited.
template <class F> bool forEachStartCode(const uint8_t* p, int size, F&& f)
{
    for (int i = 0; i + 3 < size; ++i) {
        if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1)
            continue;
        if (!f(p[i + 3], p + i + 4, size - i - 4))
            return false;
        i += 3;
    }
    return true;
}

MpegHeaders readMpegHeaders(const uint8_t* p, int size)
{
    MpegHeaders h;
    forEachStartCode(p, size, [&h](uint8_t code, const uint8_t* b, int left) {
        if (code == 0x00) {
            if (++h.pictures > 1)
                return false;
            if (left >= 2)
                h.type = (b[1] >> 3) & 7; // after the 10-bit temporal reference
        } else if (code <= 0xaf) {
            return false; // a slice: the headers are behind us
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
        return true;
    });
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

// Reads bits from the front of a byte range, most significant first; past its end it reads
// zeros and says so.
class BitReader
{
public:
    BitReader(const uint8_t* data, int size) : m_data(data), m_size(size) {}
    unsigned get(int n)
    {
        unsigned v = 0;
        for (int i = 0; i < n; ++i, ++m_pos) {
            const int byte = m_pos >> 3;
            if (byte >= m_size) {
                m_over = true;
                v <<= 1;
                continue;
            }
            v = (v << 1) | ((m_data[byte] >> (7 - (m_pos & 7))) & 1);
        }
        return v;
    }
    bool over() const { return m_over; }

private:
    const uint8_t* m_data;
    int m_size;
    int m_pos = 0;
    bool m_over = false;
};

// What an MPEG-4 Part 2 video object layer header says that decides the decoder's output:
// whether pictures are reordered (low delay), and how to read each VOP header as far as its
// "coded" flag.
struct Mpeg4Layer
{
    bool known = false;
    bool controlParameters = false; // the layer states low delay itself
    bool lowDelay = false;
    int incrementBits = 1; // bits of a VOP's time increment
    int resolution = 1;    // time increments per second
};

// Reads the layer header after its start code; false for what this model does not cover
// (shapes other than rectangular, headers that end early).
bool readMpeg4Layer(const uint8_t* p, int size, Mpeg4Layer* layer)
{
    BitReader b(p, size);
    b.get(1); // random accessible
    const unsigned objectType = b.get(8);
    unsigned verid = 1;
    if (b.get(1)) {
        verid = b.get(4);
        b.get(3);
    }
    if (b.get(4) == 15)
        b.get(16); // extended pixel aspect ratio
    Mpeg4Layer l;
    l.controlParameters = b.get(1);
    if (l.controlParameters) {
        b.get(2); // chroma format
        l.lowDelay = b.get(1);
        if (b.get(1))
            b.get(15 + 1 + 15 + 1 + 15 + 1 + 3 + 11 + 1 + 15 + 1); // VBV parameters
    } else {
        // As the decoder guesses: simple and advanced simple profiles start as low delay
        // (the first B-VOP says otherwise).
        l.lowDelay = objectType == 1 || objectType == 17;
    }
    const unsigned shape = b.get(2);
    if (shape == 3 && verid != 1)
        b.get(4);
    b.get(1); // marker
    const unsigned resolution = b.get(16);
    if (b.over() || shape != 0 || resolution == 0)
        return false;
    int bits = 0;
    while (bits < 16 && (1u << bits) < resolution)
        ++bits;
    l.incrementBits = qMax(1, bits);
    l.resolution = int(resolution);
    l.known = true;
    *layer = l;
    return true;
}

// Reads the headers of MPEG-4 Part 2 packets: the layer headers, DivX's mark of a packed
// stream, and each VOP's type and "coded" flag.
class Mpeg4Reader
{
public:
    struct Vop
    {
        int type = 0; // 0 I, 1 P, 2 B, 3 S
        bool coded = true;
        int seconds = 0;     // modulo time base: whole seconds since the reference before
        int increment = 0;   // and the time increment within the second
        int gopSeconds = -1; // a GOV header before it sets the clock's seconds to this
    };
    struct Headers
    {
        int firstCode = -1;
        std::vector<Vop> vops;
    };

    explicit Mpeg4Reader(const AVCodecParameters* par)
    {
        if (par->extradata && par->extradata_size > 0) {
            Headers h;
            m_usable = read(par->extradata, par->extradata_size, &h) && h.vops.empty();
        }
    }
    // False when a header cannot be read (or the stream's own headers could not be).
    bool read(const uint8_t* p, int size, Headers* h)
    {
        if (!m_usable)
            return false;
        int gopSeconds = -1;
        const bool all =
            forEachStartCode(p, size, [&, this, h](uint8_t code, const uint8_t* b, int left) {
                if (h->firstCode < 0)
                    h->firstCode = code;
                if (code >= 0x20 && code <= 0x2f)
                    return readMpeg4Layer(b, left, &m_layer);
                if (code == 0xb3) {
                    // A group of VOPs restarts the decoder's clock at its time code (hours,
                    // minutes, a marker, seconds); one whose first 23 bits are all clear is
                    // ignored, as the decoder ignores it.
                    BitReader r(b, left);
                    const unsigned hours = r.get(5), minutes = r.get(6);
                    r.get(1); // marker
                    const unsigned secs = r.get(6);
                    if (r.over())
                        return false;
                    if (BitReader(b, left).get(23) != 0)
                        gopSeconds = int(secs + 60 * (minutes + 60 * hours));
                    return true;
                }
                if (code == 0xb2) {
                    // DivX names a packed stream in its user data: "DivX503b1393p".
                    const QByteArray text(reinterpret_cast<const char*>(b), qMin(left, 64));
                    const QByteArray name = text.left(text.indexOf('\0'));
                    if (name.startsWith("DivX") && name.contains('b'))
                        m_packed = name.endsWith('p');
                } else if (code == 0xb6) {
                    BitReader r(b, left);
                    Vop vop;
                    vop.type = int(r.get(2));
                    int seconds = 0;
                    while (r.get(1) && !r.over())
                        if (++seconds > 60)
                            return false;
                    const bool marker = r.get(1);
                    vop.seconds = seconds;
                    vop.increment = int(r.get(m_layer.incrementBits));
                    const bool marker2 = r.get(1);
                    vop.coded = r.get(1);
                    if (r.over() || !marker || !marker2 || !m_layer.known)
                        return false;
                    vop.gopSeconds = std::exchange(gopSeconds, -1);
                    h->vops.push_back(vop);
                }
                return true;
            });
        // A group header with no VOP after it in the packet moves the clock of a VOP this
        // reader does not see with it: not modelled.
        return all && gopSeconds < 0;
    }
    // Whether decoding can start at this packet: its first VOP is a coded I-VOP. AVI marks
    // other packets as keyframes too, such as the placeholder after an I-VOP in a packed
    // stream, and decoding from one of those would begin without a reference picture.
    bool startsWithIntra(const AVPacket* pkt)
    {
        Headers h;
        if (!read(pkt->data, pkt->size, &h))
            return true; // as the container says
        return !h.vops.empty() && h.vops[0].type == 0 && h.vops[0].coded;
    }
    Mpeg4Layer& layer() { return m_layer; }
    bool packed() const { return m_packed; }

private:
    Mpeg4Layer m_layer;
    bool m_usable = true;
    bool m_packed = false;
};

// The MPEG-4 Part 2 decoder's output, packet by packet. A VOP that is not coded shows
// nothing; a B-VOP is shown at once once two reference VOPs exist and dropped before; an
// I-, P- or S-VOP is shown at once in low delay, otherwise the reference before it is shown
// (and the last one at the end). A "packed" stream (DivX's user data ends in 'p') carries a
// B-VOP in the packet of the P-VOP before it, and a small placeholder packet after its last
// B-VOP: the decoder keeps the second VOP of a packet (an I- or B-VOP) and decodes it in
// place of the next packet (unless that one starts a new sequence), keeping that packet's
// own VOP in turn.
class Mpeg4Order
{
public:
    explicit Mpeg4Order(const AVCodecParameters* par) : m_reader(par) {}
    bool add(const AVPacket* pkt, int number)
    {
        Mpeg4Reader::Headers h;
        if (!m_reader.read(pkt->data, pkt->size, &h))
            return false;
        if (m_kept) {
            const Vop kept = *std::exchange(m_kept, std::nullopt);
            if (h.firstCode != 0xb0) {
                // Decoded in place of this packet, whose own first VOP (an I- or B-VOP) is
                // kept in turn for the next one.
                const int decoded = decode(kept, number);
                if (decoded > 0 && pkt->size > 7 && !h.vops.empty() &&
                    (h.vops[0].type == 0 || h.vops[0].type == 2))
                    m_kept = h.vops[0];
                return decoded >= 0;
            }
        }
        if (h.vops.empty())
            return true; // headers only: nothing to show
        if (h.vops.size() > (m_reader.packed() ? 2u : 1u))
            return false;
        const int decoded = decode(h.vops[0], number);
        if (decoded < 0)
            return false;
        if (decoded > 0 && h.vops.size() == 2 && (h.vops[1].type == 0 || h.vops[1].type == 2))
            m_kept = h.vops[1];
        return true;
    }
    const std::vector<int>& finish()
    {
        if (!m_reader.layer().lowDelay && m_next >= 0)
            m_shown.push_back(std::exchange(m_next, -1));
        return m_shown;
    }

private:
    using Vop = Mpeg4Reader::Vop;
    // Decodes one VOP as the decoder would, from packet `number`: 1 when it made a picture,
    // 0 when it made none, -1 when this model does not cover it.
    int decode(const Vop& vop, int number)
    {
        Mpeg4Layer& layer = m_reader.layer();
        if (vop.type == 2 && layer.lowDelay && !layer.controlParameters)
            layer.lowDelay = false; // a B-VOP: the guess was wrong, as the decoder finds
        // The decoder's clock, kept whether or not the VOP is coded: a B-VOP that is not
        // timed between the two references around it is skipped (as happens where a damaged
        // file lost a packet).
        if (vop.gopSeconds >= 0)
            m_timeBase = vop.gopSeconds;
        if (vop.type != 2) {
            m_lastTimeBase = m_timeBase;
            m_timeBase += vop.seconds;
            const qint64 time = m_timeBase * layer.resolution + vop.increment;
            m_ppTime = time - m_lastNonBTime;
            m_lastNonBTime = time;
        } else {
            const qint64 time = (m_lastTimeBase + vop.seconds) * layer.resolution + vop.increment;
            const qint64 pbTime = m_ppTime - (m_lastNonBTime - time);
            if (m_ppTime <= pbTime || pbTime <= 0 || m_ppTime <= 0)
                return 0;
        }
        if (!vop.coded)
            return 0;
        if (vop.type == 2) {
            if (m_references < 2)
                return 0;
            m_shown.push_back(number);
            return 1;
        }
        if (m_references == 0 && vop.type != 0)
            return -1; // a P-VOP before any I-VOP
        m_last = std::exchange(m_next, number);
        ++m_references;
        if (layer.lowDelay)
            m_shown.push_back(number);
        else if (m_last >= 0)
            m_shown.push_back(m_last);
        return 1;
    }

    Mpeg4Reader m_reader;
    std::optional<Vop> m_kept; // the second VOP of a packed packet
    std::vector<int> m_shown;
    int m_last = -1;
    int m_next = -1;
    int m_references = 0;
    qint64 m_timeBase = 0;     // as the decoder counts: seconds of the last reference VOP,
    qint64 m_lastTimeBase = 0; // of the one before it,
    qint64 m_lastNonBTime = 0; // the last reference's time and the gap before it
    qint64 m_ppTime = 0;
};

// What a WMV9 (WMV3) or VC-1 packet holds, as libavcodec's decoder reads it.
enum class Vc1Picture
{
    None,      // nothing the decoder makes a picture of
    Intra,     // I
    Predicted, // P, skipped P included: a reference picture
    Bidir,     // B or BI: never a reference
    Unknown,   // outside what the scan models
};

// Bytes of a VC-1 unit with its emulation prevention bytes (00 00 03) removed.
QByteArray vc1Unescaped(const uint8_t* p, int size)
{
    QByteArray out;
    out.reserve(size);
    int zeros = 0;
    for (int i = 0; i < size; ++i) {
        if (zeros >= 2 && p[i] == 3 && i + 1 < size && p[i + 1] < 4) {
            zeros = 0;
            continue;
        }
        zeros = p[i] == 0 ? zeros + 1 : 0;
        out.append(char(p[i]));
    }
    return out;
}

// Reads the sequence header (WMV3's four bytes of codec data; VC-1's advanced profile
// sequence header in its codec data) and, from it, each packet's picture type: the first
// bits of its picture header.
class Vc1Reader
{
public:
    explicit Vc1Reader(const AVCodecParameters* par)
    {
        if (!par->extradata)
            return;
        if (par->codec_id == AV_CODEC_ID_WMV3)
            readSimpleMain(par->extradata, par->extradata_size);
        else if (par->codec_id == AV_CODEC_ID_VC1 && par->codec_tag != MKTAG('W', 'V', 'P', '2'))
            readAdvanced(par->extradata, par->extradata_size);
    }
    bool usable() const { return m_usable; }
    // The decoder reorders only where the sequence allows B pictures: always in the
    // advanced profile, where the header has no count of them.
    bool lowDelay() const { return !m_advanced && m_maxBFrames == 0; }

    Vc1Picture read(const uint8_t* p, int size) const
    {
        if (!m_usable)
            return Vc1Picture::Unknown;
        if (size == 0)
            return Vc1Picture::None; // never sent to the decoder
        return m_advanced ? readAdvancedPicture(p, size) : readSimpleMainPicture(p, size);
    }

private:
    // The simple and main profile header: profile, two reserved bits that must be clear
    // (an old interlaced mode, and sprites: Windows Media Image), then the coding tools,
    // of which range reduction, the B-frame count and frame interpolation shape each
    // picture header.
    void readSimpleMain(const uint8_t* p, int size)
    {
        if (size < 4)
            return;
        BitReader b(p, size);
        const unsigned profile = b.get(2);
        const bool y411 = b.get(1), sprite = b.get(1);
        b.get(3 + 5 + 1 + 1 + 1 + 1 + 1 + 1 + 2 + 1); // rates, loop filter .. transform
        const bool transformTables = b.get(1);        // reserved: the decoder refuses it
        b.get(1 + 1);                                 // overlap, sync markers
        m_rangeReduction = b.get(1);
        m_maxBFrames = int(b.get(3));
        b.get(2); // quantizer mode
        m_interpolation = b.get(1);
        // The complex profile is only partly supported by the decoder; leave it to decoding.
        m_usable = !b.over() && profile <= 1 && !y411 && !sprite && !transformTables;
    }

    // The advanced profile's sequence header, after its start code (00 00 01 0F): only
    // progressive video is read; interlaced video may code a picture as two fields.
    void readAdvanced(const uint8_t* p, int size)
    {
        forEachStartCode(p, size, [this](uint8_t code, const uint8_t* b, int left) {
            if (code != 0x0f)
                return true;
            int end = 0;
            while (end + 2 < left && !(b[end] == 0 && b[end + 1] == 0 && b[end + 2] == 1))
                ++end;
            m_sequenceHeader =
                QByteArray(reinterpret_cast<const char*>(b), end + 2 < left ? end : left);
            const QByteArray bytes = vc1Unescaped(b, left);
            BitReader r(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
            const unsigned profile = r.get(2);
            r.get(3);                         // level
            const unsigned chroma = r.get(2); // 1: 4:2:0, the only one decoded
            r.get(3 + 5 + 1 + 12 + 12 + 1);   // rates, post-processing, sizes, broadcast
            const bool interlace = r.get(1);
            m_usable = !r.over() && profile == 3 && chroma == 1 && !interlace;
            m_advanced = true;
            return false;
        });
    }

    // A simple or main profile picture header: frame interpolation, a frame count, range
    // reduction, then the type: 1 P; 0 I, or where B pictures are allowed, 01 I and 00 B
    // (BI is a B picture whose fraction says so; the decoder treats it as one). A packet of
    // one byte cannot hold a picture header (an I picture's takes 16 bits and more, a P's
    // more still): the decoder rejects it and shows nothing. A P picture of a few bytes is
    // one whose blocks are all skipped (a still screen: Windows Media Foundation writes
    // them as seven bytes), a copy of its reference, once its quantizer index (five bits
    // after the type, zero being refused) is there. What the decoder makes of other small
    // packets depends on more than their first bits, so those are left to decoding.
    Vc1Picture readSimpleMainPicture(const uint8_t* p, int size) const
    {
        if (size == 1)
            return Vc1Picture::None;
        if (size < 8) {
            BitReader b(p, size);
            b.get((m_interpolation ? 1 : 0) + 2 + (m_rangeReduction ? 1 : 0));
            const bool predicted = b.get(1);
            const unsigned quantizer = b.get(5);
            return predicted && quantizer != 0 && !b.over() ? Vc1Picture::Predicted
                                                            : Vc1Picture::Unknown;
        }
        BitReader b(p, size);
        if (m_interpolation)
            b.get(1);
        b.get(2);
        if (m_rangeReduction)
            b.get(1);
        if (b.get(1))
            return Vc1Picture::Predicted;
        if (m_maxBFrames > 0 && !b.get(1))
            return Vc1Picture::Bidir;
        return Vc1Picture::Intra;
    }

    // An advanced profile packet: the picture itself, or units with start codes, of which
    // the frame (0D) holds the picture. Field pictures (0C), the end of a sequence (0A, which
    // the decoder takes for the end of the stream) and a sequence header other than the one
    // the decoder was opened with are left to decoding. A progressive picture header starts
    // with its type: 0 P, 10 B, 110 I, 1110 BI, 1111 a skipped P (a copy of the reference,
    // one byte).
    Vc1Picture readAdvancedPicture(const uint8_t* p, int size) const
    {
        const uint8_t* frame = p;
        int frameSize = size;
        if (size >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1) {
            frame = nullptr;
            bool ok = true;
            forEachStartCode(p, size, [&](uint8_t code, const uint8_t* b, int left) {
                if (code == 0x0d && !frame) {
                    frame = b;
                    frameSize = left;
                } else if (code == 0x0a || code == 0x0c) {
                    ok = false;
                } else if (code == 0x0f) {
                    ok = left >= m_sequenceHeader.size() &&
                         std::equal(m_sequenceHeader.begin(), m_sequenceHeader.end(),
                                    reinterpret_cast<const char*>(b));
                }
                return ok;
            });
            if (!ok || !frame)
                return Vc1Picture::Unknown;
        }
        if (frameSize < 1)
            return Vc1Picture::Unknown;
        const uint8_t type = frame[0] >> 4;
        if (type == 15)
            return Vc1Picture::Predicted;
        // A one-byte picture of another type is cut short: the decoder drops it.
        if (frameSize < 2)
            return Vc1Picture::Unknown;
        if (!(type & 8))
            return Vc1Picture::Predicted;
        if (!(type & 4))
            return Vc1Picture::Bidir;
        return (type & 2) ? Vc1Picture::Bidir : Vc1Picture::Intra;
    }

    bool m_usable = false;
    bool m_advanced = false;
    bool m_rangeReduction = false;
    bool m_interpolation = false;
    int m_maxBFrames = 0;
    QByteArray m_sequenceHeader; // as stored, after its start code
};

// The VC-1 decoder's output, packet by packet, as MpegOrder's: without B pictures each
// picture is shown as soon as it is decoded; with them, a B picture is shown at once (once
// two reference pictures exist; before that the decoder drops it), an I or P picture when
// the next one of those arrives, and the last at the end.
class Vc1Order
{
public:
    // `references`: how many reference pictures the decoder holds already, whose showing is
    // not this model's to say (0 at the start of the stream).
    Vc1Order(bool lowDelay, int references) : m_lowDelay(lowDelay), m_references(references) {}
    void add(Vc1Picture type, int number)
    {
        switch (type) {
        case Vc1Picture::Intra:
        case Vc1Picture::Predicted:
            ++m_references;
            if (m_lowDelay) {
                m_shown.push_back(number);
            } else {
                if (m_held >= 0)
                    m_shown.push_back(m_held);
                m_held = number;
            }
            break;
        case Vc1Picture::Bidir:
            if (m_references >= 2)
                m_shown.push_back(number);
            break;
        case Vc1Picture::None:
        case Vc1Picture::Unknown:
            break;
        }
    }
    std::vector<int> finish()
    {
        if (m_held >= 0)
            m_shown.push_back(std::exchange(m_held, -1));
        return m_shown;
    }

private:
    bool m_lowDelay;
    int m_references;
    int m_held = -1;
    std::vector<int> m_shown;
};

// Where decoding can start, for codecs whose container's keyframe marks are not enough.
std::function<bool(const AVPacket*)> startCheck(const AVStream* st)
{
    const AVCodecID codec = st->codecpar->codec_id;
    if (codec == AV_CODEC_ID_WMV3 || codec == AV_CODEC_ID_VC1) {
        // ASF marks the packets its writer was told were keyframes; decoding can start only
        // at an I picture.
        auto reader = std::make_shared<Vc1Reader>(st->codecpar);
        if (!reader->usable())
            return nullptr;
        return [reader](const AVPacket* pkt) {
            return reader->read(pkt->data, pkt->size) == Vc1Picture::Intra;
        };
    }
    if (codec != AV_CODEC_ID_MPEG4)
        return nullptr;
    auto reader = std::make_shared<Mpeg4Reader>(st->codecpar);
    return [reader](const AVPacket* pkt) { return reader->startsWithIntra(pkt); };
}

} // namespace

bool scanModelsOrder(const AVFormatContext* fmt, const AVStream* st)
{
    switch (scanOrdering(fmt, st)) {
    case Ordering::MpegPictures:
    case Ordering::Mpeg4Vops:
    case Ordering::Vc1Pictures:
    case Ordering::PictureOrder:
        return true;
    default:
        return false;
    }
}

// One pass over the whole stream with the same packets the random-access path will see.
// The decoder's output order and the frames it drops do not depend on the loop filter, so
// it is skipped here for speed; pictures themselves are never kept.
std::optional<FrameIndex> buildIndex(DecodeSession& session, const VideoSource::Options& options,
                                     EngineError* error, int packetLimit)
{
    AVCodecContext* dec = session.decoder();
    const AVStream* st = session.videoStream();
    FrameIndex index;
    index.setTimeBase(st->time_base.num, st->time_base.den);
    const qint64 fileSize = qMax<qint64>(1, avio_size(session.format()->pb));
    takeLastFfmpegError();
    ff::PacketPtr pkt = ff::makePacket();
    const auto startable = startCheck(st);
    ff::FramePtr frm = ff::makeFrame();
    int lastPercent = -1;

    dec->skip_loop_filter = AVDISCARD_ALL;
    // Every picture must come out, whatever an earlier decoding run left set.
    dec->skip_frame = AVDISCARD_DEFAULT;
    // Damage counts from the first keyframe's picture on: pictures shown before it (an open
    // GOP's leading pictures, a recording that starts in the middle of a GOP) refer to what
    // is not in the file and come out patched in any decode.
    bool damage = false;
    int firstKey = -1;
    bool keyShown = false;
    auto receiveAll = [&] {
        while (avcodec_receive_frame(dec, frm.get()) >= 0) {
            keyShown = keyShown || (firstKey >= 0 && frm->pts == firstKey);
            damage = damage || (keyShown && DecodeSession::damaged(frm.get()));
            index.addFrame(frm->pts >= 0 && frm->pts < index.packetCount() ? int(frm->pts) : -1);
            av_frame_unref(frm.get());
        }
    };
    while ((packetLimit < 0 || index.packetCount() < packetLimit) &&
           session.readVideoPacket(pkt.get())) {
        if (options.cancel && options.cancel->load()) {
            av_packet_unref(pkt.get());
            dec->skip_loop_filter = AVDISCARD_DEFAULT;
            avcodec_flush_buffers(dec);
            fail(error, EngineError::Code::Cancelled, QString());
            return std::nullopt;
        }
        const FrameIndex::Packet p = indexEntry(pkt.get(), startable);
        const int number = index.packetCount();
        index.addPacket(p);
        if (firstKey < 0 && p.key)
            firstKey = number;
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
            if (err < 0 && err != AVERROR(EAGAIN)) {
                qCInfo(lcEngine) << "packet" << number << "rejected:" << ff::errorText(err);
                damage = damage || firstKey >= 0;
            }
        }
        av_packet_unref(pkt.get());
        receiveAll();
    }
    avcodec_send_packet(dec, nullptr);
    receiveAll();
    avcodec_flush_buffers(dec);
    dec->skip_loop_filter = AVDISCARD_DEFAULT;
    if (damage && !session.oneThread()) {
        // Which pictures of a damaged stretch come out, and how, depends on the timing of
        // frame threads: the numbers must be those of one thread, as every later decode of
        // this file will be.
        qCInfo(lcEngine) << "the decoder found damage; indexing again with one thread";
        if (!session.useOneThread(error) || !session.reopenContainer(error))
            return std::nullopt;
        return buildIndex(session, options, error, packetLimit);
    }
    index.setDamaged(damage);
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

// The decoder's own output for the first `count` packets of the stream: the packets whose
// pictures come out, in order. The container is read again from the start. Nothing when the
// packets read differ from the scan's or an output cannot be told (declined), or when
// cancelled or the file cannot be read again (*declined false, *error says why).
std::optional<std::vector<int>> decodeHead(DecodeSession& session, const FrameIndex& index,
                                           int count, const VideoSource::Options& options,
                                           EngineError* error, bool* declined)
{
    VideoSource::Options quiet = options;
    quiet.progress = nullptr;
    std::optional<FrameIndex> head;
    if (session.reopenContainer(error))
        head = buildIndex(session, quiet, error, count);
    if (!head) {
        *declined = false;
        return std::nullopt;
    }
    if (head->packetCount() != count)
        return std::nullopt;
    for (int i = 0; i < count; ++i) {
        const FrameIndex::Packet &a = head->packet(i), &b = index.packet(i);
        if (a.pos != b.pos || a.size != b.size || a.checksum != b.checksum)
            return std::nullopt;
    }
    std::vector<int> shown;
    for (int n = 0; n < head->frameCount(); ++n)
        shown.push_back(head->frame(n).packet);
    std::vector<int> sorted = shown;
    std::sort(sorted.begin(), sorted.end());
    if (sorted.empty() || sorted.front() < 0 ||
        std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
        return std::nullopt;
    return shown;
}

// The packets of the first two keyframes, -1 for any the stream lacks.
std::pair<int, int> firstTwoKeyframes(const FrameIndex& index)
{
    int first = -1, second = -1;
    for (int i = 0; i < index.packetCount() && second < 0; ++i)
        if (index.packet(i).key)
            (first < 0 ? first : second) = i;
    return {first, second};
}

// A stream that does not start at a keyframe (a recording cut in the middle of a GOP), or
// whose first keyframe is preceded in display order by pictures that refer to the GOP before
// it: what the decoder shows of the first GOP is its own business, so that stretch, up to the
// second keyframe, is decoded; from there on the timestamps give the order, provided nothing
// after the stretch is shown before any of it. byTime is sorted; returns the packets shown.
std::optional<std::vector<int>> joinDecodedHead(DecodeSession& session, const FrameIndex& index,
                                                const std::vector<std::pair<qint64, int>>& byTime,
                                                const VideoSource::Options& options,
                                                EngineError* error, bool* declined)
{
    const auto [first, second] = firstTwoKeyframes(index);
    if (second < 0)
        return std::nullopt;
    qint64 lastOfHead = std::numeric_limits<qint64>::min();
    for (int i = 0; i < second; ++i)
        lastOfHead = qMax(lastOfHead, index.packet(i).pts);
    for (int i = second; i < index.packetCount(); ++i)
        if (index.packet(i).pts <= lastOfHead)
            return std::nullopt;
    auto shown = decodeHead(session, index, second, options, error, declined);
    if (!shown)
        return std::nullopt;
    for (const auto& [pts, packet] : byTime)
        if (packet >= second)
            shown->push_back(packet);
    return shown;
}

// H.264 without timestamps (AVI, raw streams): between one reset of the picture order count
// (an IDR picture) and the next, the decoder shows the pictures in order of their counts,
// holding back as many as its reorder depth. What it shows up to the second keyframe is its
// own business (it may drop pictures there, and settles its depth), so that stretch is
// decoded; after it, the counts give the order, provided that they never ask for a deeper
// reorder than the decoder then has, nor put a picture before one of that stretch.
// orders[i] is packet i's order count, INT_MIN where it could not be read.
std::optional<std::vector<int>> orderedByCount(DecodeSession& session, const FrameIndex& index,
                                               const std::vector<int>& orders,
                                               const VideoSource::Options& options,
                                               EngineError* error, bool* declined)
{
    const int count = index.packetCount();
    const auto [first, second] = firstTwoKeyframes(index);
    if (second < 0)
        return std::nullopt;
    // (period, order count) for every packet from the first keyframe on; a period ends at a
    // keyframe whose count does not go on rising.
    std::vector<std::pair<int, int>> place(count, {-1, 0});
    std::vector<int> periodStart(count, first);
    int period = 0, highest = std::numeric_limits<int>::min(), start = first;
    for (int i = first; i < count; ++i) {
        if (orders[i] == std::numeric_limits<int>::min())
            return std::nullopt;
        if (i > first && index.packet(i).key && orders[i] <= highest) {
            ++period;
            highest = std::numeric_limits<int>::min();
            start = i;
        }
        highest = qMax(highest, orders[i]);
        place[i] = {period, orders[i]};
        periodStart[i] = start;
    }
    const auto lastOfHead = *std::max_element(place.begin() + first, place.begin() + second);
    if (*std::min_element(place.begin() + second, place.end()) <= lastOfHead)
        return std::nullopt;

    auto shown = decodeHead(session, index, second, options, error, declined);
    if (!shown)
        return std::nullopt;
    // How many pictures decoded before each one are shown after it: the decoder must hold
    // back at least that many. Counted over a window, beyond which every earlier picture of
    // the period must come first.
    const int depth = session.decoder()->has_b_frames;
    constexpr int kWindow = 32;
    std::vector<int> runningMax(count, std::numeric_limits<int>::min());
    for (int i = first; i < count; ++i)
        runningMax[i] = i > periodStart[i] ? qMax(runningMax[i - 1], orders[i]) : orders[i];
    for (int i = second; i < count; ++i) {
        const int from = qMax(periodStart[i], i - kWindow);
        if (from > periodStart[i] && runningMax[from - 1] >= orders[i])
            return std::nullopt;
        int later = 0;
        for (int j = from; j < i; ++j)
            later += orders[j] > orders[i];
        if (later > depth)
            return std::nullopt;
    }
    std::vector<int> rest(count - second);
    for (int i = second; i < count; ++i)
        rest[i - second] = i;
    std::sort(rest.begin(), rest.end(), [&](int a, int b) { return place[a] < place[b]; });
    for (size_t k = 1; k < rest.size(); ++k)
        if (place[rest[k]] == place[rest[k - 1]])
            return std::nullopt;
    shown->insert(shown->end(), rest.begin(), rest.end());
    return shown;
}

// WMV9 and VC-1: the pictures the decoder shows, from each packet's picture type (types[i]
// is packet i's). A stream whose first picture is not an I picture (cut from a longer one)
// begins with pictures the decoder makes against a grey stand-in, or drops; that stretch,
// up to the first keyframe, is decoded, and the model goes on from there with the
// reference picture that stretch left.
std::optional<std::vector<int>> orderedByVc1Type(DecodeSession& session, const FrameIndex& index,
                                                 const std::vector<Vc1Picture>& types,
                                                 bool lowDelay, const VideoSource::Options& options,
                                                 EngineError* error, bool* declined)
{
    const int count = index.packetCount();
    int from = 0;
    std::vector<int> shown;
    int references = 0;
    if (types[0] != Vc1Picture::Intra) {
        from = firstTwoKeyframes(index).first;
        if (from <= 0)
            return std::nullopt;
        const bool referenced = std::any_of(types.begin(), types.begin() + from, [](Vc1Picture t) {
            return t == Vc1Picture::Intra || t == Vc1Picture::Predicted;
        });
        auto head = decodeHead(session, index, from, options, error, declined);
        if (!head)
            return std::nullopt;
        // The stretch's last reference picture came out at its end, as it does in a whole
        // decode when the keyframe arrives; without one, the B pictures after the keyframe
        // would depend on what the decoder made of the stretch.
        if (!referenced || head->empty())
            return std::nullopt;
        shown = std::move(*head);
        references = 1;
    }
    Vc1Order order(lowDelay, references);
    for (int i = from; i < count; ++i)
        order.add(types[i], i);
    const std::vector<int> rest = order.finish();
    shown.insert(shown.end(), rest.begin(), rest.end());
    return shown;
}

// Used only where the order it derives is the decoder's: no packet is empty (but for VC-1,
// whose model counts it as no picture) or marked to be dropped, and per ordering, every
// packet has a timestamp of its own and no two share one (Timestamps), every packet holds one
// whole frame picture (MpegPictures) or one VOP (Mpeg4Vops, or two in a packed stream) or one
// progressive picture whose type its header says (Vc1Pictures), decoding starts at a keyframe
// (Timestamps, PacketOrder, Mpeg4Vops). Every later decode checks the order again
// (VideoSource::Private::takeOutput), and a file where it differs is indexed by decoding.
std::optional<FrameIndex> scanIndex(DecodeSession& session, const VideoSource::Options& options,
                                    EngineError* error, bool* declined)
{
    *declined = true;
    const AVStream* st = session.videoStream();
    const Ordering ordering = scanOrdering(session.format(), st);
    if (ordering == Ordering::None)
        return std::nullopt;
    // Read before the stream may be opened again, which replaces the stream.
    const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    FrameIndex index;
    index.setTimeBase(st->time_base.num, st->time_base.den);
    const qint64 fileSize = qMax<qint64>(1, avio_size(session.format()->pb));
    ff::PacketPtr pkt = ff::makePacket();
    const auto startable = startCheck(st);
    std::vector<std::pair<qint64, int>> byTime; // (pts, packet)
    MpegOrder mpeg;
    Mpeg4Order mpeg4(st->codecpar);
    const int nalLength = nalLengthSize(st->codecpar);
    std::optional<H264Pictures> frames;
    if (ordering == Ordering::FramePictures || ordering == Ordering::PictureOrder ||
        (ordering == Ordering::Timestamps && (st->codecpar->codec_id == AV_CODEC_ID_H264 ||
                                              st->codecpar->codec_id == AV_CODEC_ID_HEVC)))
        frames.emplace(st->codecpar);
    std::vector<int> orders; // PictureOrder: each packet's picture order count
    // Vc1Pictures: what the decoder was opened as must be libavcodec's own decoder, which
    // this models, with its reordering left on.
    std::optional<Vc1Reader> vc1;
    std::vector<Vc1Picture> vc1Types;
    if (ordering == Ordering::Vc1Pictures) {
        const AVCodecContext* dec = session.decoder();
        const QByteArray name = dec && dec->codec ? QByteArray(dec->codec->name) : QByteArray();
        vc1.emplace(st->codecpar);
        if ((name != "wmv3" && name != "vc1") || (dec->flags & AV_CODEC_FLAG_LOW_DELAY) ||
            !vc1->usable())
            return std::nullopt;
    }
    int lastPercent = -1;
    bool usable = true;
    bool seenKey = false;
    takeLastFfmpegError();
    qint64 latest = AV_NOPTS_VALUE; // the highest timestamp so far
    while (usable && session.readVideoPacket(pkt.get())) {
        if (options.cancel && options.cancel->load()) {
            av_packet_unref(pkt.get());
            *declined = false;
            fail(error, EngineError::Code::Cancelled, QString());
            return std::nullopt;
        }
        const int number = index.packetCount();
        const bool first = number == 0;
        // An empty packet is never sent to the decoder: the VC-1 model counts it as no
        // picture, the others do not cover it.
        usable = (pkt->size > 0 || ordering == Ordering::Vc1Pictures) &&
                 !(pkt->flags & (AV_PKT_FLAG_DISCARD | AV_PKT_FLAG_CORRUPT));
        switch (ordering) {
        case Ordering::FramePictures:
            // Before the first keyframe the parser may not have the parameter sets yet; those
            // packets are decoded (see joinDecodedHead).
            seenKey = seenKey || (pkt->flags & AV_PKT_FLAG_KEY);
            usable = usable && (frames->add(pkt.get()) || !seenKey);
            [[fallthrough]];
        case Ordering::Timestamps:
            usable = usable && (nalLength == 0 || nalUnitsTile(pkt.get(), nalLength));
            if (ordering == Ordering::Timestamps && frames) {
                // A picture whose headers the parser cannot read is one the decoder drops.
                seenKey = seenKey || (pkt->flags & AV_PKT_FLAG_KEY);
                usable = usable && (frames->add(pkt.get()) || !seenKey);
            }
            usable = usable && pkt->pts != AV_NOPTS_VALUE;
            // A keyframe stamped before a picture that came earlier is a discontinuity (two
            // recordings joined, a broadcast's clock reset): the decoder shows the pictures
            // around it in an order the timestamps do not give.
            usable = usable && !((pkt->flags & AV_PKT_FLAG_KEY) && latest != AV_NOPTS_VALUE &&
                                 pkt->pts < latest);
            latest = latest == AV_NOPTS_VALUE ? pkt->pts : qMax(latest, pkt->pts);
            byTime.emplace_back(pkt->pts, number);
            break;
        case Ordering::PictureOrder: {
            // As for interlaced H.264: before the first keyframe, packets are decoded.
            seenKey = seenKey || (pkt->flags & AV_PKT_FLAG_KEY);
            int order = 0;
            const bool frame = frames->add(pkt.get(), &order);
            usable = usable && (frame || !seenKey);
            orders.push_back(frame ? order : std::numeric_limits<int>::min());
            break;
        }
        case Ordering::MpegPictures:
            usable = usable && mpeg.add(pkt.get(), number);
            break;
        case Ordering::Mpeg4Vops:
            usable = usable && (!first || (pkt->flags & AV_PKT_FLAG_KEY)) &&
                     mpeg4.add(pkt.get(), number);
            break;
        case Ordering::PacketOrder:
            usable = usable && (!first || (pkt->flags & AV_PKT_FLAG_KEY));
            break;
        case Ordering::Vc1Pictures:
            vc1Types.push_back(vc1->read(pkt->data, pkt->size));
            usable = usable && vc1Types.back() != Vc1Picture::Unknown;
            break;
        case Ordering::None:
            break;
        }
        index.addPacket(indexEntry(pkt.get(), startable));
        if (options.progress && pkt->pos >= 0) {
            const int percent =
                int(qBound(qint64(0), qint64(pkt->pos * 100 / fileSize), qint64(99)));
            if (percent != lastPercent)
                options.progress(lastPercent = percent);
        }
        av_packet_unref(pkt.get());
    }
    // The demuxer or a parser complained (a damaged container that it resynchronised in,
    // a packet it could not take apart): what the decoder makes of such a stretch only
    // decoding can tell.
    const QString complaint = takeLastFfmpegError();
    if (!complaint.isEmpty())
        qCInfo(lcEngine).noquote() << "not indexed from the headers:" << complaint;
    if (!usable || index.packetCount() == 0 || !complaint.isEmpty())
        return std::nullopt;
    std::vector<int> shown;
    if (ordering == Ordering::Timestamps || ordering == Ordering::FramePictures) {
        std::sort(byTime.begin(), byTime.end());
        for (size_t i = 0; i < byTime.size(); ++i) {
            if (i > 0 && byTime[i].first == byTime[i - 1].first)
                return std::nullopt;
            shown.push_back(byTime[i].second);
        }
        // Anything shown before the first packet, or a first packet that is not a keyframe:
        // the decoder drops pictures there, and which ones only it can say.
        if (shown.front() != 0 || !index.packet(0).key) {
            auto joined = joinDecodedHead(session, index, byTime, options, error, declined);
            if (!joined)
                return std::nullopt;
            shown = std::move(*joined);
        }
    } else if (ordering == Ordering::PictureOrder) {
        auto ordered = orderedByCount(session, index, orders, options, error, declined);
        if (!ordered)
            return std::nullopt;
        shown = std::move(*ordered);
    } else if (ordering == Ordering::Vc1Pictures) {
        auto ordered =
            orderedByVc1Type(session, index, vc1Types, vc1->lowDelay(), options, error, declined);
        if (!ordered)
            return std::nullopt;
        shown = std::move(*ordered);
    } else if (ordering == Ordering::MpegPictures) {
        shown = mpeg.finish();
    } else if (ordering == Ordering::Mpeg4Vops) {
        shown = mpeg4.finish();
    } else {
        for (int i = 0; i < index.packetCount(); ++i)
            shown.push_back(i);
    }
    if (shown.empty())
        return std::nullopt;
    for (const int packet : shown)
        index.addFrame(packet);
    index.finish(rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0);
    index.setDamaged(session.oneThread()); // the decoded stretch at its start was
    if (options.progress)
        options.progress(100);
    *declined = false;
    return index;
}

} // namespace framix
