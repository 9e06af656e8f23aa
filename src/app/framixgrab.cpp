// framix-grab: saves frames of a video file as frame<N>.bmp, or lists per-frame checksums
// of the decoded pictures in the form of `ffmpeg -f framemd5`.

#include "framegrabber.h"
#include "framememory.h"
#include "sequentialdecoder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace framix;

namespace {

std::atomic_bool g_interrupted{false};

void onSignal(int)
{
    g_interrupted = true;
}

int failWith(const QString& message)
{
    std::fprintf(stderr, "framix-grab: %s\n", qPrintable(message));
    return 1;
}

// What went wrong with the input, in words for the user.
QString reason(const EngineError& error)
{
    // "No streams" is said in the detail more precisely (a sound-only file has no video).
    if (error.code == EngineError::Code::NoStreams && !error.detail.isEmpty())
        return error.detail;
    return error.message();
}

// One line per frame: stream, dts, pts, duration, size, MD5 of the packed picture. The
// timestamps count frames (time base 1/rate), as ffmpeg writes them for constant-rate
// video; the size and hash columns are what identify a picture.
int listChecksums(const QString& path, int from, int to)
{
    SequentialDecoder decoder;
    EngineError error;
    if (!decoder.open(path, &error, &g_interrupted))
        return failWith(QStringLiteral("%1: %2").arg(path, reason(error)));
    const MediaInfo& info = decoder.info();
    const int rate = info.frameRate > 0 ? int(std::lround(info.frameRate)) : 25;
    std::printf("#format: frame checksums\n#version: 2\n#hash: MD5\n#tb 0: 1/%d\n"
                "#media_type 0: video\n#codec_id 0: rawvideo\n",
                rate);
    bool header = false;
    int frames = 0, listed = 0;
    while (auto frame = decoder.next()) {
        if (g_interrupted)
            return failWith(QStringLiteral("interrupted"));
        ++frames;
        if (frame->number() < from)
            continue;
        if (to >= 0 && frame->number() > to)
            break;
        if (!header) {
            std::printf("#dimensions 0: %dx%d\n#sar 0: %d/%d\n", frame->width(), frame->height(),
                        info.sampleAspectNum, info.sampleAspectDen);
            std::printf("#stream#, dts,        pts, duration,     size, hash\n");
            header = true;
        }
        std::printf("0, %10d, %10d, %8d, %8d, %s\n", frame->number(), frame->number(), 1,
                    frame->rawSize(), frame->rawMd5().constData());
        ++listed;
    }
    if (frames == 0)
        return failWith(QStringLiteral("%1: %2").arg(path, reason(decoder.failureReason())));
    if (listed == 0)
        return failWith(QStringLiteral("frames %1 to %2 asked for; the file has frames 0 to %3")
                            .arg(from)
                            .arg(to)
                            .arg(frames - 1));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    framix::keepFrameMemoryForReuse();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("framix-grab"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.11"));
    // Without SA_RESTART: a call blocked in the kernel (opening a FIFO nothing writes to, a
    // read from a stalled mount) returns on the signal instead of waiting on, so Ctrl+C
    // and SIGTERM end the program promptly wherever it is.
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Saves the frames of a video file as frame<N>.bmp (N = frame number in display "
        "order, from 0), or prints an MD5 per decoded frame."));
    const QCommandLineOption helpOpt = parser.addHelpOption();
    const QCommandLineOption versionOpt = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The video file."));
    const QCommandLineOption outOpt(QStringLiteral("out"),
                                    QStringLiteral("Folder for the pictures (created if missing)."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption fromOpt(QStringLiteral("from"),
                                     QStringLiteral("First frame to save (default 0)."),
                                     QStringLiteral("N"));
    const QCommandLineOption toOpt(QStringLiteral("to"),
                                   QStringLiteral("Last frame to save (default: the last frame)."),
                                   QStringLiteral("M"));
    const QCommandLineOption formatOpt(
        QStringLiteral("format"),
        QStringLiteral("Picture format; only bmp (24-bit Windows bitmap)."), QStringLiteral("bmp"),
        QStringLiteral("bmp"));
    const QCommandLineOption md5Opt(QStringLiteral("framemd5"),
                                    QStringLiteral("Print one MD5 per decoded frame, as ffmpeg -f "
                                                   "framemd5 does, instead of saving pictures."));
    const QCommandLineOption quietOpt(QStringLiteral("quiet"), QStringLiteral("No progress line."));
    parser.addOptions({outOpt, fromOpt, toOpt, formatOpt, md5Opt, quietOpt});
    // A command line that cannot be understood exits 2, like every other usage error.
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "framix-grab: %s (see --help)\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(helpOpt))
        parser.showHelp(0);
    if (parser.isSet(versionOpt))
        parser.showVersion();

    const QStringList args = parser.positionalArguments();
    if (args.size() != 1) {
        std::fprintf(stderr, "framix-grab: give exactly one FILE (see --help)\n");
        return 2;
    }
    const QString input = args.first();
    int from = -1, to = -1;
    for (const auto* opt : {&fromOpt, &toOpt}) {
        if (!parser.isSet(*opt))
            continue;
        bool ok = false;
        const int v = parser.value(*opt).toInt(&ok);
        if (!ok || v < 0) {
            std::fprintf(stderr, "framix-grab: --%s needs a frame number (0 or more)\n",
                         qPrintable(opt->names().first()));
            return 2;
        }
        (opt == &fromOpt ? from : to) = v;
    }
    if (from >= 0 && to >= 0 && from > to) {
        std::fprintf(stderr, "framix-grab: --from %d is after --to %d\n", from, to);
        return 2;
    }
    if (parser.isSet(md5Opt))
        return listChecksums(input, qMax(from, 0), to);

    if (parser.value(formatOpt).compare(QStringLiteral("bmp"), Qt::CaseInsensitive) != 0) {
        std::fprintf(stderr, "framix-grab: unknown format '%s'; only bmp is supported\n",
                     qPrintable(parser.value(formatOpt)));
        return 2;
    }
    if (!parser.isSet(outOpt)) {
        std::fprintf(stderr, "framix-grab: --out DIR is required (see --help)\n");
        return 2;
    }
    if (parser.value(outOpt).trimmed().isEmpty()) {
        std::fprintf(stderr, "framix-grab: --out needs a folder name\n");
        return 2;
    }
    FrameGrabber::Options options;
    options.input = input;
    options.outDir = parser.value(outOpt);
    options.cancel = &g_interrupted;
    options.from = from;
    options.to = to;
    if (options.from >= 0 || options.to >= 0) {
        options.from = qMax(options.from, 0);
    }

    const bool showProgress = !parser.isSet(quietOpt) && isatty(fileno(stderr));
    QElapsedTimer clock;
    clock.start();
    qint64 lastShown = -1000;
    if (showProgress)
        options.progress = [&](int done, int total) {
            if (clock.elapsed() - lastShown < 100)
                return;
            lastShown = clock.elapsed();
            if (total > 0)
                std::fprintf(stderr, "\rframix-grab: frame %d of %d", done, total);
            else
                std::fprintf(stderr, "\rframix-grab: frame %d", done);
            std::fflush(stderr);
        };

    FrameGrabber::Result result;
    EngineError error;
    const bool ok = FrameGrabber::run(options, &result, &error);
    if (showProgress)
        std::fprintf(stderr, "\n");
    if (!ok) {
        if (error.code == EngineError::Code::Cancelled)
            return failWith(QStringLiteral("interrupted after %1 frames").arg(result.written));
        // The output's own failures name the output (the detail leads with it).
        if (result.outputFailed)
            return failWith(error.detail);
        return failWith(QStringLiteral("%1: %2").arg(input, reason(error)));
    }
    const double secs = qMax<qint64>(1, clock.elapsed()) / 1000.0;
    const QString where = QDir(options.outDir).absolutePath();
    if (result.written == 1)
        std::printf("Wrote 1 frame (frame%d.bmp) to %s\n", result.first, qPrintable(where));
    else
        std::printf(
            "Wrote %d frames (frame%d.bmp to frame%d.bmp) to %s in %.1f s (%.0f frames/s)\n",
            result.written, result.first, result.last, qPrintable(where), secs,
            result.written / secs);
    return 0;
}
