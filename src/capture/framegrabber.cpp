#include "framegrabber.h"

#include "atomicfile.h"
#include "filepaths.h"
#include "framedetails.h"
#include "framelist.h"
#include "framenamer.h"
#include "imagewritepool.h"
#include "outputguard.h"
#include "sequentialdecoder.h"
#include "videosource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QThread>

#include <optional>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace framix {

namespace {

QString inFolder(const QString& dir, const QString& name)
{
    QString path = dir;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + name;
}

// Makes `dir` and any folders above it that are missing; "" or what the system said of the
// level that could not be made.
QString makeFolders(const QString& dir)
{
    const QString path = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
    qsizetype at = 0;
    while (at >= 0) {
        at = path.indexOf(QLatin1Char('/'), at + 1);
        const QString level = at < 0 ? path : path.left(at);
        if (::mkdir(QFile::encodeName(level).constData(), 0777) != 0 && errno != EEXIST)
            return QStringLiteral("%1: %2").arg(level, QString::fromLocal8Bit(strerror(errno)));
    }
    return QFileInfo(path).isDir() ? QString() : QStringLiteral("%1 is not a folder").arg(path);
}

} // namespace

QString FrameGrabber::framePath(const QString& dir, const QString& fileName)
{
    return inFolder(dir, fileName);
}

QString FrameGrabber::outputConflict(const Options& o)
{
    QString why;
    const std::optional<FrameNamer> namer = FrameNamer::parse(
        o.nameTemplate.isEmpty() ? QString::fromLatin1(FrameNamer::kDefaultTemplate)
                                 : o.nameTemplate,
        &why);
    if (!namer)
        return why;
    const QString extension = imageFileExtension(o.image.format);
    const QString hazard = picturesHazard(o.outDir, *namer, extension, o.input);
    if (!hazard.isEmpty())
        return hazard;
    if (o.csvPath.isEmpty())
        return {};
    const QString csv = outputHazard(o.csvPath, o.input);
    if (!csv.isEmpty())
        return QStringLiteral("the frame list cannot be written there: %1").arg(csv);
    if (isPictureName(o.csvPath, o.outDir, *namer, extension,
                      QFileInfo(shownPath(o.input)).completeBaseName()))
        return QStringLiteral("the frame list cannot be written there: %1 is the name of one of "
                              "the pictures this run writes")
            .arg(o.csvPath);
    return {};
}

