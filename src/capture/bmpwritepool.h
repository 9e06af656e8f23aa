#pragma once

#include "engineerror.h"
#include "videoframe.h"

#include <QImage>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace framix {

// Worker threads that convert frames to BMP and write them, fed through a bounded queue:
// submit() blocks while the queue is full, so memory stays bounded however fast frames
// arrive. After the first failed write no more files are written and submit() returns false.
class BmpWritePool
{
public:
    explicit BmpWritePool(int threads, int queueLimit = 4);
    ~BmpWritePool();
    BmpWritePool(const BmpWritePool&) = delete;
    BmpWritePool& operator=(const BmpWritePool&) = delete;

    bool submit(const VideoFrame& frame, const QString& path);
    // The same for a picture already in RGB (written as a 24-bit bitmap).
    bool submit(const QImage& image, const QString& path);
    // The first failure so far, without waiting; false when there was none.
    bool failure(EngineError* error) const;
    // Waits until every submitted frame is written (or dropped after a failure).
    // Returns false with the first failure.
    bool finish(EngineError* error);
    int written() const;

private:
    void work();
    void finishJob(bool ok, const EngineError& error);

    // m_mutex guards everything below it.
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    struct Job
    {
        VideoFrame frame;
        QImage image;
        QString path;
    };
    bool enqueue(Job job);
    std::deque<Job> m_queue;
    int m_queueLimit;
    int m_busy = 0;
    int m_written = 0;
    bool m_stop = false;
    EngineError m_error;
    std::vector<std::thread> m_threads;
};

} // namespace framix
