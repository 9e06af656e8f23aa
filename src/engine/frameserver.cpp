#include "frameserver.h"

#include "frameconverter.h"
#include "framememory.h"
#include "videosource.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace framix {

struct FrameServer::Private
{
    FrameServer* q = nullptr;
    std::thread worker;

    // Guarded by mutex: the requests the worker has not taken yet, and the playback stream.
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::optional<QString> openRequest;
    bool closeRequest = false;
    int frameRequest = -1;
    qint64 cacheLimit = -1;
    QString cacheDir;
    bool quit = false;
    QVector<qint64> times;
    int streamNext = -1; // next frame the stream decodes; -1 when no stream runs
    int streamGeneration = 0;
    int streamDeadline = -1;
    int streamDropped = 0;
    bool streamFinished = false;
    std::deque<StreamFrame> queue;
    // A blocking fetch: the caller waits on `fetched` until fetchDone.
    int fetchRequest = -1;
    bool fetchDone = false;
    std::optional<StreamFrame> fetchResult;
    EngineError fetchError;
    std::condition_variable fetched;

    std::atomic_bool cancelOpen{false};

    // Worker-thread only.
    VideoSource source;
    FrameConverter converter;
    // While the user steps through frames (or a capture walks through them), the next
    // frame in the same direction is decoded and converted in the pause between two
    // requests, so the request that asks for it is answered at once.
    enum class Use
    {
        Display, // Format_RGB32, for frameReady()
        Copy,    // Format_BGR888, for fetchFrame()
    };
    struct Prepared
    {
        int n = -1;
        Use use = Use::Display;
        VideoFrame frame;
        QImage image;
    };
    // Going forward (a held step key, a bulk capture) the worker runs a few frames ahead,
    // so decoding never waits for the caller; going backward the frames come from the
    // frame cache, and just the next one is prepared.
    static constexpr int kAhead = 3;
    std::deque<Prepared> prepared;
    int speculate = -1;
    Use speculateUse = Use::Display;
    int lastServed = -1;
    int step = 1;

    void forgetPrepared()
    {
        prepared.clear();
        speculate = lastServed = -1;
    }
    QImage convert(const VideoFrame& f, Use use)
    {
        return use == Use::Display ? converter.toDisplayImage(f) : converter.toBgrImage(f);
    }
    // Frame n converted for `use`, from the prepared ones when it is among them.
    std::optional<StreamFrame> serve(int n, Use use, EngineError* error)
    {
        std::optional<StreamFrame> out;
        while (!prepared.empty() && (prepared.front().n != n || prepared.front().use != use)) {
            const bool passed = prepared.front().use == use &&
                                (step > 0 ? prepared.front().n < n : prepared.front().n > n);
            if (!passed) {
                prepared.clear(); // not on the way to n: none of them will be asked for
                break;
            }
            prepared.pop_front();
        }
        if (!prepared.empty()) {
            out = StreamFrame{prepared.front().frame, prepared.front().image};
            prepared.pop_front();
        } else if (auto f = source.frame(n, error)) {
            QImage image = convert(*f, use);
            if (image.isNull())
                *error = EngineError{EngineError::Code::DecodeFailed,
                                     QStringLiteral("frame %1 cannot be converted").arg(n)};
            else
                out = StreamFrame{*f, std::move(image)};
        }
        if (!out) {
            forgetPrepared();
            return out;
        }
        step = lastServed >= 0 && n < lastServed ? -1 : 1;
        lastServed = n;
        speculateUse = use;
        const int ahead = prepared.empty() ? n : prepared.back().n;
        speculate = nextToPrepare(ahead);
        return out;
    }
    int nextToPrepare(int after) const
    {
        const int limit = step > 0 ? kAhead : 1;
        const int n = after + step;
        if (int(prepared.size()) >= limit || n < 0 || n >= source.frameCount())
            return -1;
        return n;
    }
    void prepareNext()
    {
        const int n = std::exchange(speculate, -1);
        if (n < 0 || !source.isOpen())
            return;
        if (auto f = source.frame(n, nullptr)) {
            QImage image = convert(*f, speculateUse);
            if (!image.isNull()) {
                prepared.push_back(Prepared{n, speculateUse, *f, std::move(image)});
                speculate = nextToPrepare(n);
            }
        }
    }

