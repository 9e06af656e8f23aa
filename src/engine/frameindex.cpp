#include "frameindex.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QIODevice>

#include <algorithm>
#include <cmath>

namespace framix {

namespace {
constexpr quint32 kMagic = 0x46525849; // "FRXI"
// 2: MPEG-4 Part 2 packets are keyframes only when they start with an I-VOP.
// 3: so are WMV9 and VC-1 packets only when they hold an I picture.
// 4: whether the decoder found damage, which has the file decoded with one thread.
constexpr quint32 kVersion = 4;

quint64 lookupKey(int size, quint32 checksum)
{
    return (quint64(quint32(size)) << 32) | checksum;
}
} // namespace

void FrameIndex::setTimeBase(int num, int den)
{
    m_timeBaseNum = num > 0 ? num : 1;
    m_timeBaseDen = den > 0 ? den : 1;
}

void FrameIndex::addFrame(int packet)
{
    const int n = int(m_frames.size());
    Frame f;
    if (packet >= 0 && packet < m_packets.size()) {
        Packet& p = m_packets[packet];
        if (p.display == -1) {
            p.display = n;
            f.packet = packet;
        } else if (p.display >= 0) {
            // The decoder gave two frames the same tag (packed B-frames can do this): the tag
            // tells neither apart, so both are reached by counting from a known neighbour.
            m_frames[p.display].packet = -1;
            p.display = -2;
        }
    }
    m_frames.push_back(f);
}

double FrameIndex::frameRate() const
{
    return m_frameRate;
}

namespace {

// Milliseconds as a whole number, kept within what any later sum of them can hold: a stream's
// timestamps (or a damaged index file's) can claim times no video has.
qint64 wholeMs(double ms)
{
    constexpr double kLimit = double(1ll << 60);
    return std::isfinite(ms) ? std::llround(std::clamp(ms, -kLimit, kLimit)) : 0;
}

} // namespace

std::vector<FrameIndex::Facts> FrameIndex::facts(double fallbackRate) const
{
    const int count = frameCount();
    const double num = m_timeBaseNum, den = m_timeBaseDen;
    double rate = m_frameRate > 0 ? m_frameRate : (fallbackRate > 0 ? fallbackRate : 25.0);
    if (!std::isfinite(rate) || rate < 1e-3 || rate > 1e6)
        rate = 25.0;
    std::vector<Facts> out(static_cast<size_t>(count));
    std::vector<char> known(size_t(count), 0);
    for (int n = 0; n < count; ++n) {
        const int p = m_frames[n].packet;
        if (p < 0)
            continue;
        out[size_t(n)].pts = m_packets[p].pts;
        if (m_packets[p].pts != kNoTimestamp && den > 0) {
            out[size_t(n)].timeMs = wholeMs(double(m_packets[p].pts) * num * 1000.0 / den);
            known[size_t(n)] = 1;
        }
    }
    for (const Packet& packet : m_packets)
        if (packet.key && packet.display >= 0 && packet.display < count)
            out[size_t(packet.display)].key = true;
    int last = -1;
    for (int n = 0; n < count; ++n) {
        if (known[size_t(n)]) {
            last = n;
            continue;
        }
        if (last >= 0)
            out[size_t(n)].timeMs =
                wholeMs(double(out[size_t(last)].timeMs) + (n - last) * 1000.0 / rate);
    }
    const auto firstKnown = std::find(known.begin(), known.end(), 1);
    if (firstKnown == known.end()) {
        for (int n = 0; n < count; ++n)
            out[size_t(n)].timeMs = m_frames[n].timeMs;
    } else {
        const int k = int(firstKnown - known.begin());
        for (int n = 0; n < k; ++n)
            out[size_t(n)].timeMs =
                wholeMs(double(out[size_t(k)].timeMs) - (k - n) * 1000.0 / rate);
    }
    return out;
}

void FrameIndex::finish(double nominalFrameRate)
{
    for (Packet& p : m_packets)
        if (p.display < -1)
            p.display = -1;

    m_starts.clear();
    m_starts.push_back(0);
    for (int i = 1; i < m_packets.size(); ++i)
        if (m_packets[i].key && m_packets[i].display >= 0)
            m_starts.push_back(i);

    // A keyframe K is a start for frame n when n's packet comes at or after K and n is not
    // shown before K's own picture: the pictures an open GOP shows before its keyframe refer
    // to the GOP before, so they must start one keyframe earlier.
    for (int n = 0; n < m_frames.size(); ++n) {
        Frame& f = m_frames[n];
        if (f.packet < 0) {
            f.startPacket = n > 0 ? m_frames[n - 1].startPacket : 0;
            continue;
        }
        auto it = std::upper_bound(m_starts.begin(), m_starts.end(), f.packet);
        int start = 0;
        while (it != m_starts.begin()) {
            --it;
            if (*it == 0 || m_packets[*it].display <= n) {
                start = *it;
                break;
            }
        }
        f.startPacket = start;
    }

    // Display times: the container's own when every frame has one and they rise strictly
    // (MP4, MKV, most MPEG); otherwise frame number over the nominal rate (AVI stores
    // decode-order counters, and MPEG packets may lack timestamps).
    bool usable = !m_frames.isEmpty();
    qint64 prev = kNoTimestamp;
    for (const Frame& f : std::as_const(m_frames)) {
        const qint64 pts = f.packet >= 0 ? m_packets[f.packet].pts : kNoTimestamp;
        if (pts == kNoTimestamp || (prev != kNoTimestamp && pts <= prev)) {
            usable = false;
            break;
        }
        prev = pts;
    }
    const double rate = nominalFrameRate > 0 ? nominalFrameRate : 25.0;
    if (usable) {
        const qint64 first = m_packets[m_frames.first().packet].pts;
        for (Frame& f : m_frames) {
            const double d = double(m_packets[f.packet].pts) - double(first);
            f.timeMs = wholeMs(d * m_timeBaseNum * 1000.0 / m_timeBaseDen);
        }
        const double spanMs = double(m_frames.last().timeMs);
        m_frameRate =
            m_frames.size() > 1 && spanMs > 0 ? (m_frames.size() - 1) * 1000.0 / spanMs : rate;
    } else {
        for (int n = 0; n < m_frames.size(); ++n)
            m_frames[n].timeMs = wholeMs(n * 1000.0 / rate);
        m_frameRate = rate;
    }
    rebuildLookup();
}

void FrameIndex::rebuildLookup()
{
    m_lookup.clear();
    m_lookup.reserve(m_packets.size());
    for (int i = 0; i < m_packets.size(); ++i)
        m_lookup.insert(lookupKey(m_packets[i].size, m_packets[i].checksum), i);
}

int FrameIndex::identifyPacket(qint64 pos, int size, quint32 checksum, int near) const
{
    int best = -1;
    bool bestPosMatch = false;
    auto range = m_lookup.equal_range(lookupKey(size, checksum));
    for (auto it = range.first; it != range.second; ++it) {
        const int i = it.value();
        const bool posMatch = pos >= 0 && m_packets[i].pos == pos;
        if (best < 0 || (posMatch && !bestPosMatch) ||
            (posMatch == bestPosMatch && std::abs(i - near) < std::abs(best - near))) {
            best = i;
            bestPosMatch = posMatch;
        }
    }
    return best;
}

int FrameIndex::earlierStart(int packet) const
{
    auto it = std::lower_bound(m_starts.begin(), m_starts.end(), packet);
    return it == m_starts.begin() ? 0 : *(it - 1);
}

QByteArray FrameIndex::serialize(const QByteArray& fileKey) const
{
    QByteArray out;
    {
        QDataStream s(&out, QIODevice::WriteOnly);
        s.setVersion(QDataStream::Qt_6_0);
        s << kMagic << kVersion << fileKey << qint32(m_timeBaseNum) << qint32(m_timeBaseDen)
          << m_frameRate << m_damaged << qint32(m_packets.size());
        for (const Packet& p : m_packets)
            s << p.pos << p.dts << p.pts << p.size << p.checksum << p.display << p.key;
        s << qint32(m_frames.size());
        for (const Frame& f : m_frames)
            s << f.packet << f.startPacket << f.timeMs;
        s << m_starts;
    }
    out += QCryptographicHash::hash(out, QCryptographicHash::Sha1);
    return out;
}

std::optional<FrameIndex> FrameIndex::deserialize(const QByteArray& data, const QByteArray& fileKey)
{
    constexpr int kHashSize = 20;
    if (data.size() < kHashSize)
        return std::nullopt;
    const QByteArray body = data.left(data.size() - kHashSize);
    if (QCryptographicHash::hash(body, QCryptographicHash::Sha1) != data.right(kHashSize))
        return std::nullopt;

    QDataStream s(body);
    s.setVersion(QDataStream::Qt_6_0);
    quint32 magic = 0, version = 0;
    QByteArray key;
    qint32 num = 0, den = 0, packets = 0, frames = 0;
    FrameIndex index;
    s >> magic >> version >> key >> num >> den >> index.m_frameRate >> index.m_damaged >> packets;
    if (s.status() != QDataStream::Ok || magic != kMagic || version != kVersion || key != fileKey ||
        packets < 0 || packets > body.size())
        return std::nullopt;
    index.setTimeBase(num, den);
    index.m_packets.resize(packets);
    for (Packet& p : index.m_packets)
        s >> p.pos >> p.dts >> p.pts >> p.size >> p.checksum >> p.display >> p.key;
    s >> frames;
    if (s.status() != QDataStream::Ok || frames < 0 || frames > packets)
        return std::nullopt;
    index.m_frames.resize(frames);
    for (Frame& f : index.m_frames)
        s >> f.packet >> f.startPacket >> f.timeMs;
    // Read by hand: a count as stored would be taken as it stands, however large.
    qint32 starts = 0;
    s >> starts;
    if (s.status() != QDataStream::Ok || starts < 0 || starts > qMax(packets, 1))
        return std::nullopt;
    index.m_starts.resize(starts);
    for (qint32& st : index.m_starts)
        s >> st;
    if (s.status() != QDataStream::Ok || !s.atEnd())
        return std::nullopt;
    // A checksum only proves the bytes are what was written; check the references too, so
    // that a file written by a faulty build cannot send us out of bounds.
    for (const Frame& f : std::as_const(index.m_frames))
        if (f.packet < -1 || f.packet >= packets || f.startPacket < 0 || f.startPacket >= packets)
            return std::nullopt;
    for (const Packet& p : std::as_const(index.m_packets))
        if (p.display < -1 || p.display >= frames)
            return std::nullopt;
    for (qint32 st : std::as_const(index.m_starts))
        if (st < 0 || st >= qMax(packets, 1))
            return std::nullopt;
    if (!std::is_sorted(index.m_starts.begin(), index.m_starts.end()))
        return std::nullopt;
    index.rebuildLookup();
    return index;
}

} // namespace framix
