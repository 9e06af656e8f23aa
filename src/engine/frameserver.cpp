#include "frameserver.h"

#include "convertpool.h"
#include "enginelog.h"
#include "frameconverter.h"
#include "framememory.h"
#include "videosource.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
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
    SourceOptions openVideo; // how the file asked for is to be read
    bool closeRequest = false;
    int frameRequest = -1;
    std::optional<qint64> cacheLimit; // a new frame cache limit for the worker to apply
    QString cacheDir;
    bool quit = false;
    QVector<qint64> times;
    std::vector<FrameIndex::Facts> facts;
    int streamNext = -1; // next frame the stream decodes; -1 when no stream runs
    int streamGeneration = 0;
    int streamDeadline = -1;
    int streamDropped = 0;
    bool streamFinished = false;
    // Frames below this were already judged in this stream, before a change of tone mapping
    // had it go over them again: any of them found too late is not counted twice.
    int streamRecount = 0;
    std::deque<StreamFrame> queue;
    // The stream's frame being made (decoded, converted), of stream generation
    // streamFlightRun; -1 for none.
    int streamFlight = -1;
    int streamFlightRun = -1;
    // Whether pictures made from now on are tone-mapped, and deinterlaced.
    bool tonemap = false;
    bool deinterlace = false;
    // A blocking fetch: the caller waits on `fetched` until fetchDone.
    int fetchRequest = -1;
    bool fetchDone = false;
    std::condition_variable fetched;

    // Set, under the mutex, with every open or close request, so that an open in progress
    // gives way; cleared, under the mutex, when the worker takes the next request.
    std::atomic_bool cancelOpen{false};
    // Bumped by every open and close (owner's thread). The worker tags each answer with the
    // generation of the request it serves, and an answer whose generation is no longer the
    // owner's (for a file since closed or replaced) is dropped on arrival.
    int generation = 0;
    int requestGeneration = 0; // guarded by mutex: the generation of the newest request
    int workGeneration = 0;    // worker-thread only: the generation of the open file
    // The tone mapping setting as the owner last set it (owner's thread), and as the worker
    // makes pictures (worker-thread only, taken from `tonemap` with each unit of work).
    bool ownerTonemap = false;
    bool workTonemap = false;
    // The same for deinterlacing, which the worker's source does.
    bool ownerDeinterlace = false;
    bool workDeinterlace = false;

    // Runs `deliver` on the owner's thread unless the file it is about has gone meanwhile.
    template <typename F> void post(F deliver)
    {
        QMetaObject::invokeMethod(
            q,
            [this, g = workGeneration, deliver = std::move(deliver)] {
                if (g == generation)
                    deliver();
            },
            Qt::QueuedConnection);
    }
    // The same for a picture, which is also dropped when the tone mapping or deinterlacing
    // setting changed after the worker made it.
    template <typename F> void postPicture(F deliver)
    {
        post([this, tonemapped = workTonemap, deinterlaced = workDeinterlace,
              deliver = std::move(deliver)] {
            if (tonemapped == ownerTonemap && deinterlaced == ownerDeinterlace)
                deliver();
        });
    }
    // Under the mutex: the stream goes back to frame `from` and makes its pictures again
    // (a setting changed); what it queued is thrown away, and the frame being made, if
    // any, is dropped by the new stream generation.
    void restartStreamLocked(int from)
    {
        // Frames below this were judged already: one found too late is not counted twice.
        streamRecount = std::max(streamRecount, streamNext >= 0 ? streamNext : INT_MAX);
        streamNext = from;
        ++streamGeneration;
        queue.clear();
        streamFinished = false;
    }

    // The background check of an index made without decoding: a thread that makes the
    // decoder's index of the same file and hands it to the worker (checked, guarded by
    // mutex, with the generation of the file it is for).
    std::thread checker;
    std::atomic_bool cancelCheck{false};
    std::optional<FrameIndex> checked;
    int checkedGeneration = -1;
    // Time to let a user who opens and closes files in a row do so before the check
    // starts decoding the whole file.
    static constexpr int kCheckDelayMs = 1500;
    void startCheck(const QString& path, const SourceOptions& video);
    void stopCheck()
    {
        cancelCheck = true;
        if (checker.joinable())
            checker.join();
        std::lock_guard lock(mutex);
        checked.reset();
    }
    void takeCheck(FrameIndex decoded);
    // The frame times the owner reads, from the source's index.
    void publishTimes();
    // Emits indexChanged() when a decode found the index wrong and the source made it anew.
    void noticeReindex();
    int reindexed = 0; // worker-thread only: the source's count when last published

    // Worker-thread only.
    VideoSource source;
    FrameConverter converter; // playback stream pictures
    // While the user steps through frames (or a capture walks through them), the next
    // frames in the same direction are decoded in the pause between two requests, so the
    // request that asks for one is answered at once. Their conversion runs on the pool's
    // threads while the worker decodes the frame after.
    ConvertPool pool;
    using Use = ConvertPool::Kind;
    struct Prepared
    {
        int n = -1;
        Use use = Use::Display;
        VideoFrame frame;
        std::shared_future<QImage> image;
    };
    // Going forward (a held step key, a bulk capture) the worker runs a few frames ahead,
    // so decoding never waits for the caller; going backward the frames come from the
    // frame cache, and just the next one is prepared. Copies (a capture run) go further
    // ahead: every core has a conversion to work on while the next frame decodes.
    // Either way no more than kAheadBytes of pictures (decoded and converted) are held
    // ahead, but always one: a single 4K frame takes over 40 MB.
    static constexpr int kAhead = 3;
    static constexpr int kCopyAhead = 6;
    static constexpr qint64 kAheadBytes = 64LL * 1024 * 1024;
    // How far a request may be from the one before and still count as a step: held keys
    // skip the frames that could not be shown in time.
    static constexpr int kNearby = 8;
    std::deque<Prepared> prepared;
    // The answer to a blocking fetch; guarded by mutex.
    std::optional<Prepared> fetchResult;
    EngineError fetchError;
    int speculate = -1;
    Use speculateUse = Use::Display;
    int lastServed = -1;
    int step = 1;

    void forgetPrepared()
    {
        prepared.clear();
        speculate = lastServed = -1;
    }
    // Frame n for `use`, from the prepared ones when it is among them. The picture may
    // still be being converted.
    std::optional<Prepared> serve(int n, Use use, EngineError* error)
    {
        std::optional<Prepared> out;
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
            out = std::move(prepared.front());
            prepared.pop_front();
        } else if (auto f = source.frame(n, error)) {
            out = Prepared{n, use, *f, pool.submit(*f, use, workTonemap)};
        }
        if (!out) {
            forgetPrepared();
            return out;
        }
        // Only a step (or a few coalesced ones) says where the next request will be; after a
        // jump, frames decoded ahead would mostly be thrown away, and the next jump would
        // wait for them.
        const bool stepping = lastServed >= 0 && std::abs(n - lastServed) <= kNearby;
        step = lastServed >= 0 && n < lastServed ? -1 : 1;
        lastServed = n;
        speculateUse = use;
        const int ahead = prepared.empty() ? n : prepared.back().n;
        speculate = stepping ? nextToPrepare(ahead) : -1;
        return out;
    }
    // The served frame with its finished picture, or nothing (and the error) when the
    // picture could not be made.
    static std::optional<StreamFrame> finish(std::optional<Prepared> p, EngineError* error)
    {
        if (!p)
            return std::nullopt;
        QImage image = p->image.get();
        if (image.isNull()) {
            *error = EngineError{EngineError::Code::DecodeFailed,
                                 QStringLiteral("frame %1 cannot be converted").arg(p->n)};
            return std::nullopt;
        }
        return StreamFrame{p->frame, std::move(image)};
    }
    int nextToPrepare(int after) const
    {
        int limit = step < 0 ? 1 : speculateUse == Use::Copy ? kCopyAhead : kAhead;
        if (!prepared.empty()) {
            const VideoFrame& f = prepared.back().frame;
            const qint64 each = f.memoryBytes() + qint64(f.width()) * f.height() *
                                                      (speculateUse == Use::Copy ? 3 : 4);
            limit = picturesWithin(kAheadBytes, each, 1, limit);
        }
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
            prepared.push_back(
                Prepared{n, speculateUse, *f, pool.submit(*f, speculateUse, workTonemap)});
            speculate = nextToPrepare(n);
        }
    }

    // One unit of the worker's work, taken under the mutex by takeNext().
    struct Work
    {
        enum Kind
        {
            None,
            Quit,
            Fetch,
            Check,
            Open,
            Close,
            Frame,
            Stream,
            ReadAhead
        } kind = None;
        int n = -1;                        // Fetch, Frame, Stream: the frame
        QString path;                      // Open
        QString cacheDir;                  // Open
        SourceOptions source;              // Open
        int streamRun = 0;                 // Stream: the stream it belongs to
        std::optional<FrameIndex> decoded; // Check: the decoder's index
        bool current = false;              // Check: it is for the open file
        std::optional<qint64> cacheLimit;  // a new cache limit to apply first
    };
    // The next unit of work, waiting until there is one. In this order: quitting; a
    // blocking fetch (its caller waits), unless an open or close makes it moot; a finished
    // index check; an open or close; the newest frame request; the stream's next frame;
    // reading ahead of the user's steps.
    Work takeNext();
    void loop();
    void answerFetch(std::optional<Prepared> result, const EngineError& error);
    void handleFetch(int n);
    void handleOpen(const QString& path, const QString& cacheDir, const SourceOptions& video);
    void handleFrame(int n);
    void handleStream(int n, int run);
    void stopStreamLocked()
    {
        streamNext = -1;
        ++streamGeneration;
        queue.clear();
    }
    // Whether the stream's queue takes another frame (see startStream); under the mutex.
    bool queueHasRoom() const
    {
        const int queued = int(queue.size());
        if (queued < kLeastStreamQueue)
            return true;
        if (queued >= kStreamQueue)
            return false;
        qint64 bytes = 0;
        for (const StreamFrame& s : queue)
            bytes += s.image.sizeInBytes() + s.frame.memoryBytes();
        // The next frame is taken to be the size of the last.
        return bytes + bytes / queued <= kStreamQueueBytes;
    }
    bool hasWork() const
    {
        return quit || openRequest || closeRequest || frameRequest >= 0 || fetchRequest >= 0 ||
               checked || cacheLimit || (streamNext >= 0 && queueHasRoom());
    }
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
    d->stopCheck();
}

