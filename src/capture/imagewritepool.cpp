#include "imagewritepool.h"

namespace framix {

ImageWritePool::ImageWritePool(int threads, int queueLimit, const ImageOptions& options)
    : m_options(options), m_queueLimit(qMax(1, queueLimit))
{
    for (int i = 0; i < qMax(1, threads); ++i)
        m_threads.emplace_back([this] { work(); });
}

ImageWritePool::~ImageWritePool()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_queue.clear();
    }
    m_changed.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

bool ImageWritePool::submit(const VideoFrame& frame, const QString& path, int tag)
{
    return enqueue(Job{frame, QImage(), path, tag});
}

bool ImageWritePool::submit(const QImage& image, const QString& path, int tag)
{
    return enqueue(Job{VideoFrame(), image, path, tag});
}

bool ImageWritePool::enqueue(Job job)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock,
                   [this] { return int(m_queue.size()) < m_queueLimit || m_error.isError(); });
    if (m_error.isError())
        return false;
    m_queue.push_back(std::move(job));
    m_changed.notify_all();
    return true;
}

bool ImageWritePool::failure(EngineError* error) const
{
    std::lock_guard lock(m_mutex);
    if (!m_error.isError())
        return false;
    if (error)
        *error = m_error;
    return true;
}

bool ImageWritePool::finish(EngineError* error)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queue.empty() && m_busy == 0; });
    if (m_error.isError()) {
        if (error)
            *error = m_error;
        return false;
    }
    return true;
}

int ImageWritePool::written() const
{
    std::lock_guard lock(m_mutex);
    return m_written;
}

std::vector<int> ImageWritePool::writtenTags() const
{
    std::lock_guard lock(m_mutex);
    return m_writtenTags;
}

ImageWriter::Stats ImageWritePool::stats() const
{
    std::lock_guard lock(m_mutex);
    return m_stats;
}

void ImageWritePool::work()
{
    ImageWriter writer(m_options);
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
            ++m_busy;
        }
        m_changed.notify_all();
        EngineError error;
        const ImageWriter::Stats before = writer.stats();
        const bool ok = job.image.isNull() ? writer.save(job.frame, job.path, &error)
                                           : writer.save(job.image, job.path, &error);
        ImageWriter::Stats change = writer.stats();
        change.tonemapped -= before.tonemapped;
        change.deep -= before.deep;
        finishJob(ok, job.tag, error, change);
    }
}

void ImageWritePool::finishJob(bool ok, int tag, const EngineError& error,
                               const ImageWriter::Stats& change)
{
    {
        std::lock_guard lock(m_mutex);
        --m_busy;
        if (ok) {
            ++m_written;
            m_writtenTags.push_back(tag);
            m_stats.tonemapped += change.tonemapped;
            m_stats.deep += change.deep;
        } else if (!m_error.isError()) {
            m_error = error;
            m_queue.clear(); // nothing after the first failure
        }
    }
    m_changed.notify_all();
}

} // namespace framix
