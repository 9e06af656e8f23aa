#include "videosource.h"

#include "atomicfile.h"
#include "decodesession_p.h"
#include "deinterlacer_p.h"
#include "enginelog.h"
#include "framecache.h"
#include "indexbuilder_p.h"
#include "videoframe_p.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace framix {

namespace {

// How far ahead (in frames) a request may be and still be reached by decoding on from where
// the decoder is, even when a keyframe lies between: stepping and playing never seek.
constexpr int kForwardSlack = 48;
// Packets read after a seek without recognising any before we call the seek lost.
constexpr int kMaxUnidentified = 4000;
// Start points tried for one request before going back to the very beginning of the file.
constexpr int kMaxBackoffs = 2;

QByteArray fileKey(const QString& path)
{
    const QFileInfo fi(path);
    // Path, size and time, and a digest of the file's first, middle and last 64 KB: a file
    // rewritten with the same size and time (copied with its times kept, or edited in place
    // by a tag editor) is indexed again. Edits elsewhere are caught by the packet checks of
    // every decode, which then index the file again too.
    QCryptographicHash digest(QCryptographicHash::Sha1);
    QFile f(path);
    if (fi.isFile() && f.open(QIODevice::ReadOnly)) {
        constexpr qint64 kBlock = 64 * 1024;
        for (const qint64 at : {qint64(0), fi.size() / 2, qMax<qint64>(0, fi.size() - kBlock)}) {
            if (f.seek(at))
                digest.addData(f.read(kBlock));
        }
    }
    return fi.canonicalFilePath().toUtf8() + '\n' + QByteArray::number(fi.size()) + '\n' +
           QByteArray::number(fi.lastModified().toMSecsSinceEpoch()) + '\n' +
           digest.result().toHex();
}

// A cache file worth reading: a regular file (not a device, a FIFO, or a link to one) of a
// size an index can have.
bool readableCacheFile(const QString& file)
{
    constexpr qint64 kMaxIndexBytes = 512ll << 20;
    const QFileInfo fi(file);
    return fi.isFile() && fi.size() > 0 && fi.size() <= kMaxIndexBytes;
}

// The rate most frames follow each other at: the median of the times ten frames take (ten,
// so that times in whole milliseconds still give it to a tenth of a millisecond); 0 for a
// stream too short to tell.
double typicalFrameRate(const FrameIndex& index)
{
    constexpr int kSpan = 10;
    std::vector<qint64> spans;
    for (int n = kSpan; n < index.frameCount(); ++n)
        spans.push_back(index.frame(n).timeMs - index.frame(n - kSpan).timeMs);
    if (spans.empty())
        return 0;
    auto middle = spans.begin() + spans.size() / 2;
    std::nth_element(spans.begin(), middle, spans.end());
    return *middle > 0 ? kSpan * 1000.0 / double(*middle) : 0;
}

} // namespace

struct VideoSource::Private
{
    DecodeSession session;
    FrameIndex index;
    MediaInfo info;
    FrameCache cache;
    qint64 cacheSetting = FrameCache::kAuto; // as set by setCacheLimit
    Stats stats;
    bool open = false;
    // The index came from timestamps: every decode checks it, and a disagreement has the
    // index made again by decoding.
    bool verified = true;
    bool disagreed = false;
    // The index's order comes from a model of the decoder (see scanModelsOrder): until it
    // is checked, the first decode from each start keyframe begins a GOP early and keeps
    // the keyframe's leading pictures, so the decoder counts the pictures around it.
    bool confirmGops = false;
    QSet<int> confirmedStarts; // start packets whose GOP before has been decoded so
    // The picture of the last keyframe fed in this run: with a modelled index, the pictures
    // after it in the file that are shown before it (an open GOP's leading pictures, which
    // the model may count wrong) are decoded even when nothing refers to them.
    int keyShown = -1;
    bool cacheDoubted = false; // the cached index failed once and was made again
    QSet<int> skippedFrames;   // sent in this run with leave to skip them
    Options options;
    QString path;
    QByteArray key;       // the file's identity when it was opened, for the index cache
    int otherStream = -1; // the stream read, when it is not the default one

