// Stepping and seeking as the user does it, through the player widget: a Position put, then
// the time until that frame is on screen. Printed next to references measured in the same
// run: the engine's sequential per-frame decoding time and the time to decode one GOP.
// usage: bench_steps FILE [GOP]

#include "framememory.h"
#include "playercomponent.h"
#include "sequentialdecoder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace framix;

namespace {

// Puts the position and waits, idle in the event loop as a real program does, until the
// player has drawn that frame; milliseconds.
double showFrame(PlayerComponent& player, int n)
{
    QElapsedTimer t;
    t.start();
    const int target = std::min(n, player.length() - 1);
    QEventLoop loop;
    QObject::connect(&player, &PlayerComponent::frameShown, &loop, [&](int shown) {
        if (shown == target)
            loop.quit();
    });
    QTimer::singleShot(30000, &loop, [&] {
        std::fprintf(stderr, "frame %d never shown\n", n);
        std::exit(1);
    });
    player.setPosition(n);
    if (player.shownFrame() != target)
        loop.exec();
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    framix::keepFrameMemoryForReuse(); // as the programs do
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_steps FILE [GOP]\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int gop = argc > 2 ? std::atoi(argv[2]) : 250;

    // References: sequential decoding of one GOP, the median of five runs, two before the
    // steps and seeks and three after them, so a machine that slows down or speeds up
    // during the run moves the reference with it.
    std::vector<double> runs;
    int decoded = 0;
    auto reference = [&] {
        SequentialDecoder seq;
        EngineError error;
        if (!seq.open(path, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error.message()));
            std::exit(1);
        }
        QElapsedTimer t;
        t.start();
        for (decoded = 0; decoded < gop && seq.next(); ++decoded) {
        }
        runs.push_back(t.nsecsElapsed() / 1e6);
    };
    reference();
    reference();

    PlayerComponent player;
    player.show();
    if (!player.setFileName(path)) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    const int length = player.length();
    // Forward: 100 steps from a third into the first GOP.
    const int start = gop / 3;
    showFrame(player, start);
    double sum = 0;
    int steps = 0;
    for (int n = start + 1; n <= start + 100 && n < length; ++n, ++steps)
        sum += showFrame(player, n);
    const double forward = sum / std::max(1, steps);

    // Backward: 100 steps from the middle of the second GOP.
    const int from = std::min(length - 1, gop + gop / 2);
    showFrame(player, from);
    sum = 0;
    steps = 0;
    for (int n = from - 1; n >= 0 && steps < 100; --n, ++steps)
        sum += showFrame(player, n);
    const double backward = sum / std::max(1, steps);

    // Random seeks, each to a fresh place.
    QRandomGenerator rng(7);
    sum = 0;
    const int seeks = 100;
    for (int i = 0; i < seeks; ++i)
        sum += showFrame(player, int(rng.bounded(length)));
    const double random = sum / seeks;

    for (int run = 0; run < 3; ++run)
        reference();
    std::sort(runs.begin(), runs.end());
    const double gopMs = runs[2];
    const double perFrame = gopMs / std::max(1, decoded);
    std::printf("%s: %d frames; sequential decode %.2f ms/frame, one GOP (%d frames) %.0f ms\n",
                argv[1], length, perFrame, decoded, gopMs);

    std::printf("forward step  %.2f ms = %.2f x sequential frame (target <= 1.5)\n", forward,
                forward / perFrame);
    std::printf("backward step %.2f ms = %.2f x sequential frame (target <= 3.0)\n", backward,
                backward / perFrame);
    std::printf("random seek   %.0f ms = %.3f x one-GOP decode (target <= 0.30)\n", random,
                random / gopMs);
    return 0;
}
