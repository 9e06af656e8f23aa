#pragma once

#include "videoframe.h"

#include <QImage>

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace framix {

// Converts decoded frames to pictures on worker threads of its own, each with its own
// converter, so that the thread that decodes never waits for a conversion: decoding the
// next frame and converting this one run on different cores. Jobs start in the order they
// are submitted; each has its own future.
class ConvertPool
{
public:
    enum class Kind
    {
        Display, // QImage::Format_RGB32 (FrameConverter::toDisplayImage)
        Copy,    // QImage::Format_BGR888 (FrameConverter::toBgrImage)
    };

    // threads <= 0: one per core.
    explicit ConvertPool(int threads = 0);
    ~ConvertPool();
    ConvertPool(const ConvertPool&) = delete;
    ConvertPool& operator=(const ConvertPool&) = delete;

    // The picture of `frame`, high dynamic range frames tone-mapped when `tonemap` (see
    // FrameConverter::setTonemap); a null image when it cannot be converted.
    std::shared_future<QImage> submit(const VideoFrame& frame, Kind kind, bool tonemap);

private:
    void work();

    struct Job
    {
        VideoFrame frame;
        Kind kind = Kind::Display;
        bool tonemap = false;
        std::promise<QImage> result;
    };
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};

} // namespace framix
