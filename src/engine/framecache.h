#pragma once

#include "videoframe.h"

#include <QHash>

#include <deque>

#include <optional>

namespace framix {

// Recently decoded frames by frame number, bounded by the memory their pictures hold.
// Least recently used frames go first. Not thread-safe: owned by one VideoSource.
class FrameCache
{
public:
    // The limit follows the size of the pictures (limitFor).
    static constexpr qint64 kAuto = -1;
    // The most an automatic limit gives, to pictures up to 1080p.
    static constexpr qint64 kDefaultLimit = 256LL * 1024 * 1024;

    explicit FrameCache(qint64 limitBytes = kAuto) { setLimit(limitBytes); }

    // A limit in bytes, or kAuto (any negative value).
    void setLimit(qint64 bytes);
    qint64 limit() const { return m_limit; }
    // The memory one picture of the open file takes, for the automatic limit; a frame
    // inserted that takes more raises it.
    void setPictureBytes(qint64 bytes);
    // The automatic limit for pictures of `pictureBytes` each: kDefaultLimit up to 1080p
    // (some 80 frames there, hundreds at standard definition, so a step back through a GOP
    // mostly finds its frames), then less as pictures grow (inversely with their size),
    // down to kLargeLimit (5 frames at 4K), which still lets steps back find several frames
    // but keeps large pictures from filling the memory; never fewer than kLeastFrames
    // (three 8K frames take 150 MB).
    static qint64 limitFor(qint64 pictureBytes);
    static constexpr qint64 kLargeLimit = 64LL * 1024 * 1024;
    static constexpr int kLeastFrames = 3;
    qint64 bytes() const { return m_bytes; }
    int count() const { return int(m_entries.size()); }
    bool contains(int number) const { return m_entries.contains(number); }

    // The frame, marked as just used; nullopt when not cached.
    std::optional<VideoFrame> get(int number);
    // Adds or refreshes a frame, then drops least recently used ones until the cache fits
    // its limit again (never the one just added).
    void insert(const VideoFrame& frame);
    // Adds a frame met while moving forward (stepping, playing, a capture run). Only the
    // last few of these stay (kPassing at most, as many as kPassingBytes holds, at least
    // kLeastPassing): the next step back finds its frame, but a long run forward does not
    // fill the cache with frames nobody comes back to (holding them would also keep the
    // decoder allocating fresh picture memory for every frame).
    // A frame inserted with insert() as well is kept like any other.
    void insertPassing(const VideoFrame& frame);
    static constexpr int kPassing = 8;
    static constexpr int kLeastPassing = 2;
    static constexpr qint64 kPassingBytes = 32LL * 1024 * 1024;
    void clear();

private:
    struct Entry
    {
        VideoFrame frame;
        qint64 bytes = 0;
        quint64 used = 0;
        bool passing = false;
    };
    void evict(int keep);

    QHash<int, Entry> m_entries;
    std::deque<int> m_passing; // insertPassing() order, oldest first
    qint64 m_setting = kAuto;
    qint64 m_limit = kDefaultLimit;
    qint64 m_pictureBytes = 0; // 0: not known yet
    qint64 m_bytes = 0;
    quint64 m_clock = 0;
};

} // namespace framix
