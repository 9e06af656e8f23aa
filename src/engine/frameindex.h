#pragma once

#include <QByteArray>
#include <QMultiHash>
#include <QString>
#include <QVector>

#include <limits>

#include <optional>
#include <vector>

namespace framix {

// The frame index of one file's video stream.
//
// Frames are numbered 0..frameCount()-1 in display order, exactly as a decoder that reads
// the file from the start outputs them: the index is made by such a pass, so it agrees with
// the decoder by construction (B-frames, open GOPs, packets without timestamps, containers
// whose timestamps cannot be trusted). Packets are numbered in file (decode) order. Each
// frame records the packet it came from and the packet from which decoding must start to
// reach it exactly; the random-access source identifies packets after a seek by their
// size and checksum, so it always knows where it landed.
class FrameIndex
{
public:
    static constexpr qint64 kNoTimestamp = std::numeric_limits<qint64>::min();

    struct Packet
    {
        qint64 pos = -1;           // byte position in the file, -1 when unknown
        qint64 dts = kNoTimestamp; // container timestamps in the stream time base
        qint64 pts = kNoTimestamp;
        qint32 size = 0;
        quint32 checksum = 0; // Adler-32 of the payload
        qint32 display = -1;  // the frame this packet produced, -1 for none
        bool key = false;     // the container marks it as a keyframe
    };

    struct Frame
    {
        qint32 packet = -1;     // packet that produced it, -1 when that cannot be told
        qint32 startPacket = 0; // decoding from this packet reaches the frame exactly
        qint64 timeMs = 0;      // display time from the start of the stream
    };

    int frameCount() const { return int(m_frames.size()); }
    int packetCount() const { return int(m_packets.size()); }
    const Frame& frame(int n) const { return m_frames[n]; }
    const Packet& packet(int i) const { return m_packets[i]; }
    int timeBaseNum() const { return m_timeBaseNum; }
    int timeBaseDen() const { return m_timeBaseDen; }
    // Average display rate over the whole stream, frames per second (0 when unknown).
    double frameRate() const;
    // The decoder reported damage while indexing: where a picture is patched up depends on
    // the timing of frame threads, so this file is decoded with one thread, and numbered
    // as such a decode from the start numbers it.
    bool damaged() const { return m_damaged; }
    void setDamaged(bool damaged) { m_damaged = damaged; }

    // What a list of saved frames tells about each: its presentation time in ms (the
    // container's timestamp where the frame's packet has one, otherwise estimated from the
    // nearest frame that has one and the frame rate, or `fallbackRate` when the index has
    // none; MPEG streams leave many pictures without), its timestamp in the stream's time
    // base (kNoTimestamp when the container gives none) and whether decoding can start at
    // it (its packet is marked as a keyframe).
    struct Facts
    {
        qint64 timeMs = 0;
        qint64 pts = kNoTimestamp;
        bool key = false;
    };
    std::vector<Facts> facts(double fallbackRate) const;

    // The packet number of a packet read after a seek, or -1 when it matches none. Several
    // packets can carry the same bytes (a still scene coded as skipped frames); then the one
    // at the same byte position wins, then the one nearest `near`.
    int identifyPacket(qint64 pos, int size, quint32 checksum, int near) const;
    // The start packet nearest before `packet` from which decoding may start (0 = the
    // beginning of the file), for backing off when a start point fails.
    int earlierStart(int packet) const;

    // The cache file format. `fileKey` names the media file's identity (path, size, time);
    // a stored index whose key differs, or whose checksum fails, is rejected.
    QByteArray serialize(const QByteArray& fileKey) const;
    static std::optional<FrameIndex> deserialize(const QByteArray& data, const QByteArray& fileKey);

    // Filled by the builder.
    void setTimeBase(int num, int den);
    void addPacket(const Packet& p) { m_packets.push_back(p); }
    // Records that the decoder output a frame carrying `packet`'s tag (-1 when it carried
    // none we know).
    void addFrame(int packet);
    // Derives per-frame start packets and display times once all frames are in.
    void finish(double nominalFrameRate);

private:
    int m_timeBaseNum = 1;
    int m_timeBaseDen = 1;
    double m_frameRate = 0;
    bool m_damaged = false;
    QVector<Packet> m_packets;
    QVector<Frame> m_frames;
    QVector<qint32> m_starts;             // sorted packet numbers usable as start points
    QMultiHash<quint64, qint32> m_lookup; // (size, checksum) -> packet; rebuilt on load
    void rebuildLookup();
};

} // namespace framix