    ff::PacketPtr pkt = ff::makePacket();
    ff::FramePtr frm = ff::makeFrame();
    ff::FramePtr deinterlaced = ff::makeFrame();

    // The current decoding run: packets fed continuously from packet `startPacket` on.
    bool active = false;
    bool pending = false; // pkt holds packet `nextPacket`, read but not yet fed
    bool drained = false; // the end of the file was reached and the decoder drained
    int startPacket = 0;
    int nextPacket = 0; // number of the next packet to feed
    int lastOut = -1;   // last frame the run output, -1 for none yet
    bool skippedSinceOut = false;
    int lastRequest = -1;
    // With deinterlacing: the pictures of the run go through this filter, and whether the
    // run decoded a picture flagged interlaced before the first one it fed to it.
    Deinterlacer deinterlacer;
    bool interlacedSeen = false;

    bool seekTo(int k);
    bool rewind();
    bool reindex();
    void adopt(FrameIndex rebuilt);
    void saveIndex();
    void resetRun();
    std::optional<VideoFrame> run(int n, int windowStart, bool allowSkip);
    // Handles one decoder output; true when it was frame n. *missed when it shows n was passed.
    bool takeOutput(int n, int windowStart, std::optional<VideoFrame>* result, bool* missed);
    // Makes decoded (or deinterlaced) picture `shown` ready, caches it when the request
    // for n in a window from windowStart wants it; true when it is n (then in *result).
    bool deliver(AVFrame* f, int shown, int n, int windowStart, std::optional<VideoFrame>* result);
    bool deinterlacing() const { return options.source.deinterlace; }
    // The first picture the run must decode for a window from windowStart: with
    // deinterlacing, the one before it too, whose fields the window's first picture is
    // made with.
    int firstNeeded(int windowStart) const
    {
        return deinterlacing() ? qMax(0, windowStart - 1) : windowStart;
    }
    // The lowest frame the current run can still hand out.
    int nextReachable() const;
    // For an index made from timestamps: whether the decoder's next picture being `shown`
    // is what the index predicts. Pictures come in rising order, and the only ones that may
    // be missing are those left out on purpose (skipped) or that this run cannot reach.
    bool agreesWithIndex(int shown) const;
    int windowFrames() const;
    // After frame n came from an unchecked index with frame threads: decodes on until the
    // pictures decoded before n that are shown after it are out too, so damage in one that
    // n refers to is seen before n is handed out (it marks the run as disagreeing). The
    // pictures on the way are kept for the steps that follow.
    void lookPast(int n);
    bool lookingPast = false; // the pictures delivered are frames on the way forward
    // The decoder found damage in a picture this run reaches exactly while frame threads
    // decode (or refused its packet): the file is indexed again with one thread. Pictures
    // shown before the file's first keyframe refer to what is not in the file and come out
    // patched in any decode; they do not count, as they do not when the file is indexed.
    bool damageCounts(int shown) const
    {
        if (session.oneThread() || shown < 0 || index.frame(shown).startPacket < startPacket)
            return false;
        for (int i = 0; i < index.packetCount(); ++i)
            if (index.packet(i).key)
                return index.packet(i).display >= 0 && shown >= index.packet(i).display;
        return false;
    }
};

VideoSource::VideoSource() : d(std::make_unique<Private>()) {}
VideoSource::~VideoSource() = default;

QString VideoSource::defaultIndexCacheDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/framix/index");
}

QString VideoSource::indexCacheFile(const QString& mediaPath, const QString& cacheDir,
                                    int otherStream)
{
    const QString dir = cacheDir.isEmpty() ? defaultIndexCacheDir() : cacheDir;
    QByteArray name = QFileInfo(mediaPath).canonicalFilePath().toUtf8();
    if (otherStream >= 0)
        name += "#stream" + QByteArray::number(otherStream);
    return dir + QLatin1Char('/') +
           QString::fromLatin1(QCryptographicHash::hash(name, QCryptographicHash::Sha1).toHex()) +
           QStringLiteral(".idx");
}

