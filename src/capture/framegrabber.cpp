#include "framegrabber.h"

#include "bmpwritepool.h"
#include "sequentialdecoder.h"
#include "videosource.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

namespace framix {

QString FrameGrabber::frameFileName(const QString& dir, int number, const QString& extension)
{
    QString base = dir;
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base + QStringLiteral("frame") + QString::number(number) + extension;
}

bool FrameGrabber::run(const Options& o, Result* result, EngineError* error)
{
    *result = Result{};
    // The input is opened before the folder is made, so a file that cannot be read leaves
    // no empty folder behind.
    const auto makeFolder = [&] {
        result->outputFailed = true; // until the folder is there
        const QFileInfo out(o.outDir);
        if (out.exists() && !out.isDir())
            return fail(error, EngineError::Code::IoError,
                        o.outDir + QStringLiteral(": not a folder"));
        if (!out.exists() && !QDir().mkpath(o.outDir))
            return fail(error, EngineError::Code::IoError,
                        o.outDir + QStringLiteral(": cannot create the folder"));
        result->outputFailed = false;
        return true;
    };
    // A write failed: several frames are written at once, so the one reported may not be
    // the first that is missing. Name that one, with the reason.
    const auto writeFailed = [&](int from, int to) {
        result->outputFailed = true;
        if (!error)
            return;
        for (int n = from; n <= to; ++n) {
            const QString file = frameFileName(o.outDir, n);
            if (!QFileInfo::exists(file)) {
                const QString reason = error->detail.section(QStringLiteral(": "), -1);
                error->detail = file + QStringLiteral(": ") + reason;
                return;
            }
        }
    };

    const bool whole = o.from < 0 && o.to < 0;
    // One converter-writer per core: decoding has its own threads inside the decoder, and
    // the three kinds of work overlap.
    BmpWritePool pool(qMax(1, QThread::idealThreadCount()));
    auto cancelled = [&] { return o.cancel && o.cancel->load(); };

    if (whole) {
        // Every frame: read the file straight through, no index needed.
        SequentialDecoder decoder;
        if (!decoder.open(o.input, error, o.cancel) || !makeFolder())
            return false;
        while (auto frame = decoder.next()) {
            if (cancelled())
                break;
            if (!pool.submit(*frame, frameFileName(o.outDir, frame->number())))
                break;
            if (result->first < 0)
                result->first = frame->number();
            result->last = frame->number();
            if (o.progress)
                o.progress(frame->number() + 1, 0);
        }
        if (!pool.finish(error)) {
            writeFailed(qMax(0, result->first), result->last);
            return false;
        }
        result->written = pool.written();
        if (cancelled())
            return fail(error, EngineError::Code::Cancelled, QString());
        if (result->written == 0) {
            const EngineError e = decoder.failureReason();
            return fail(error, e.code, e.detail);
        }
        return true;
    }

    VideoSource source;
    VideoSource::Options vo;
    vo.indexCacheDir = o.indexCacheDir;
    vo.cancel = o.cancel;
    if (!source.open(o.input, error, vo))
        return false;
    if (!source.info().hasVideo)
        return fail(error, EngineError::Code::NoStreams, QStringLiteral("the file has no video"));
    const int count = source.frameCount();
    const int from = o.from < 0 ? 0 : o.from;
    const int to = o.to < 0 ? count - 1 : o.to;
    if (from > to || from >= count || to >= count)
        return fail(error, EngineError::Code::OutOfRange,
                    QStringLiteral("frames %1 to %2 asked for; the file has frames 0 to %3")
                        .arg(from)
                        .arg(to)
                        .arg(count - 1));
    if (!makeFolder())
        return false;
    for (int n = from; n <= to && !cancelled(); ++n) {
        auto frame = source.frame(n, error);
        if (!frame) {
            pool.finish(nullptr);
            result->written = pool.written();
            return false;
        }
        if (!pool.submit(*frame, frameFileName(o.outDir, n))) {
            result->last = n;
            break;
        }
        if (result->first < 0)
            result->first = n;
        result->last = n;
        if (o.progress)
            o.progress(n - from + 1, to - from + 1);
    }
    if (!pool.finish(error)) {
        result->written = pool.written();
        writeFailed(from, result->last);
        return false;
    }
    result->written = pool.written();
    if (cancelled())
        return fail(error, EngineError::Code::Cancelled, QString());
    return true;
}

} // namespace framix
