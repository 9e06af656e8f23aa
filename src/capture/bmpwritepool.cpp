#include "bmpwritepool.h"

#include "bmpwriter.h"
#include "frameconverter.h"

namespace framix {

BmpWritePool::BmpWritePool(int threads, int queueLimit) : m_queueLimit(qMax(1, queueLimit))
{
    for (int i = 0; i < qMax(1, threads); ++i)
        m_threads.emplace_back([this] { work(); });
}

BmpWritePool::~BmpWritePool()
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

bool BmpWritePool::submit(const VideoFrame& frame, const QString& path)
{
    return enqueue(Job{frame, QImage(), path});
}

bool BmpWritePool::submit(const QImage& image, const QString& path)
{
    return enqueue(Job{VideoFrame(), image, path});
}

bool BmpWritePool::enqueue(Job job)
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

bool BmpWritePool::failure(EngineError* error) const
{
    std::lock_guard lock(m_mutex);
    if (!m_error.isError())
        return false;
    if (error)
        *error = m_error;
    return true;
}

bool BmpWritePool::finish(EngineError* error)
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

int BmpWritePool::written() const
{
    std::lock_guard lock(m_mutex);
    return m_written;
}

void BmpWritePool::work()
{
    FrameConverter converter;
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
        bool ok = false;
        const QImage image = job.image.isNull() ? converter.toBgrImage(job.frame) : job.image;
        if (image.isNull())
            error = EngineError{
                EngineError::Code::DecodeFailed,
                QStringLiteral("%1: the picture cannot be converted to RGB").arg(job.path)};
        else
            ok = BmpWriter::save(image, job.path, &error);
        finishJob(ok, error);
    }
}

void BmpWritePool::finishJob(bool ok, const EngineError& error)
{
    {
        std::lock_guard lock(m_mutex);
        --m_busy;
        if (ok)
            ++m_written;
        else if (!m_error.isError()) {
            m_error = error;
            m_queue.clear(); // nothing after the first failure
        }
    }
    m_changed.notify_all();
}

} // namespace framix