bool VideoSource::open(const QString& path, EngineError* error, const Options& options)
{
    close();
    if (!d->session.open(path, error, options.cancel, options.source))
        return false;
    d->info = d->session.probeInfo();
    // The cache's automatic limit, from the pictures as decoders store them (8-bit 4:2:0 at
    // least; frames that take more raise it as they come).
    d->cache.setPictureBytes(qint64(d->info.width) * d->info.height * 3 / 2);
    if (!d->session.hasVideo()) {
        // Sound only: nothing to index; the length comes from the duration.
        d->open = true;
        return true;
    }

    // Another stream than the default one has an index of its own.
    const int stream = d->session.videoStream()->index;
    d->otherStream = stream == d->session.defaultVideoStream() ? -1 : stream;
    QByteArray key = fileKey(path);
    if (d->otherStream >= 0)
        key += "\nstream " + QByteArray::number(stream);
    const QString cacheFile = indexCacheFile(path, options.indexCacheDir, d->otherStream);
    std::optional<FrameIndex> index;
    if (options.useIndexCache && readableCacheFile(cacheFile)) {
        QFile f(cacheFile);
        if (f.open(QIODevice::ReadOnly)) {
            index = FrameIndex::deserialize(f.readAll(), key);
            if (!index)
                qCInfo(lcEngine) << "stale or damaged index cache, rebuilding:" << cacheFile;
        }
    }
    d->stats.indexFromCache = bool(index);
    if (!index && options.fastIndex) {
        bool declined = true;
        index = scanIndex(d->session, options, error, &declined);
        if (!index && !declined)
            return false;
        if (index) {
            d->verified = false;
            d->stats.indexFromScan = true;
            d->confirmGops = scanModelsOrder(d->session.format(), d->session.videoStream());
        } else if (!d->session.reopenContainer(error)) {
            return false;
        }
    }
    d->options = options;
    d->path = path;
    d->key = key;
    if (!index) {
        index = buildIndex(d->session, options, error);
        if (!index)
            return false;
        d->index = std::move(*index);
        d->saveIndex();
    } else {
        d->index = std::move(*index);
    }
    if (d->index.damaged() && !d->session.useOneThread(error))
        return false;
    d->info.frameCount = d->index.frameCount();
    // The stream's own rate where the frames keep to it (30/1, not the 29.999 that frame
    // times in whole milliseconds give), also where a few are missing (a broadcast capture
    // that starts and ends in the middle of a GOP, whose decoder drops a picture or two):
    // most frames then still follow each other at the stream's rate. The rate the frames
    // show where they do not.
    const double counted = d->index.frameRate();
    const double typical = typicalFrameRate(d->index);
    const auto near = [](double a, double b) { return b > 0 && std::abs(a - b) <= b * 0.01; };
    if (counted > 0 && !(d->info.frameRate > 0 &&
                         (near(d->info.frameRate, counted) || near(d->info.frameRate, typical))))
        d->info.frameRate = counted;
    if (d->info.durationMs <= 0 && d->info.frameRate > 0)
        d->info.durationMs = d->index.frame(d->index.frameCount() - 1).timeMs +
                             std::llround(1000 / d->info.frameRate);
    d->resetRun();
    d->open = true;
    return true;
}

bool VideoSource::Private::reindex()
{
    qCWarning(lcEngine).noquote() << "the decoder does not agree with the index of" << path
                                  << "- indexing it again by decoding";
    ++stats.reindexed;
    disagreed = false;
    resetRun();
    EngineError error;
    if (!session.reopenContainer(&error))
        return false;
    Options o = options;
    o.progress = nullptr;
    auto rebuilt = buildIndex(session, o, &error);
    resetRun();
    if (!rebuilt)
        return false;
    adopt(std::move(*rebuilt));
    return true;
}

void VideoSource::Private::adopt(FrameIndex rebuilt)
{
    index = std::move(rebuilt);
    verified = true;
    if (index.damaged()) {
        EngineError error;
        session.useOneThread(&error);
    }
    cache.clear();
    resetRun();
    info.frameCount = index.frameCount();
    saveIndex();
}

