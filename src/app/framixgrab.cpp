// framix-grab: saves frames of a video file as pictures (frame<N>.bmp by default; PNG, JPEG,
// TIFF, WebP; every frame, a range, every N-th, the keyframes or the scene starts, with a
// CSV list), or lists per-frame checksums of the decoded pictures in the form of
// `ffmpeg -f framemd5`.

#include "filepaths.h"
#include "framegrabber.h"
#include "framememory.h"
#include "framenamer.h"
#include "sequentialdecoder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

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
int listChecksums(const QString& path, const QString& shown, int from, int to,
                  const SourceOptions& source)
{
    SequentialDecoder decoder;
    EngineError error;
    if (!decoder.open(path, &error, &g_interrupted, source))
        return failWith(QStringLiteral("%1: %2").arg(shown, reason(error).replace(path, shown)));
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
        return failWith(QStringLiteral("%1: %2").arg(shown, reason(decoder.failureReason())));
    if (listed == 0)
        return failWith(QStringLiteral("frames %1 to %2 asked for; the file has frames 0 to %3")
                            .arg(from)
                            .arg(to)
                            .arg(frames - 1));
    return 0;
}

int usageError(const QString& message)
{
    std::fprintf(stderr, "framix-grab: %s\n", qPrintable(message));
    return 2;
}

// QCommandLineParser has no options with an optional value: `--scenes [T]` is turned into
// `--scenes --scene-threshold T` when a number follows (or `--scenes=T` is written).
QStringList withSceneThreshold(const QStringList& args)
{
    QStringList out;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--")) {
            out += args.mid(i);
            break;
        }
        if (a.startsWith(QLatin1String("--scenes="))) {
            out << QStringLiteral("--scenes")
                << QStringLiteral("--scene-threshold=") + a.mid(int(qstrlen("--scenes=")));
            continue;
        }
        out << a;
        if (a == QLatin1String("--scenes") && i + 1 < args.size()) {
            bool number = false;
            args.at(i + 1).toDouble(&number);
            if (number)
                out << QStringLiteral("--scene-threshold=") + args.at(++i);
        }
    }
    return out;
}

const char* const kExamples = R"(
Examples:
  framix-grab clip.mp4 --out frames
      every frame as frames/frame0.bmp, frames/frame1.bmp, ...
  framix-grab clip.mp4 --out frames --from 100 --to 199 --format png
      frames 100 to 199 as lossless PNG files, frame100.png to frame199.png
  framix-grab clip.mp4 --out stills --format jpg --quality 90 --every 25
      frames 0, 25, 50, ... as JPEG files at quality 90
  framix-grab clip.mp4 --out keys --keyframes --csv keys.csv
      the keyframes, listed with their times and picture types in keys.csv
  framix-grab movie.mkv --out scenes --scenes 0.4 --format webp --name '{name}-{time}'
      the first frame of each scene as lossless WebP, e.g. movie-00-01-23.480.webp
  framix-grab dvd.mpg --out shots --display-shape --name 'shot{frame:06}'
      720x576 16:9 frames as 1024x576 pictures, shot000000.bmp, shot000001.bmp, ...
  framix-grab hdr.mkv --out sdr --tonemap --format png
      PQ or HLG frames tone-mapped to standard range BT.709
  framix-grab hdr.mkv --out deep --format png --depth 16 --from 0 --to 0
      frame 0 of a 10-bit video as a 16-bit PNG
  framix-grab camcorder.mts --out stills --deinterlace --every 50
      every 50th frame of interlaced video, deinterlaced (no combing on moving edges)
  framix-grab clip.mp4 --framemd5
      one MD5 per decoded frame, as ffmpeg -f framemd5 prints them

Name tokens (--name): {frame} the frame number, {frame:0N} zero-padded to N digits,
{name} the video file's name without extension, {time} the frame's time as HH-MM-SS.mmm.
The extension of the format is added. A template needs {frame} or {time}.

