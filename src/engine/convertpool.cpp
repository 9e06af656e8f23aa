#include "convertpool.h"

#include "frameconverter.h"

namespace framix {

ConvertPool::ConvertPool(int threads)
{
    if (threads <= 0)
        threads = int(std::max(1u, std::thread::hardware_concurrency()));
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { work(); });
}

ConvertPool::~ConvertPool()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads)
        t.join();
    // Jobs never started: their futures report a broken promise when their promises go.
}

std::shared_future<QImage> ConvertPool::submit(const VideoFrame& frame, Kind kind, bool tonemap)
{
    Job job{frame, kind, tonemap, {}};
    std::shared_future<QImage> result = job.result.get_future().share();
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
    return result;
}

void ConvertPool::work()
{
    FrameConverter converter; // conversion contexts are per thread
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
            if (m_stop)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        converter.setTonemap(job.tonemap);
        job.result.set_value(job.kind == Kind::Display ? converter.toDisplayImage(job.frame)
                                                       : converter.toBgrImage(job.frame));
    }
}

} // namespace framix
