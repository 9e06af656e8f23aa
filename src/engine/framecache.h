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
    static constexpr qint64 kDefaultLimit = 256LL * 1024 * 1024;

    explicit FrameCache(qint64 limitBytes = kDefaultLimit) : m_limit(limitBytes) {}

    void setLimit(qint64 bytes);
    qint64 limit() const { return m_limit; }
    qint64 bytes() const { return m_bytes; }
    int count() const { return int(m_entries.size()); }
    bool contains(int number) const { return m_entries.contains(number); }

    // The frame, marked as just used; nullopt when not cached.
    std::optional<VideoFrame> get(int number);
    // Adds or refreshes a frame, then drops least recently used ones until the cache fits
    // its limit again (never the one just added).
    void insert(const VideoFrame& frame);
    // Adds a frame met while moving forward (stepping, playing, a capture run). Only the
    // last kPassing of these stay: the next step back finds its frame, but a long run
    // forward does not fill the cache with frames nobody comes back to (holding them
    // would also keep the decoder allocating fresh picture memory for every frame).
    // A frame inserted with insert() as well is kept like any other.
    void insertPassing(const VideoFrame& frame);
    static constexpr int kPassing = 8;
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
    qint64 m_limit;
    qint64 m_bytes = 0;
    quint64 m_clock = 0;
};

} // namespace framix