    void loop();
    void stopStreamLocked()
    {
        streamNext = -1;
        ++streamGeneration;
        queue.clear();
    }
    bool hasWork() const
    {
        return quit || openRequest || closeRequest || frameRequest >= 0 || fetchRequest >= 0 ||
               cacheLimit >= 0 || (streamNext >= 0 && int(queue.size()) < kStreamQueue);
    }
};

FrameServer::FrameServer(QObject* parent) : QObject(parent), d(std::make_unique<Private>())
{
    keepFrameMemoryForReuse();
    qRegisterMetaType<framix::MediaInfo>();
    qRegisterMetaType<framix::VideoFrame>();
    qRegisterMetaType<framix::EngineError>();
    d->q = this;
    d->worker = std::thread([this] { d->loop(); });
}

FrameServer::~FrameServer()
{
    {
        std::lock_guard lock(d->mutex);
        d->quit = true;
    }
    d->cancelOpen = true;
    d->wake.notify_all();
    d->worker.join();
}

void FrameServer::openFile(const QString& path)
{
    {
        std::lock_guard lock(d->mutex);
        d->openRequest = path;
        d->frameRequest = -1;
        d->stopStreamLocked();
    }
    d->cancelOpen = true; // an open in progress gives way to this one
    d->wake.notify_all();
}

void FrameServer::requestFrame(int n)
{
    {
        std::lock_guard lock(d->mutex);
        d->frameRequest = n;
    }
    d->wake.notify_all();
}

std::optional<FrameServer::StreamFrame> FrameServer::fetchFrame(int n, EngineError* error)
{
    std::unique_lock lock(d->mutex);
    d->stopStreamLocked();
    d->fetchRequest = n;
    d->fetchDone = false;
    d->wake.notify_all();
    d->fetched.wait(lock, [this] { return d->fetchDone; });
    d->fetchDone = false;
    if (!d->fetchResult && error)
        *error = d->fetchError;
    return std::exchange(d->fetchResult, std::nullopt);
}

void FrameServer::closeFile()
{
    {
        std::lock_guard lock(d->mutex);
        d->openRequest.reset();
        d->closeRequest = true;
        d->frameRequest = -1;
        d->stopStreamLocked();
        d->times.clear();
    }
    d->cancelOpen = true;
    d->wake.notify_all();
}

void FrameServer::setCacheLimit(qint64 bytes)
{
    {
        std::lock_guard lock(d->mutex);
        d->cacheLimit = bytes;
    }
    d->wake.notify_all();
}

void FrameServer::setIndexCacheDir(const QString& dir)
{
    std::lock_guard lock(d->mutex);
    d->cacheDir = dir;
}

QVector<qint64> FrameServer::frameTimesMs() const
{
    std::lock_guard lock(d->mutex);
    return d->times;
}

void FrameServer::startStream(int from)
{
    {
        std::lock_guard lock(d->mutex);
        d->stopStreamLocked();
        d->frameRequest = -1;
        d->streamNext = qMax(0, from);
        d->streamDeadline = -1;
        d->streamDropped = 0;
        d->streamFinished = false;
    }
    d->wake.notify_all();
}

void FrameServer::stopStream()
{
    std::lock_guard lock(d->mutex);
    d->stopStreamLocked();
}

void FrameServer::setStreamDeadline(int frame)
{
    std::lock_guard lock(d->mutex);
    d->streamDeadline = frame;
}

std::optional<FrameServer::StreamFrame> FrameServer::takeStreamFrame()
{
    std::optional<StreamFrame> out;
    {
        std::lock_guard lock(d->mutex);
        if (d->queue.empty())
            return out;
        out = std::move(d->queue.front());
        d->queue.pop_front();
    }
    d->wake.notify_all(); // room for the next frame
    return out;
}

int FrameServer::peekStreamFrame() const
{
    std::lock_guard lock(d->mutex);
    return d->queue.empty() ? -1 : d->queue.front().frame.number();
}

bool FrameServer::streamFinished() const
{
    std::lock_guard lock(d->mutex);
    return d->streamFinished;
}