Frame numbers count the decoded frames in display order from 0, the same for every option.
Video the file asks to be turned (a phone's portrait video) is saved upright, at the turned
size, unless --no-autorotate is given. Video that does not name its colour matrix is
converted as BT.709 when its stored picture is HD (1280 or more wide, or more than 576
lines) and as BT.601 otherwise (--matrix chooses); video that names one is converted
with it, so the pixels are ffmpeg's.
The CSV file has the header frame,time,pts,keyframe,type,file: time in seconds with
milliseconds, pts in the stream's time base (empty when the file gives none), keyframe 1
or 0, the picture type (I, P or B) and the file written.
Exit status: 0 done, 1 failed (a message says why), 2 a wrong command line.
)";

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
        "Saves frames of a video file as pictures, frame<N>.bmp by default (N = frame number "
        "in display order, from 0), or prints an MD5 per decoded frame."));
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
        QStringLiteral("Picture format: bmp (24-bit Windows bitmap, the default), png "
                       "(lossless), jpg (JPEG, 4:4:4), tiff (24-bit RGB) or webp (lossless "
                       "unless --quality is given). Files end in .bmp, .png, .jpg, .tiff, "
                       ".webp."),
        QStringLiteral("FMT"), QStringLiteral("bmp"));
    const QCommandLineOption qualityOpt(
        QStringLiteral("quality"),
        QStringLiteral("JPEG quality, 1 to 100, on the usual (IJG) scale (default 95); for "
                       "WebP, lossy pictures at this quality instead of lossless ones."),
        QStringLiteral("Q"));
    const QCommandLineOption depthOpt(
        QStringLiteral("depth"),
        QStringLiteral("Bits per channel of PNG files: 16 keeps what a 10- or 12-bit video "
                       "has beyond 8 bits (8-bit videos still give 8-bit files); default 8."),
        QStringLiteral("8|16"));
    const QCommandLineOption everyOpt(
        QStringLiteral("every"),
        QStringLiteral("Save every N-th frame: --from, --from + N, --from + 2N, ... up to --to."),
        QStringLiteral("N"));
    const QCommandLineOption keyframesOpt(
        QStringLiteral("keyframes"),
        QStringLiteral("Save only the keyframes (the frames decoding can start at) between "
                       "--from and --to."));
    const QCommandLineOption scenesOpt(
        QStringLiteral("scenes"),
        QStringLiteral("[T] Save the first frame and the first frame of each new scene: the "
                       "frames whose scene score is above T, from 0 to 1 (default 0.3), as "
                       "ffmpeg's select='gt(scene,T)' picks them."));
    QCommandLineOption sceneThresholdOpt(QStringLiteral("scene-threshold"),
                                         QStringLiteral("The T of --scenes."), QStringLiteral("T"));
    sceneThresholdOpt.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption csvOpt(
        QStringLiteral("csv"),
        QStringLiteral("Also write a list of the frames written to FILE: one line per frame, "
                       "header frame,time,pts,keyframe,type,file."),
        QStringLiteral("FILE"));
    const QCommandLineOption nameOpt(
        QStringLiteral("name"),
        QStringLiteral("File names (without extension) from a template with {frame}, "
                       "{frame:0N}, {name}, {time}; default frame{frame}."),
        QStringLiteral("TEMPLATE"));
    const QCommandLineOption shapeOpt(
        QStringLiteral("display-shape"),
        QStringLiteral("Scale the width by the pixel aspect ratio, to the shape the video is "
                       "shown in (720x576 at 16:9 gives 1024x576), instead of the stored "
                       "pixels."));
    const QCommandLineOption tonemapOpt(
        QStringLiteral("tonemap"),
        QStringLiteral("Tone-map HDR frames (PQ or HLG) to standard range BT.709, with FFmpeg's "
                       "zscale and tonemap filters (Hable curve); other frames are unchanged."));
    const QCommandLineOption md5Opt(QStringLiteral("framemd5"),
                                    QStringLiteral("Print one MD5 per decoded frame, as ffmpeg -f "
                                                   "framemd5 does, instead of saving pictures."));
    const QCommandLineOption streamOpt(
        QStringLiteral("stream"),
        QStringLiteral("Read the video stream of this index (as ffprobe numbers the file's "
                       "streams) instead of the default one: the stream the file marks as "
                       "default, else the first video stream that is not a cover picture."),
        QStringLiteral("N"));
    const QCommandLineOption noAutorotateOpt(
        QStringLiteral("no-autorotate"),
        QStringLiteral("Keep the stored orientation of video that the file asks to be shown "
                       "turned or mirrored (phone videos); by default frames are saved "
                       "upright, as ffmpeg and players show them."));
    const QCommandLineOption matrixOpt(
        QStringLiteral("matrix"),
        QStringLiteral("The colour matrix of video that does not name its own: bt601 or "
                       "bt709. By default BT.709 when the stored picture is HD (1280 or more "
                       "wide, or more than 576 lines), else BT.601, as players decide; ffmpeg "
                       "itself takes BT.601 for all (--matrix bt601 gives its pixels)."),
        QStringLiteral("bt601|bt709"));
    const QCommandLineOption deinterlaceOpt(
        QStringLiteral("deinterlace"),
        QStringLiteral("Deinterlace the frames the video flags as interlaced, as ffmpeg's "
                       "bwdif=mode=send_frame:parity=auto:deint=interlaced does (one frame per "
                       "frame, made from its own fields and those of the frames around it); "
                       "progressive frames are unchanged. Frame numbers stay the same."));
    const QCommandLineOption quietOpt(QStringLiteral("quiet"), QStringLiteral("No progress line."));
    parser.addOptions({outOpt,          fromOpt,   toOpt,          formatOpt,  qualityOpt,
                       depthOpt,        everyOpt,  keyframesOpt,   scenesOpt,  sceneThresholdOpt,
                       csvOpt,          nameOpt,   shapeOpt,       tonemapOpt, streamOpt,
                       noAutorotateOpt, matrixOpt, deinterlaceOpt, md5Opt,     quietOpt});
    // A command line that cannot be understood exits 2, like every other usage error.
    if (!parser.parse(withSceneThreshold(QCoreApplication::arguments()))) {
        std::fprintf(stderr, "framix-grab: %s (see --help)\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(helpOpt)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        std::fputs(kExamples, stdout);
        return 0;
    }
    if (parser.isSet(versionOpt))
        parser.showVersion();

    const QStringList args = parser.positionalArguments();
    if (args.size() != 1)
        return usageError(QStringLiteral("give exactly one FILE (see --help)"));
    // A name that is not valid text is opened by its bytes, as the shell gave them; messages
    // name it as it was typed.
    const QString shown = args.first();
    QString input = shown;
    for (int i = 1; i < argc; ++i)
        if (QFile::decodeName(argv[i]) == shown && QFile::encodeName(shown) != argv[i])
            input = pathFromBytes(QByteArray(argv[i]));
    const auto named = [&](QString text) { return text.replace(input, shown); };
    int from = -1, to = -1;
    for (const auto* opt : {&fromOpt, &toOpt}) {
        if (!parser.isSet(*opt))
            continue;
        bool ok = false;
        const int v = parser.value(*opt).toInt(&ok);
        if (!ok || v < 0)
            return usageError(
                QStringLiteral("--%1 needs a frame number (0 or more)").arg(opt->names().first()));
        (opt == &fromOpt ? from : to) = v;
    }
    if (from >= 0 && to >= 0 && from > to)
        return usageError(QStringLiteral("--from %1 is after --to %2").arg(from).arg(to));

    SourceOptions source;
    if (parser.isSet(streamOpt)) {
        bool ok = false;
        source.stream = parser.value(streamOpt).toInt(&ok);
        if (!ok || source.stream < 0)
            return usageError(QStringLiteral("--stream needs a stream index (0 or more)"));
    }
    source.autorotate = !parser.isSet(noAutorotateOpt);
    source.deinterlace = parser.isSet(deinterlaceOpt);
    if (parser.isSet(matrixOpt)) {
        const QString m = parser.value(matrixOpt).toLower();
        if (m == QLatin1String("bt601"))
            source.matrix = SourceOptions::Matrix::Bt601;
        else if (m == QLatin1String("bt709"))
            source.matrix = SourceOptions::Matrix::Bt709;
        else
            return usageError(QStringLiteral("--matrix is bt601 or bt709"));
    }

    // Options that only mean something for saved pictures.
    QStringList pictureOptions;
    for (const auto* opt : {&formatOpt, &qualityOpt, &depthOpt, &everyOpt, &keyframesOpt,
                            &scenesOpt, &csvOpt, &nameOpt, &shapeOpt, &tonemapOpt})
        if (parser.isSet(*opt) && !(opt == &formatOpt && imageFormatFromName(parser.value(
                                                             formatOpt)) == ImageFormat::Bmp))
            pictureOptions << QStringLiteral("--") + opt->names().first();
    if (parser.isSet(md5Opt)) {
        if (!pictureOptions.isEmpty())
            return usageError(QStringLiteral("--framemd5 prints checksums and saves no pictures: "
                                             "%1 cannot go with it")
                                  .arg(pictureOptions.join(QStringLiteral(", "))));
        return listChecksums(input, shown, qMax(from, 0), to, source);
    }

    FrameGrabber::Options options;
    const auto format = imageFormatFromName(parser.value(formatOpt));
    if (!format)
        return usageError(QStringLiteral("unknown format '%1': bmp, png, jpg, tiff or webp")
                              .arg(parser.value(formatOpt)));
    options.image.format = *format;
    const QString formatName = parser.value(formatOpt).toLower();
    if (parser.isSet(qualityOpt)) {
        bool ok = false;
        const int q = parser.value(qualityOpt).toInt(&ok);
        if (!ok || q < 1 || q > 100)
            return usageError(QStringLiteral("--quality needs a number from 1 to 100"));
        if (*format != ImageFormat::Jpeg && *format != ImageFormat::WebP)
            return usageError(QStringLiteral("--quality is for jpg and webp; %1 pictures are "
                                             "lossless")
                                  .arg(formatName));
        options.image.quality = q;
    }
    if (parser.isSet(depthOpt)) {
        const QString depth = parser.value(depthOpt);
        if (depth != QLatin1String("8") && depth != QLatin1String("16"))
            return usageError(QStringLiteral("--depth is 8 or 16"));
        options.image.depth = depth.toInt();
        if (options.image.depth == 16 && *format != ImageFormat::Png)
            return usageError(QStringLiteral("--depth 16 is for png; %1 pictures have 8 bits "
                                             "per channel")
                                  .arg(formatName));
        if (options.image.depth == 16 && parser.isSet(tonemapOpt))
            return usageError(QStringLiteral("--tonemap makes 8-bit standard range pictures: "
                                             "it cannot go with --depth 16"));
    }
    const int picks = int(parser.isSet(everyOpt)) + int(parser.isSet(keyframesOpt)) +
                      int(parser.isSet(scenesOpt));
    if (picks > 1)
        return usageError(
            QStringLiteral("--every, --keyframes and --scenes each choose the frames to save: "
                           "give one of them"));
    if (parser.isSet(sceneThresholdOpt) && !parser.isSet(scenesOpt))
        return usageError(QStringLiteral("--scene-threshold goes with --scenes"));
    if (parser.isSet(everyOpt)) {
        bool ok = false;
        options.every = parser.value(everyOpt).toInt(&ok);
        if (!ok || options.every < 1)
            return usageError(QStringLiteral("--every needs a number of frames (1 or more)"));
    }
    options.keyframes = parser.isSet(keyframesOpt);
    options.scenes = parser.isSet(scenesOpt);
    if (parser.isSet(sceneThresholdOpt)) {
        bool ok = false;
        options.sceneThreshold = parser.value(sceneThresholdOpt).toDouble(&ok);
        if (!ok || !(options.sceneThreshold >= 0 && options.sceneThreshold <= 1))
            return usageError(QStringLiteral("--scenes takes a threshold from 0 to 1, e.g. "
                                             "--scenes 0.3"));
    }
    if (parser.isSet(csvOpt)) {
        options.csvPath = parser.value(csvOpt);
        if (options.csvPath.trimmed().isEmpty())
            return usageError(QStringLiteral("--csv needs a file name"));
    }
    if (parser.isSet(nameOpt)) {
        QString why;
        if (!FrameNamer::parse(parser.value(nameOpt), &why))
            return usageError(why);
        options.nameTemplate = parser.value(nameOpt);
    }
    options.image.displayShape = parser.isSet(shapeOpt);
    options.image.tonemap = parser.isSet(tonemapOpt);

    if (!parser.isSet(outOpt))
        return usageError(QStringLiteral("--out DIR is required (see --help)"));
    if (parser.value(outOpt).trimmed().isEmpty())
        return usageError(QStringLiteral("--out needs a folder name"));
    options.input = input;
    options.source = source;
    options.outDir = parser.value(outOpt);
    options.cancel = &g_interrupted;
    options.from = from;
    options.to = to;
    if (options.from >= 0 || options.to >= 0) {
        options.from = qMax(options.from, 0);
    }

    // Refused before any work: a run never writes over what it reads or writes itself.
    const QString conflict = FrameGrabber::outputConflict(options);
    if (!conflict.isEmpty())
        return usageError(named(conflict));

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
            return failWith(named(error.detail));
        return failWith(QStringLiteral("%1: %2").arg(shown, named(reason(error))));
    }
    const double secs = qMax<qint64>(1, clock.elapsed()) / 1000.0;
    const QString where = QDir(options.outDir).absolutePath();
    if (result.written == 1)
        std::printf("Wrote 1 frame (%s) to %s\n", qPrintable(result.firstFile), qPrintable(where));
    else
        std::printf("Wrote %d frames (%s to %s) to %s in %.1f s (%.0f frames/s)\n", result.written,
                    qPrintable(result.firstFile), qPrintable(result.lastFile), qPrintable(where),
                    secs, result.written / secs);
    if (options.scenes)
        std::printf("%d scene starts among %d frames (threshold %g)\n", result.written,
                    result.scanned, options.sceneThreshold);
    if (!options.csvPath.isEmpty())
        std::printf("Listed them in %s\n",
                    qPrintable(QFileInfo(options.csvPath).absoluteFilePath()));
    if (options.image.tonemap && result.tonemapped == 0)
        std::fprintf(stderr, "framix-grab: note: no frame was HDR (PQ or HLG); --tonemap "
                             "changed nothing\n");
    if (options.image.depth == 16 && result.deep == 0)
        std::fprintf(stderr, "framix-grab: note: the video has 8 bits per component; the PNG "
                             "files have 8 bits per channel\n");
    return 0;
}