bool FrameGrabber::run(const Options& o, Result* result, EngineError* error)
{
    *result = Result{};
    QString why = outputConflict(o);
    if (!why.isEmpty()) {
        result->outputFailed = true;
        return fail(error, EngineError::Code::IoError, why);
    }
    const std::optional<FrameNamer> namer = FrameNamer::parse(
        o.nameTemplate.isEmpty() ? QString::fromLatin1(FrameNamer::kDefaultTemplate)
                                 : o.nameTemplate,
        &why);
    const QString extension = imageFileExtension(o.image.format);
    const QString videoName = QFileInfo(shownPath(o.input)).completeBaseName();
    const bool picking = o.every > 1 || o.keyframes;
    const bool needIndex =
        o.from >= 0 || o.to >= 0 || picking || !o.csvPath.isEmpty() || namer->usesTime();

    // The input is opened before the folder is made, so a file that cannot be read leaves
    // no empty folder behind.
    const auto makeFolder = [&] {
        result->outputFailed = true; // until the folder is there
        const QFileInfo out(o.outDir);
        if (out.exists() && !out.isDir())
            return fail(error, EngineError::Code::IoError,
                        o.outDir + QStringLiteral(": not a folder"));
        if (!out.exists()) {
            const QString reason = makeFolders(o.outDir);
            if (!reason.isEmpty())
                return fail(error, EngineError::Code::IoError,
                            o.outDir + QStringLiteral(": cannot create the folder: ") + reason);
        }
        removeStaleTemporaries(o.outDir);
        result->outputFailed = false;
        return true;
    };

    // Every frame handed to the writers, in order; a job's tag is its place here.
    std::vector<FrameListEntry> entries;
    QHash<QString, int> taken; // file name -> frame
    bool clash = false;
    const auto submit = [&](ImageWritePool& pool, const VideoFrame& frame, FrameListEntry entry) {
        entry.file = namer->name(entry.frame, entry.timeMs, videoName) + extension;
        const auto other = taken.constFind(entry.file);
        if (other != taken.cend()) {
            clash = true;
            result->outputFailed = true;
            fail(error, EngineError::Code::IoError,
                 QStringLiteral("%1: frames %2 and %3 would both be written under this name; "
                                "put {frame} in the name template")
                     .arg(inFolder(o.outDir, entry.file))
                     .arg(other.value())
                     .arg(entry.frame));
            return false;
        }
        taken.insert(entry.file, entry.frame);
        entry.type = frameDetails(frame).pictureType;
        const int tag = int(entries.size());
        entries.push_back(entry);
        if (!pool.submit(frame, inFolder(o.outDir, entry.file), tag))
            return false;
        if (result->first < 0) {
            result->first = entry.frame;
            result->firstFile = entry.file;
        }
        result->last = entry.frame;
        result->lastFile = entry.file;
        return true;
    };

    // After the writers are done (or stopped): the counts, the CSV list of what was
    // written, and for a failed write the first frame file that is missing.
    const auto conclude = [&](ImageWritePool& pool, bool ok) {
        EngineError writeError;
        const bool written = pool.finish(&writeError);
        result->written = pool.written();
        const ImageWriter::Stats stats = pool.stats();
        result->tonemapped = stats.tonemapped;
        result->deep = stats.deep;
        if (!written && ok) {
            ok = false;
            result->outputFailed = true;
            // Several frames are written at once, so the one reported may not be the first
            // that is missing. Name that one, with the reason.
            const QString reason = writeError.detail.section(QStringLiteral(": "), -1);
            for (const FrameListEntry& e : entries) {
                const QString file = inFolder(o.outDir, e.file);
                if (!QFileInfo::exists(file)) {
                    writeError.detail = file + QStringLiteral(": ") + reason;
                    break;
                }
            }
            if (error)
                *error = writeError;
        }
        if (!o.csvPath.isEmpty()) {
            const QByteArray csv = frameListCsv(entries, pool.writtenTags());
            EngineError csvError;
            if (!writeFileAtomically(o.csvPath, csv, &csvError) && ok) {
                ok = false;
                result->outputFailed = true;
                if (error)
                    *error = csvError;
            }
        }
        return ok;
    };

    const int threads = qMax(1, QThread::idealThreadCount());
    auto cancelled = [&] { return o.cancel && o.cancel->load(); };
    std::optional<SceneDetector> detector;
    if (o.scenes)
        detector.emplace(o.sceneThreshold);
    // Whether the scene detector lets this frame through; false with *error when it failed.
    bool detectorFailed = false;
    const auto startsScene = [&](const VideoFrame& frame) {
        const bool scene = detector->startsScene(frame);
        if (!detector->failure().isEmpty()) {
            detectorFailed = true;
            fail(error, EngineError::Code::DecodeFailed, detector->failure());
            return false;
        }
        return scene;
    };

    // A pipe or a device is read once, straight through: it cannot be read again from the
    // start as the frame index needs.
    const QFileInfo inputInfo(o.input);
    const bool stream = inputInfo.exists() && !inputInfo.isFile() && !inputInfo.isDir();
    if (stream && (o.keyframes || !o.csvPath.isEmpty() || namer->usesTime()))
        return fail(error, EngineError::Code::IoError,
                    QStringLiteral("a pipe or device is read once, straight through; "
                                   "--keyframes, --csv and {time} need a file that can be read "
                                   "again"));
    if (!needIndex || stream) {
        // Every frame is looked at, in order: read the file straight through, no index
        // (a range of a pipe is read up to its end).
        SequentialDecoder decoder;
        if (!decoder.open(o.input, error, o.cancel, o.source) || !makeFolder())
            return false;
        ImageOptions image = o.image;
        image.sarNum = decoder.info().sampleAspectNum;
        image.sarDen = decoder.info().sampleAspectDen;
        ImageWritePool pool(threads, 4, image);
        while (auto frame = decoder.next()) {
            if (cancelled())
                break;
            if (o.to >= 0 && frame->number() > o.to)
                break;
            if (frame->number() < qMax(o.from, 0) ||
                (frame->number() - qMax(o.from, 0)) % o.every != 0)
                continue;
            ++result->scanned;
            if (o.progress)
                o.progress(frame->number() + 1, 0);
            if (detector && !startsScene(*frame)) {
                if (detectorFailed)
                    break;
                continue;
            }
            FrameListEntry entry;
            entry.frame = frame->number();
            entry.timeMs = frame->timeMs();
            if (!submit(pool, *frame, entry))
                break;
        }
        const bool failedBefore = clash || detectorFailed;
        // Frames that stop before the end of the file (it shrank, was rewritten or could not
        // be read on) are not the whole file: the run says so and fails.
        const bool rangeDone = o.to >= 0 && result->last >= o.to;
        const QString early =
            failedBefore || cancelled() || rangeDone ? QString() : decoder.earlyEnd();
        if (!conclude(pool, !failedBefore && early.isEmpty())) {
            if (!early.isEmpty())
                fail(error, EngineError::Code::IoError,
                     QStringLiteral("%1 after %2 frames").arg(early).arg(result->written));
            return false;
        }
        if (cancelled())
            return fail(error, EngineError::Code::Cancelled, QString());
        if (result->written == 0) {
            const EngineError e = decoder.failureReason();
            if (stream && o.from >= 0)
                return fail(error, EngineError::Code::OutOfRange,
                            QStringLiteral("frames %1 to %2 asked for; the stream ended before")
                                .arg(o.from)
                                .arg(o.to));
            return fail(error, e.code, e.detail);
        }
        return true;
    }

    VideoSource source;
    VideoSource::Options vo;
    vo.indexCacheDir = o.indexCacheDir;
    vo.cancel = o.cancel;
    vo.source = o.source;
    if (!source.open(o.input, error, vo))
        return false;
    if (!source.info().hasVideo)
        return fail(error, EngineError::Code::NoStreams, QStringLiteral("the file has no video"));
    const FrameIndex& index = source.index();
    const int from = o.from < 0 ? 0 : o.from;
    // Frames past the end of an index made without decoding are looked for by decoding
    // before they are refused: in a damaged file the decoder can show a picture more than
    // the headers let the scan count.
    if (!source.indexChecked() && qMax(from, o.to) >= source.frameCount()) {
        EngineError checkError;
        if (auto decoded = VideoSource::indexByDecoding(o.input, o.cancel, &checkError, o.source))
            source.checkIndex(std::move(*decoded));
        else if (checkError.code == EngineError::Code::Cancelled)
            return fail(error, checkError.code, checkError.detail);
    }
    const int count = source.frameCount();
    const int to = o.to < 0 ? count - 1 : o.to;
    if (from > to || from >= count || to >= count)
        return fail(error, EngineError::Code::OutOfRange,
                    QStringLiteral("frames %1 to %2 asked for; the file has frames 0 to %3")
                        .arg(from)
                        .arg(to)
                        .arg(count - 1));
    const std::vector<FrameIndex::Facts> facts = index.facts(source.info().frameRate);
    std::vector<int> wanted;
    if (o.keyframes) {
        for (int n = from; n <= to; ++n)
            if (facts[size_t(n)].key)
                wanted.push_back(n);
        if (wanted.empty())
            return fail(error, EngineError::Code::OutOfRange,
                        QStringLiteral("no keyframe among frames %1 to %2").arg(from).arg(to));
    } else {
        const int step = qMax(1, o.every);
        for (qint64 n = from; n <= to; n += step)
            wanted.push_back(int(n));
    }

    if (!makeFolder())
        return false;
    ImageOptions image = o.image;
    image.sarNum = source.info().sampleAspectNum;
    image.sarDen = source.info().sampleAspectDen;
    ImageWritePool pool(threads, 4, image);
    bool ok = true;
    for (size_t i = 0; i < wanted.size() && !cancelled(); ++i) {
        const int n = wanted[i];
        auto frame = source.frame(n, error);
        if (!frame) {
            ok = false;
            break;
        }
        ++result->scanned;
        if (o.progress)
            o.progress(int(i) + 1, int(wanted.size()));
        if (detector && !startsScene(*frame)) {
            if (detectorFailed) {
                ok = false;
                break;
            }
            continue;
        }
        FrameListEntry entry;
        entry.frame = n;
        entry.timeMs = facts[size_t(n)].timeMs;
        entry.pts = facts[size_t(n)].pts;
        entry.key = facts[size_t(n)].key;
        if (!submit(pool, *frame, entry)) {
            ok = !clash;
            break;
        }
    }
    if (!conclude(pool, ok))
        return false;
    if (cancelled())
        return fail(error, EngineError::Code::Cancelled, QString());
    return true;
}

} // namespace framix
