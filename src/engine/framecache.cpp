#include "framecache.h"

namespace framix {

void FrameCache::setLimit(qint64 bytes)
{
    m_limit = qMax<qint64>(bytes, 0);
    evict(-1);
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
    while (int(m_passing.size()) > kPassing) {
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