void FrameServer::openFile(const QString& path, const SourceOptions& video)
{
    d->ownerDeinterlace = video.deinterlace;
    {
        std::lock_guard lock(d->mutex);
        d->openRequest = path;
        d->openVideo = video;
        d->deinterlace = video.deinterlace;
        d->frameRequest = -1;
        d->stopStreamLocked();
        d->requestGeneration = ++d->generation;
        d->cancelOpen = true; // an open in progress gives way to this one
    }
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
    EngineError failure = d->fetchError;
    auto result = std::exchange(d->fetchResult, std::nullopt);
    lock.unlock();
    // The conversion finishes on the pool while the worker goes on decoding.
    auto out = Private::finish(std::move(result), &failure);
    if (!out && error)
        *error = failure;
    return out;
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
        d->facts.clear();
        d->requestGeneration = ++d->generation;
        d->cancelOpen = true;
    }
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

void FrameServer::setTonemap(bool on)
{
    d->ownerTonemap = on;
    {
        std::lock_guard lock(d->mutex);
        if (d->tonemap == on)
            return;
        d->tonemap = on;
        // The stream's queued pictures have the old setting: it goes back to the first of
        // them and makes them again. The frame being converted, if any, comes after them;
        // the new stream generation has it thrown away.
        if (!d->queue.empty())
            d->restartStreamLocked(d->queue.front().frame.number());
        // Frames read ahead for requests are forgotten by the worker when it next takes
        // work (takeNext), before it serves any.
    }
    d->wake.notify_all();
}