void VideoSource::Private::saveIndex()
{
    if (!options.useIndexCache)
        return;
    const QString cacheFile = indexCacheFile(path, options.indexCacheDir, otherStream);
    QDir().mkpath(QFileInfo(cacheFile).absolutePath());
    EngineError error;
    if (!writeFileAtomically(cacheFile, index.serialize(key), &error))
        qCInfo(lcEngine) << "index cache not written:" << error.message();
}

bool VideoSource::indexChecked() const
{
    return d->verified;
}

bool VideoSource::checkIndex(FrameIndex decoded)
{
    if (!d->open || d->verified)
        return true;
    const FrameIndex& mine = d->index;
    bool same =
        mine.frameCount() == decoded.frameCount() && mine.packetCount() == decoded.packetCount();
    for (int n = 0; same && n < mine.frameCount(); ++n)
        same = mine.frame(n).packet == decoded.frame(n).packet;
    if (same) {
        d->verified = true;
        d->saveIndex();
        return true;
    }
    qCWarning(lcEngine).noquote() << "the decoder does not agree with the index of" << d->path
                                  << "- using the decoder's";
    ++d->stats.reindexed;
    d->disagreed = false;
    d->adopt(std::move(decoded));
    return false;
}

std::optional<FrameIndex> VideoSource::indexByDecoding(const QString& path,
                                                       const std::atomic_bool* cancel,
                                                       EngineError* error,
                                                       const SourceOptions& source)
{
    DecodeSession session;
    if (!session.open(path, error, cancel, source))
        return std::nullopt;
    if (!session.hasVideo()) {
        fail(error, EngineError::Code::NoStreams, path);
        return std::nullopt;
    }
    Options options;
    options.cancel = cancel;
    return buildIndex(session, options, error);
}

void VideoSource::close()
{
    const qint64 limit = d->cacheSetting;
    d = std::make_unique<Private>();
    d->cacheSetting = limit;
    d->cache.setLimit(limit);
}

bool VideoSource::isOpen() const
{
    return d->open;
}

const MediaInfo& VideoSource::info() const
{
    return d->info;
}

const FrameIndex& VideoSource::index() const
{
    return d->index;
}

int VideoSource::frameCount() const
{
    return d->index.frameCount();
}

void VideoSource::setDeinterlace(bool on)
{
    if (d->options.source.deinterlace == on)
        return;
    d->options.source.deinterlace = on;
    d->cache.clear();
    d->resetRun();
}

bool VideoSource::deinterlace() const
{
    return d->options.source.deinterlace;
}

void VideoSource::setCacheLimit(qint64 bytes)
{
    d->cacheSetting = bytes < 0 ? FrameCache::kAuto : bytes;
    d->cache.setLimit(d->cacheSetting);
}

qint64 VideoSource::cacheLimit() const
{
    return d->cache.limit();
}

qint64 VideoSource::cacheBytes() const
{
    return d->cache.bytes();
}

const VideoSource::Stats& VideoSource::stats() const
{
    return d->stats;
}

void VideoSource::resetStats()
{
    const bool fromCache = d->stats.indexFromCache;
    d->stats = Stats{};
    d->stats.indexFromCache = fromCache;
}

