#include "framecache.h"

#include "framememory.h"

#include <algorithm>

namespace framix {

namespace {

// Pictures up to this size get the whole default limit: a 1080p picture as decoders store
// it (8-bit 4:2:0, rows and lines padded) takes just over 3 MB.
constexpr qint64 kFullHdBytes = 4LL * 1024 * 1024;

} // namespace

qint64 FrameCache::limitFor(qint64 pictureBytes)
{
    if (pictureBytes <= kFullHdBytes)
        return kDefaultLimit;
    // As many frames as kDefaultLimit holds at 1080p's size, in the memory left by pictures
    // that much larger: the same memory divided by the growth once more.
    const qint64 shrunk = kDefaultLimit * kFullHdBytes / pictureBytes;
    return std::max({shrunk, kLargeLimit, kLeastFrames * pictureBytes});
}

void FrameCache::setLimit(qint64 bytes)
{
    m_setting = bytes < 0 ? kAuto : bytes;
    m_limit = m_setting == kAuto ? limitFor(m_pictureBytes) : m_setting;
    evict(-1);
}

void FrameCache::setPictureBytes(qint64 bytes)
{
    m_pictureBytes = qMax<qint64>(bytes, 0);
    if (m_setting == kAuto)
        setLimit(kAuto);
}

std::optional<VideoFrame> FrameCache::get(int number)
{
    auto it = m_entries.find(number);
    if (it == m_entries.end())
        return std::nullopt;
    it->used = ++m_clock;
    return it->frame;
}

void FrameCache::insert(const VideoFrame& frame)
{
    if (frame.isNull())
        return;
    auto it = m_entries.find(frame.number());
    if (it != m_entries.end()) {
        it->used = ++m_clock;
        it->passing = false;
        return;
    }
    const qint64 size = frame.memoryBytes();
    if (size > m_pictureBytes)
        setPictureBytes(size);
    m_entries.insert(frame.number(), Entry{frame, size, ++m_clock});
    m_bytes += size;
    evict(frame.number());
}

void FrameCache::insertPassing(const VideoFrame& frame)
{
    if (frame.isNull())
        return;
    auto it = m_entries.find(frame.number());
    if (it != m_entries.end()) {
        it->used = ++m_clock;
        return;
    }
    insert(frame);
    it = m_entries.find(frame.number());
    if (it == m_entries.end())
        return;
    it->passing = true;
    m_passing.push_back(frame.number());
    const int keep = picturesWithin(kPassingBytes, it->bytes, kLeastPassing, kPassing);
    while (int(m_passing.size()) > keep) {
        auto old = m_entries.find(m_passing.front());
        m_passing.pop_front();
        if (old != m_entries.end() && old->passing) {
            m_bytes -= old->bytes;
            m_entries.erase(old);
        }
    }
}

void FrameCache::clear()
{
    m_entries.clear();
    m_passing.clear();
    m_bytes = 0;
}

void FrameCache::evict(int keep)
{
    // Linear scans: the cache holds at most a few hundred frames.
    while (m_bytes > m_limit && !m_entries.isEmpty()) {
        auto oldest = m_entries.end();
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
            if (it.key() != keep && (oldest == m_entries.end() || it->used < oldest->used))
                oldest = it;
        if (oldest == m_entries.end())
            return;
        m_bytes -= oldest->bytes;
        m_entries.erase(oldest);
    }
}

} // namespace framix