void FrameServer::setDeinterlace(bool on)
{
    d->ownerDeinterlace = on;
    {
        std::lock_guard lock(d->mutex);
        if (d->deinterlace == on)
            return;
        d->deinterlace = on;
        // Unlike tone mapping, this is the decoding's: the frame being decoded for the
        // stream has the old setting as well, and is decoded again.
        if (!d->queue.empty())
            d->restartStreamLocked(d->queue.front().frame.number());
        else if (d->streamNext >= 0)
            d->restartStreamLocked(d->streamFlight >= 0 && d->streamFlightRun == d->streamGeneration
                                       ? d->streamFlight
                                       : d->streamNext);
        // The source forgets the frames it cached, and frames read ahead for requests are
        // forgotten, when the worker next takes work (takeNext).
    }
    d->wake.notify_all();
}

QVector<qint64> FrameServer::frameTimesMs() const
{
    std::lock_guard lock(d->mutex);
    return d->times;
}

std::vector<FrameIndex::Facts> FrameServer::frameFacts() const
{
    std::lock_guard lock(d->mutex);
    return d->facts;
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
        d->streamRecount = 0;
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

FrameServer::Private::Work FrameServer::Private::takeNext()
{
    std::unique_lock lock(mutex);
    wake.wait(lock, [this] { return hasWork() || speculate >= 0; });
    if (workTonemap != tonemap) {
        workTonemap = tonemap;
        forgetPrepared(); // their pictures have the old setting
    }
    if (workDeinterlace != deinterlace) {
        workDeinterlace = deinterlace;
        forgetPrepared();
        source.setDeinterlace(deinterlace); // forgets its cached frames; no decoding
    }
    Work w;
    w.cacheLimit = std::exchange(cacheLimit, std::nullopt);
    if (quit) {
        w.kind = Work::Quit;
        return w;
    }
    const bool fileChanges = openRequest || closeRequest;
    if (fetchRequest >= 0 && !fileChanges) {
        w.kind = Work::Fetch;
        w.n = std::exchange(fetchRequest, -1);
        return w;
    }
    if (checked && !fileChanges) {
        w.kind = Work::Check;
        w.decoded = std::exchange(checked, std::nullopt);
        w.current = checkedGeneration == workGeneration;
        return w;
    }
    if (fileChanges) {
        if (streamNext >= 0)
            stopStreamLocked();
        workGeneration = requestGeneration;
        cancelOpen = false;
        closeRequest = false;
        w.kind = openRequest ? Work::Open : Work::Close;
        w.path = openRequest.value_or(QString());
        w.cacheDir = cacheDir;
        w.source = openVideo;
        w.source.deinterlace = deinterlace; // as the owner set it last
        openRequest.reset();
        return w;
    }
    if (frameRequest >= 0) {
        if (streamNext >= 0)
            stopStreamLocked();
        w.kind = Work::Frame;
        w.n = std::exchange(frameRequest, -1);
        return w;
    }
    if (streamNext >= 0 && queueHasRoom()) {
        if (source.isOpen() && streamNext < source.frameCount()) {
            w.kind = Work::Stream;
            w.n = streamFlight = streamNext++;
            streamFlightRun = streamGeneration;
            w.streamRun = streamGeneration;
        } else {
            streamNext = -1;
            streamFinished = true;
        }
        return w;
    }
    if (speculate >= 0)
        w.kind = Work::ReadAhead;
    return w;
}

void FrameServer::Private::loop()
{
    for (;;) {
        noticeReindex();
        Work w = takeNext();
        if (w.cacheLimit)
            source.setCacheLimit(*w.cacheLimit);
        switch (w.kind) {
        case Work::Quit:
            answerFetch(std::nullopt,
                        EngineError{EngineError::Code::Cancelled, QStringLiteral("closing")});
            return;
        case Work::Fetch:
            handleFetch(w.n);
            break;
        case Work::Check:
            if (w.current)
                takeCheck(std::move(*w.decoded));
            break;
        case Work::Open:
        case Work::Close:
            forgetPrepared();
            stopCheck();
            if (w.kind == Work::Open)
                handleOpen(w.path, w.cacheDir, w.source);
            else
                source.close();
            break;
        case Work::Frame:
            handleFrame(w.n);
            break;
        case Work::Stream:
            forgetPrepared();
            handleStream(w.n, w.streamRun);
            break;
        case Work::ReadAhead:
            prepareNext();
            break;
        case Work::None:
            break;
        }
    }
}

void FrameServer::Private::answerFetch(std::optional<Prepared> result, const EngineError& error)
{
    std::lock_guard lock(mutex);
    fetchResult = std::move(result);
    fetchError = error;
    fetchDone = true;
    fetched.notify_all();
}

void FrameServer::Private::handleFetch(int n)
{
    EngineError error;
    std::optional<Prepared> result = source.isOpen() ? serve(n, Use::Copy, &error) : std::nullopt;
    if (!result && !error.isError())
        error = EngineError{EngineError::Code::OutOfRange, QStringLiteral("no video is open")};
    answerFetch(std::move(result), error);
}

void FrameServer::Private::handleOpen(const QString& path, const QString& dir,
                                      const SourceOptions& video)
{
    VideoSource::Options options;
    options.indexCacheDir = dir;
    options.source = video;
    options.cancel = &cancelOpen;
    options.progress = [this](int percent) {
        post([this, percent] { emit q->indexProgress(percent); });
    };
    EngineError error;
    if (!source.open(path, &error, options)) {
        if (error.code != EngineError::Code::Cancelled)
            post([this, error] { emit q->errorOccurred(error); });
        return;
    }
    publishTimes();
    post([this, info = source.info()] { emit q->opened(info); });
    if (!source.indexChecked())
        startCheck(path, video);
}

void FrameServer::Private::handleFrame(int n)
{
    if (!source.isOpen())
        return;
    EngineError error;
    if (auto f = finish(serve(n, Use::Display, &error), &error))
        postPicture([this, f = std::move(*f)] { emit q->frameReady(f.frame, f.image); });
    else
        post([this, error] { emit q->errorOccurred(error); });
}

void FrameServer::Private::handleStream(int n, int run)
{
    EngineError error;
    auto f = source.frame(n, &error);
    std::unique_lock lock(mutex);
    if (run != streamGeneration)
        return; // stopped or restarted while this frame was decoded
    if (!f) {
        streamFlight = -1;
        streamNext = -1;
        streamFinished = true;
        lock.unlock();
        post([this, error] { emit q->errorOccurred(error); });
        return;
    }
    if (n < streamDeadline) {
        streamFlight = -1;
        // Decoded, since later pictures need it, but too late to show.
        if (n >= streamRecount)
            ++streamDropped;
        return;
    }
    // Converted again when the tone mapping setting changes meanwhile with no queued
    // pictures to go back to (setTonemap). Until its picture is queued, this frame is the
    // one a change of deinterlacing has the stream go back to (setDeinterlace).
    QImage image;
    bool tonemapped = false;
    do {
        tonemapped = tonemap;
        lock.unlock();
        converter.setTonemap(tonemapped);
        image = converter.toDisplayImage(*f);
        lock.lock();
    } while (run == streamGeneration && tonemapped != tonemap);
    streamFlight = -1;
    if (run == streamGeneration)
        queue.push_back({*f, std::move(image)});
}

void FrameServer::Private::startCheck(const QString& path, const SourceOptions& video)
{
    cancelCheck = false;
    checker = std::thread([this, path, video, g = workGeneration] {
        // Whatever the user does meanwhile comes first.
        setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 19);
        for (int waited = 0; waited < kCheckDelayMs && !cancelCheck; waited += 50)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (cancelCheck)
            return;
        EngineError error;
        auto decoded = VideoSource::indexByDecoding(path, &cancelCheck, &error, video);
        if (!decoded) {
            if (!cancelCheck)
                qCInfo(lcEngine) << "index check of" << path << "failed:" << error.message();
            return;
        }
        {
            std::lock_guard lock(mutex);
            checked = std::move(decoded);
            checkedGeneration = g;
        }
        wake.notify_all();
    });
}

void FrameServer::Private::takeCheck(FrameIndex decoded)
{
    if (!source.isOpen())
        return;
    forgetPrepared(); // pictures decoded ahead may carry numbers about to change
    if (source.checkIndex(std::move(decoded))) {
        post([this] { emit q->indexChecked(); });
        return;
    }
    publishTimes();
    post([this, info = source.info()] { emit q->indexChanged(info); });
}

void FrameServer::Private::publishTimes()
{
    QVector<qint64> t;
    t.reserve(source.frameCount());
    for (int i = 0; i < source.frameCount(); ++i)
        t.append(source.index().frame(i).timeMs);
    std::vector<FrameIndex::Facts> f = source.index().facts(source.info().frameRate);
    std::lock_guard lock(mutex);
    times = std::move(t);
    facts = std::move(f);
    reindexed = source.stats().reindexed;
}

void FrameServer::Private::noticeReindex()
{
    if (!source.isOpen() || source.stats().reindexed == reindexed)
        return;
    forgetPrepared();
    publishTimes();
    post([this, info = source.info()] { emit q->indexChanged(info); });
}

} // namespace framix