std::optional<VideoFrame> VideoSource::fetch(int n, EngineError* error)
{
    if (!d->open || !d->session.hasVideo()) {
        fail(error, EngineError::Code::OutOfRange, QStringLiteral("no video is open"));
        return std::nullopt;
    }
    if (n < 0 || n >= d->index.frameCount()) {
        fail(error, EngineError::Code::OutOfRange,
             QStringLiteral("frame %1 of %2").arg(n).arg(d->index.frameCount()));
        return std::nullopt;
    }
    if (auto hit = d->cache.get(n)) {
        ++d->stats.cacheHits;
        d->lastRequest = n;
        return hit;
    }

    // Going backwards: decode a window of frames that ends at n, so the steps that follow
    // find their frames in the cache. The window stays within n's own GOP: reaching further
    // back would mean decoding the whole previous GOP as well, which the step that gets
    // there does more cheaply from that GOP's own keyframe.
    const bool backward = d->lastRequest >= 0 && n < d->lastRequest;
    d->lastRequest = n;
    // The start packet's own picture is usually the first its GOP shows; not so for the very
    // first packet of a stream cut in the middle of a GOP, whose picture may come later.
    const int gopStart = qBound(0, d->index.packet(d->index.frame(n).startPacket).display, n);
    const int windowStart = backward ? qMax(gopStart, n - d->windowFrames() + 1) : n;
    // A deinterlaced picture is made with the pictures before and after it: they are
    // decoded as well, from a start point that gives them exactly.
    const int lastNeeded = d->deinterlacing() ? qMin(n + 1, d->index.frameCount() - 1) : n;
    int k = d->index.frame(n).startPacket;
    for (int m = d->firstNeeded(windowStart); m <= lastNeeded; ++m)
        k = qMin(k, d->index.frame(m).startPacket);
    const int ownStart = k;
    if (!d->verified && d->confirmGops && k > 0 && !d->confirmedStarts.contains(k))
        k = d->index.earlierStart(k);

    const FrameIndex::Frame& target = d->index.frame(n);
    // A drained decoder (the end of the file was reached) still holds the last frames.
    const int reachable = d->nextReachable();
    const bool ahead = d->active && reachable >= 0 && n >= reachable && windowStart >= reachable &&
                       target.startPacket >= d->startPacket &&
                       (!d->deinterlacing() || k >= d->startPacket) &&
                       (target.startPacket < d->nextPacket || n - d->lastOut <= kForwardSlack);
    if (ahead) {
        if (auto f = d->run(n, windowStart, true))
            return f;
        if (d->disagreed)
            return std::nullopt;
    }

    bool allowSkip = true;
    for (int attempt = 0;; ++attempt) {
        if (d->seekTo(k)) {
            if (auto f = d->run(n, windowStart, allowSkip)) {
                if (k < ownStart)
                    d->confirmedStarts.insert(ownStart);
                return f;
            }
            if (d->disagreed)
                return std::nullopt;
        }
        if (k == 0)
            break;
        ++d->stats.backoffs;
        qCInfo(lcEngine) << "start packet" << k << "did not reach frame" << n << ", backing off";
        allowSkip = false;
        // Where the start failed over a patched picture, the decoder must not keep what it
        // patched it from.
        EngineError reopenError;
        if (!d->session.reopenDecoder(&reopenError))
            qCWarning(lcEngine) << "cannot open the decoder again:" << reopenError.message();
        k = attempt >= kMaxBackoffs ? 0 : d->index.earlierStart(k);
    }
    d->resetRun();
    fail(error, EngineError::Code::DecodeFailed, QStringLiteral("frame %1").arg(n));
    return std::nullopt;
}

std::optional<VideoFrame> VideoSource::frame(int n, EngineError* error)
{
    auto f = fetch(n, error);
    if (f && !d->verified && !d->session.oneThread()) {
        d->lookPast(n);
        if (d->disagreed)
            f.reset();
    }
    if (!f && d->verified && d->stats.indexFromCache && !d->cacheDoubted && d->open &&
        d->session.hasVideo() && n >= 0 && n < d->index.frameCount()) {
        // The file no longer reads as the cached index says (changed without its size,
        // time or sampled bytes changing): index it again rather than fail from now on.
        d->cacheDoubted = true;
        d->disagreed = true;
    }
    if (d->disagreed) {
        // The numbers the timestamps gave are not the decoder's: never serve them.
        if (!d->reindex()) {
            fail(error, EngineError::Code::DecodeFailed, QStringLiteral("frame %1").arg(n));
            return std::nullopt;
        }
        if (n >= d->index.frameCount()) {
            fail(error, EngineError::Code::OutOfRange,
                 QStringLiteral("frame %1 of %2").arg(n).arg(d->index.frameCount()));
            return std::nullopt;
        }
        f = fetch(n, error);
    }
    return f;
}

void VideoSource::Private::lookPast(int n)
{
    const AVCodecContext* dec = session.decoder();
    const int last = qMin(n + qMax(1, dec->has_b_frames + 1), index.frameCount() - 1);
    if (!active || lastOut != n || last <= n || cache.get(last))
        return;
    lookingPast = true;
    run(last, n + 1, false);
    lookingPast = false;
}

