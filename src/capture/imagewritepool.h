#pragma once

#include "engineerror.h"
#include "imagewriter.h"
#include "videoframe.h"

#include <QImage>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace framix {

// Worker threads that convert frames to pictures and write them as files (see ImageWriter),
// fed through a bounded queue: submit() blocks while the queue is full, so memory stays
// bounded however fast frames arrive. After the first failed write no more files are
// written and submit() returns false.
class ImageWritePool
{
public:
    explicit ImageWritePool(int threads, int queueLimit = 4, const ImageOptions& options = {});
    ~ImageWritePool();
    ImageWritePool(const ImageWritePool&) = delete;
    ImageWritePool& operator=(const ImageWritePool&) = delete;

    // `tag` is the caller's name for the job: writtenTags() lists those written.
    bool submit(const VideoFrame& frame, const QString& path, int tag = -1);
    // The same for a picture already in RGB.
    bool submit(const QImage& image, const QString& path, int tag = -1);
    // The first failure so far, without waiting; false when there was none.
    bool failure(EngineError* error) const;
    // Waits until every submitted frame is written (or dropped after a failure).
    // Returns false with the first failure.
    bool finish(EngineError* error);
    int written() const;
    // The tags of the jobs whose files were written, in the order they were written.
    std::vector<int> writtenTags() const;
    // The writers' counts added up.
    ImageWriter::Stats stats() const;

private:
    void work();
    void finishJob(bool ok, int tag, const EngineError& error, const ImageWriter::Stats& change);

    const ImageOptions m_options;
    // m_mutex guards everything below it.
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    struct Job
    {
        VideoFrame frame;
        QImage image;
        QString path;
        int tag = -1;
    };
    bool enqueue(Job job);
    std::deque<Job> m_queue;
    int m_queueLimit;
    int m_busy = 0;
    int m_written = 0;
    std::vector<int> m_writtenTags;
    ImageWriter::Stats m_stats;
    bool m_stop = false;
    EngineError m_error;
    std::vector<std::thread> m_threads;
};

} // namespace framix