int FrameServer::streamDropped() const
{
    std::lock_guard lock(d->mutex);
    return d->streamDropped;
}

void FrameServer::Private::loop()
{
    for (;;) {
        std::optional<QString> open;
        bool close = false;
        int frame = -1;
        qint64 limit = -1;
        QString dir;
        int streamFrame = -1;
        int generation = 0;
        {
            std::unique_lock lock(mutex);
            wake.wait(lock, [this] { return hasWork() || speculate >= 0; });
            if (quit) {
                // Never leave a fetching caller waiting.
                fetchResult.reset();
                fetchError = EngineError{EngineError::Code::Cancelled, QStringLiteral("closing")};
                fetchDone = true;
                fetched.notify_all();
                return;
            }
            if (fetchRequest >= 0 && !openRequest && !closeRequest) {
                const int n = std::exchange(fetchRequest, -1);
                lock.unlock();
                EngineError error;
                std::optional<StreamFrame> result =
                    source.isOpen() ? serve(n, Use::Copy, &error) : std::nullopt;
                if (!result && !error.isError())
                    error = EngineError{EngineError::Code::OutOfRange,
                                        QStringLiteral("no video is open")};
                lock.lock();
                fetchResult = std::move(result);
                fetchError = error;
                fetchDone = true;
                fetched.notify_all();
                continue;
            }
            open = std::exchange(openRequest, std::nullopt);
            close = std::exchange(closeRequest, false);
            limit = std::exchange(cacheLimit, -1);
            dir = cacheDir;
            if (!open)
                frame = std::exchange(frameRequest, -1);
            if (open || close || frame >= 0) {
                if (streamNext >= 0)
                    stopStreamLocked();
            } else if (streamNext >= 0 && int(queue.size()) < kStreamQueue) {
                if (source.isOpen() && streamNext < source.frameCount()) {
                    streamFrame = streamNext++;
                    generation = streamGeneration;
                } else {
                    streamNext = -1;
                    streamFinished = true;
                }
            }
            cancelOpen = false;
        }
        if (limit >= 0)
            source.setCacheLimit(limit);
        if (open || close || streamFrame >= 0)
            forgetPrepared();
        if (close)
            source.close();
        if (open) {
            VideoSource::Options options;
            options.indexCacheDir = dir;
            options.cancel = &cancelOpen;
            options.progress = [this](int percent) { emit q->indexProgress(percent); };
            EngineError error;
            const qint64 keepLimit = source.cacheLimit();
            if (source.open(*open, &error, options)) {
                source.setCacheLimit(keepLimit);
                QVector<qint64> t;
                t.reserve(source.frameCount());
                for (int i = 0; i < source.frameCount(); ++i)
                    t.append(source.index().frame(i).timeMs);
                {
                    std::lock_guard lock(mutex);
                    times = std::move(t);
                }
                emit q->opened(source.info());
            } else if (error.code != EngineError::Code::Cancelled) {
                emit q->errorOccurred(error);
            }
            continue;
        }
        if (frame >= 0 && source.isOpen()) {
            EngineError error;
            if (auto f = serve(frame, Use::Display, &error))
                emit q->frameReady(f->frame, f->image);
            else if (!cancelOpen) // not merely cut short by a close or another open
                emit q->errorOccurred(error);
            continue;
        }
        if (!open && !close && streamFrame < 0 && speculate >= 0) {
            prepareNext();
            continue;
        }
        if (streamFrame >= 0) {
            EngineError error;
            auto f = source.frame(streamFrame, &error);
            std::unique_lock lock(mutex);
            if (generation != streamGeneration)
                continue; // stopped or restarted while this frame was decoded
            if (!f) {
                streamNext = -1;
                streamFinished = true;
                lock.unlock();
                if (!cancelOpen)
                    emit q->errorOccurred(error);
                continue;
            }
            if (streamFrame < streamDeadline) {
                ++streamDropped;
                continue;
            }
            lock.unlock();
            QImage image = converter.toDisplayImage(*f);
            lock.lock();
            if (generation == streamGeneration)
                queue.push_back({*f, std::move(image)});
        }
    }
}

} // namespace framix