int VideoSource::Private::windowFrames() const
{
    const qint64 perFrame = qMax<qint64>(qint64(info.width) * info.height * 3 / 2, 4096);
    return int(qBound(qint64(1), cache.limit() * 3 / 4 / perFrame, qint64(512)));
}

int VideoSource::Private::nextReachable() const
{
    if (!deinterlacing())
        return lastOut + 1;
    // A deinterlaced picture comes out once the picture after it is decoded.
    if (deinterlacer.last() >= 0 && deinterlacer.last() == lastOut)
        return deinterlacer.finished() ? -1 : deinterlacer.nextOut();
    // Nothing fed yet: the next picture decoded starts the filter's run, and only the one
    // after it has a picture before it (but for the first picture of the file).
    return lastOut < 0 ? 0 : lastOut + 2;
}

void VideoSource::Private::resetRun()
{
    if (AVCodecContext* dec = session.decoder())
        avcodec_flush_buffers(dec);
    if (pending)
        av_packet_unref(pkt.get());
    deinterlacer.reset();
    interlacedSeen = false;
    active = pending = drained = skippedSinceOut = false;
    skippedFrames.clear();
    startPacket = nextPacket = 0;
    lastOut = -1;
    keyShown = -1;
}

bool VideoSource::Private::rewind()
{
    resetRun();
    ++stats.seeks;
    EngineError error;
    if (!session.reopenContainer(&error)) {
        qCWarning(lcEngine) << "cannot reopen" << info.path << error.message();
        return false;
    }
    active = true;
    return true;
}

bool VideoSource::Private::seekTo(int k)
{
    if (k <= 0)
        return rewind();
    resetRun();
    ++stats.seeks;
    AVFormatContext* fmt = session.format();
    const AVStream* st = session.videoStream();
    const FrameIndex::Packet& target = index.packet(k);

    int err = -1;
    // Program and transport streams seek best by byte position; start a few packets early so
    // the demuxer's parser has re-synchronised by the time it reaches packet k.
    if ((fmt->iformat->flags & AVFMT_TS_DISCONT) && !(fmt->iformat->flags & AVFMT_NO_BYTE_SEEK) &&
        target.pos >= 0) {
        qint64 pos = target.pos;
        for (int j = k - 1; j >= qMax(0, k - 3); --j)
            if (index.packet(j).pos >= 0)
                pos = qMin(pos, index.packet(j).pos);
        err = avformat_seek_file(fmt, -1, INT64_MIN, pos, pos, AVSEEK_FLAG_BYTE);
    }
    if (err < 0) {
        qint64 ts = FrameIndex::kNoTimestamp;
        for (int j = k; j >= 0 && ts == FrameIndex::kNoTimestamp; --j)
            ts = index.packet(j).dts != FrameIndex::kNoTimestamp ? index.packet(j).dts
                                                                 : index.packet(j).pts;
        if (ts == FrameIndex::kNoTimestamp)
            return rewind();
        err = av_seek_frame(fmt, st->index, ts, AVSEEK_FLAG_BACKWARD);
    }
    if (err < 0) {
        qCInfo(lcEngine) << "seek failed:" << ff::errorText(err);
        return false;
    }

    // Find out where we landed: read until packet k itself comes by. Landing before it is
    // fine (we read on); landing after it means this start point cannot be reached here.
    int unidentified = 0;
    while (session.readVideoPacket(pkt.get())) {
        const int i =
            index.identifyPacket(pkt->pos, pkt->size, DecodeSession::checksum(pkt.get()), k);
        if (i == k) {
            pending = true;
            active = true;
            startPacket = nextPacket = k;
            return true;
        }
        av_packet_unref(pkt.get());
        if (i > k)
            return false;
        if (i < 0 && ++unidentified > kMaxUnidentified)
            return false;
    }
    return false;
}

