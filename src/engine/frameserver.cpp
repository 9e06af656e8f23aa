#include "frameserver.h"

#include "frameconverter.h"
#include "videosource.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace framix {

struct FrameServer::Private
{
    FrameServer* q = nullptr;
    std::thread worker;

    // Guarded by mutex: the requests the worker has not taken yet.
    std::mutex mutex;
    std::condition_variable wake;
    std::optional<QString> openRequest;
    bool closeRequest = false;
    int frameRequest = -1;
    qint64 cacheLimit = -1;
    QString cacheDir;
    bool quit = false;

    std::atomic_bool cancelOpen{false};

    // Worker-thread only.
    VideoSource source;
    FrameConverter converter;

    void loop();
};

FrameServer::FrameServer(QObject* parent) : QObject(parent), d(std::make_unique<Private>())
{
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

void FrameServer::closeFile()
{
    {
        std::lock_guard lock(d->mutex);
        d->openRequest.reset();
        d->closeRequest = true;
        d->frameRequest = -1;
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

void FrameServer::Private::loop()
{
    for (;;) {
        std::optional<QString> open;
        bool close = false;
        int frame = -1;
        qint64 limit = -1;
        QString dir;
        {
            std::unique_lock lock(mutex);
            wake.wait(lock, [this] {
                return quit || openRequest || closeRequest || frameRequest >= 0 || cacheLimit >= 0;
            });
            if (quit)
                return;
            open = std::exchange(openRequest, std::nullopt);
            close = std::exchange(closeRequest, false);
            limit = std::exchange(cacheLimit, -1);
            dir = cacheDir;
            if (!open)
                frame = std::exchange(frameRequest, -1);
            cancelOpen = false;
        }
        if (limit >= 0)
            source.setCacheLimit(limit);
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
                emit q->opened(source.info());
            } else if (error.code != EngineError::Code::Cancelled) {
                emit q->errorOccurred(error);
            }
            continue;
        }
        if (frame >= 0 && source.isOpen()) {
            EngineError error;
            if (auto f = source.frame(frame, &error))
                emit q->frameReady(*f, converter.toImage(*f));
            else
                emit q->errorOccurred(error);
        }
    }
}

} // namespace framix
