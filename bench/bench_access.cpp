// Random access, backward stepping and index caching on one file, each measured against a
// reference taken in the same run: sequential decoding of the same frames.
// usage: bench_access FILE [GOP]

#include "framememory.h"
#include "sequentialdecoder.h"
#include "videosource.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace framix;

namespace {
double ms(const QElapsedTimer& t)
{
    return t.nsecsElapsed() / 1e6;
}
} // namespace

int main(int argc, char** argv)
{
    framix::keepFrameMemoryForReuse(); // as the programs do
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_access FILE [GOP]\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int gop = argc > 2 ? atoi(argv[2]) : 250;
    QTemporaryDir cache;

    // Reference: sequential decoding of the first GOP, median of three runs.
    EngineError error;
    QElapsedTimer t;
    QVector<double> gopRuns;
    int decoded = 0;
    for (int run = 0; run < 3; ++run) {
        SequentialDecoder seq;
        if (!seq.open(path, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error.message()));
            return 1;
        }
        t.start();
        decoded = 0;
        while (decoded < gop && seq.next())
            ++decoded;
        gopRuns << ms(t);
    }
    std::sort(gopRuns.begin(), gopRuns.end());
    const double gopMs = gopRuns[1];
    const double perFrame = gopMs / qMax(1, decoded);

    // Opening with a cold cache: the index read from the packets and their headers, where
    // the file allows, against one made by decoding every frame.
    VideoSource::Options options;
    options.indexCacheDir = cache.path();
    options.useIndexCache = false;
    VideoSource source;
    t.start();
    if (!source.open(path, &error, options)) {
        std::fprintf(stderr, "%s\n", qPrintable(error.message()));
        return 1;
    }
    const double scanOpen = ms(t);
    {
        VideoSource decodedIndex;
        VideoSource::Options decoding = options;
        decoding.fastIndex = false;
        t.start();
        decodedIndex.open(path, &error, decoding);
        const double decodeOpen = ms(t);
        std::printf("open: %.0f ms with the index %s, %.0f ms indexing by decoding: ratio %.3f\n",
                    scanOpen, source.stats().indexFromScan ? "read without decoding" : "decoded",
                    decodeOpen, scanOpen / decodeOpen);
    }
    const int count = source.frameCount();
    std::printf("%s: %d frames; sequential decode %.2f ms/frame, one GOP (%d frames) %.0f ms\n",
                argv[1], count, perFrame, decoded, gopMs);

    // Random access: every request a fresh position, no cache to help.
    source.setCacheLimit(0);
    QRandomGenerator rng(42);
    QVector<double> times;
    source.resetStats();
    qint64 distance = 0;
    for (int i = 0; i < 100; ++i) {
        const int n = int(rng.bounded(count));
        distance += n - qMax(0, source.index().packet(source.index().frame(n).startPacket).display);
        t.start();
        if (!source.frame(n, &error)) {
            std::fprintf(stderr, "frame %d: %s\n", n, qPrintable(error.message()));
            return 1;
        }
        times << ms(t);
    }
    std::sort(times.begin(), times.end());
    double mean = 0;
    for (double v : times)
        mean += v;
    mean /= times.size();
    const double p95 = times[int(times.size() * 0.95)];
    std::printf(
        "random frame(k): mean %.0f ms, p95 %.0f ms; mean / GOP decode = %.3f (target <= 0.40)\n",
        mean, p95, mean / gopMs);
    std::printf("  (%d seeks, %d frames decoded, %.0f frames from the start point on average)\n",
                source.stats().seeks, source.stats().decodedFrames, distance / 100.0);

    // Backward steps from the middle of the second GOP (or the file's middle).
    source.setCacheLimit(256LL * 1024 * 1024);
    const int from = qMin(count - 1, gop + gop / 2);
    source.frame(from, &error);
    source.resetStats();
    t.start();
    int steps = 0;
    for (int n = from - 1; n >= 0 && steps < 100; --n, ++steps)
        if (!source.frame(n, &error)) {
            std::fprintf(stderr, "frame %d: %s\n", n, qPrintable(error.message()));
            return 1;
        }
    const double back = ms(t) / qMax(1, steps);
    std::printf("backward step: mean %.2f ms over %d steps from %d; / sequential frame = %.2f "
                "(target <= 3.0)\n",
                back, steps, from, back / perFrame);
    std::printf("  (%d seeks, %d frames decoded, cache %.0f MB)\n", source.stats().seeks,
                source.stats().decodedFrames, source.cacheBytes() / 1048576.0);

    // Forward steps from a random spot: the decoder simply runs on.
    source.frame(gop / 3, &error);
    t.start();
    for (int n = gop / 3 + 1; n < gop / 3 + 101 && n < count; ++n)
        source.frame(n, &error);
    const double fwd = ms(t) / 100;
    std::printf("forward step: mean %.2f ms; / sequential frame = %.2f\n", fwd, fwd / perFrame);
    return 0;
}