bool VideoSource::Private::takeOutput(int n, int windowStart, std::optional<VideoFrame>* result,
                                      bool* missed)
{
    AVFrame* f = frm.get();
    int shown = -1;
    if (f->pts >= 0 && f->pts < index.packetCount())
        shown = index.packet(int(f->pts)).display;
    // A frame whose tag is ambiguous follows the previous one, as long as nothing was
    // skipped since that could have come between them.
    if (shown < 0 && lastOut >= 0 && !skippedSinceOut && lastOut + 1 < index.frameCount() &&
        index.frame(lastOut + 1).packet < 0)
        shown = lastOut + 1;
    ++stats.decodedFrames;
    if (DecodeSession::damaged(f) && damageCounts(shown)) {
        qCInfo(lcEngine) << "frame" << shown << "is damaged";
        disagreed = true;
        av_frame_unref(f);
        *missed = true;
        return false;
    }
    if (!verified && !agreesWithIndex(shown)) {
        disagreed = true;
        av_frame_unref(f);
        *missed = true;
        return false;
    }
    // With deinterlacing, the picture before the window and the one after n are needed
    // too: the filter makes a picture with its neighbours' fields.
    const int first = firstNeeded(windowStart);
    const int last = deinterlacing() ? qMin(n + 1, index.frameCount() - 1) : n;
    // Trust a frame only when this run began at or before its own start point: pictures an
    // open GOP shows before its keyframe come out broken (or not at all) after a seek.
    // A picture the decoder had to patch up (a damaged or truncated one) is patched from
    // whatever it decoded before, so it is trusted only from a run that began a whole GOP
    // earlier than the picture's own start, or at the very beginning, as the sequential
    // decoder reads it.
    const bool patched = (f->decode_error_flags != 0 || (f->flags & AV_FRAME_FLAG_CORRUPT)) &&
                         startPacket > 0 && shown >= 0 &&
                         startPacket >= index.frame(shown).startPacket;
    // Before the window, a patched picture of the GOP this run starts with is one the
    // pictures after it may refer to (a damaged keyframe that the decoder patched from the
    // picture before it in a reading from the start, which this run never decoded).
    if (patched && shown <= last &&
        (shown >= first || index.frame(shown).startPacket == startPacket)) {
        qCInfo(lcEngine) << "frame" << shown << "was patched up by the decoder; starting earlier";
        av_frame_unref(f);
        *missed = true;
        return false;
    }
    if (shown < 0 || shown <= lastOut || index.frame(shown).startPacket < startPacket) {
        av_frame_unref(f);
        if (shown < 0)
            skippedSinceOut = true; // cannot count past an unknown frame
        return false;
    }
    lastOut = shown;
    skippedSinceOut = false;
    if (shown > last) {
        *missed = true;
        av_frame_unref(f);
        return false;
    }
    if (shown < first) {
        interlacedSeen = interlacedSeen || isInterlaced(f);
        av_frame_unref(f);
        return false;
    }
    if (!deinterlacing())
        return deliver(f, shown, n, windowStart, result);

    // Whether a reading from the start has deinterlaced a picture before this run's first:
    // surely when this run decoded an interlaced one before it. Otherwise, when the run
    // began at the start of the file, surely not; when it began later, the pictures before
    // it are taken to be what the file starts with (the decoder's first pictures, read
    // when the file was opened): a file that starts progressive and turns interlaced
    // further on is the one case where this can be wrong, for one picture.
    const bool startsProgressive =
        session.videoStream()->codecpar->field_order == AV_FIELD_PROGRESSIVE;
    const bool primed = interlacedSeen || (startPacket > 0 && !startsProgressive);
    interlacedSeen = interlacedSeen || isInterlaced(f);
    if (!deinterlacer.push(f, shown, primed))
        return deliver(f, shown, n, windowStart, result); // as decoded, said in the log
    av_frame_unref(f);
    // At the last picture the filter ends as ffmpeg's does at the end of the file.
    if (shown == index.frameCount() - 1)
        deinterlacer.finish();
    bool found = false;
    int m = -1;
    while (deinterlacer.take(deinterlaced.get(), &m))
        found = deliver(deinterlaced.get(), m, n, windowStart, result) || found;
    return found;
}

bool VideoSource::Private::deliver(AVFrame* f, int shown, int n, int windowStart,
                                   std::optional<VideoFrame>* result)
{
    if (shown < windowStart) {
        av_frame_unref(f);
        return false;
    }
    session.preparePicture(f);
    VideoFrame vf = makeVideoFrame(f, shown, index.frame(shown).timeMs);
    // A backward window is decoded for the steps that follow it; anything else is a frame
    // on the way forward.
    if (windowStart < n && shown <= n && !lookingPast)
        cache.insert(vf);
    else
        cache.insertPassing(vf);
    if (shown == n) {
        *result = std::move(vf);
        return true;
    }
    return false;
}

bool VideoSource::Private::agreesWithIndex(int shown) const
{
    if (shown < 0 || shown <= lastOut)
        return false;
    const int from = lastOut >= 0 ? lastOut + 1 : 0;
    for (int m = from; m < shown; ++m) {
        const FrameIndex::Frame& f = index.frame(m);
        // Not expected from this run: sent to be skipped if nothing refers to it, before the
        // run's first packet, or a picture an open GOP shows before its keyframe.
        const bool expected =
            f.packet >= startPacket && f.startPacket >= startPacket && !skippedFrames.contains(m);
        if (expected)
            return false;
    }
    return true;
}

std::optional<VideoFrame> VideoSource::Private::run(int n, int windowStart, bool allowSkip)
{
    AVCodecContext* dec = session.decoder();
    std::optional<VideoFrame> result;
    bool missed = false;
    for (;;) {
        while (avcodec_receive_frame(dec, frm.get()) >= 0) {
            if (takeOutput(n, windowStart, &result, &missed))
                return result;
            if (missed) {
                resetRun();
                return std::nullopt;
            }
        }
        if (drained) {
            resetRun();
            return std::nullopt;
        }
        if (!pending && !session.readVideoPacket(pkt.get())) {
            avcodec_send_packet(dec, nullptr);
            drained = true;
            continue;
        }
        pending = false;
        // Every packet must be the one the index expects next; anything else means the
        // file is not what we indexed (or the demuxer resynchronised differently).
        const int i = nextPacket;
        if (i >= index.packetCount() || index.packet(i).size != pkt->size ||
            index.packet(i).checksum != DecodeSession::checksum(pkt.get())) {
            qCInfo(lcEngine) << "packet" << i << "is not the indexed one";
            av_packet_unref(pkt.get());
            resetRun();
            return std::nullopt;
        }
        ++nextPacket;
        if (pkt->size == 0) {
            av_packet_unref(pkt.get());
            continue;
        }
        // Pictures shown before the window that nothing refers to need not be decoded. Not
        // so in MPEG-4 Part 2: a packed stream decodes a B-VOP in the place of the packet
        // after its own, and skipping that packet would lose the next B-VOP as well. Nor a
        // picture coded over several packets (the two fields of interlaced H.264, whose
        // second packet shows nothing of its own): the decoder would be left with one field
        // of a pair, and pair the other with the wrong picture.
        const int shown = index.packet(i).display;
        const bool wholePicture = i + 1 >= index.packetCount() || index.packet(i + 1).display >= 0;
        if (index.packet(i).key && shown >= 0)
            keyShown = shown;
        const bool leading = !verified && confirmGops && shown >= 0 && shown < keyShown;
        const bool skip = allowSkip && !leading && shown >= 0 && shown < firstNeeded(windowStart) &&
                          wholePicture &&
                          session.videoStream()->codecpar->codec_id != AV_CODEC_ID_MPEG4;
        dec->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        if (skip) {
            skippedSinceOut = true;
            if (!verified)
                skippedFrames.insert(shown);
        }
        pkt->pts = i;
        pkt->dts = AV_NOPTS_VALUE;
        const int err = avcodec_send_packet(dec, pkt.get());
        av_packet_unref(pkt.get());
        if (err < 0 && err != AVERROR(EAGAIN)) {
            qCInfo(lcEngine) << "packet" << i << "rejected:" << ff::errorText(err);
            if (damageCounts(index.packet(i).display)) {
                disagreed = true;
                resetRun();
                return std::nullopt;
            }
        }
    }
}

} // namespace framix
