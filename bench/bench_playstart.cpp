// Play after a seek, as a user presses F3 after moving the slider: how long the picture
// takes to move on, and the longest the user-interface thread was kept from its events
// meanwhile. Run with a sound server (bench/player.sh starts one) to measure the sound path.
// usage: bench_playstart FILE [FRAME] [ROUNDS]

#include "framememory.h"
#include "playercomponent.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    framix::keepFrameMemoryForReuse(); // as the programs do
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_playstart FILE [FRAME] [ROUNDS]\n");
        return 2;
    }
    framix::PlayerComponent player;
    player.resize(640, 360);
    player.show();
    if (!player.setFileName(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    const int from = argc > 2 ? std::atoi(argv[2]) : player.length() / 2;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;

    // The event loop's heartbeat: the longest gap between two beats is the longest stall.
    QElapsedTimer clock;
    clock.start();
    qint64 lastBeat = 0, longestGap = 0;
    QTimer beat;
    beat.setInterval(2);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestGap = std::max(longestGap, now - lastBeat);
        lastBeat = now;
    });
    beat.start();
    const auto waitUntil = [&](auto done, int ms) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        return done();
    };

    std::vector<qint64> moved, stalls;
    for (int r = 0; r < rounds; ++r) {
        const int at = from + r * 7;
        player.setPosition(at);
        waitUntil([&] { return player.shownFrame() == at; }, 10000);
        QApplication::processEvents();
        lastBeat = clock.elapsed();
        longestGap = 0;
        const qint64 t0 = clock.elapsed();
        player.setCommand(QStringLiteral("play"));
        const bool ok = waitUntil([&] { return player.shownFrame() > at + 2; }, 10000);
        moved.push_back(ok ? clock.elapsed() - t0 : -1);
        waitUntil([] { return false; }, 300);
        stalls.push_back(longestGap);
        player.setCommand(QStringLiteral("pause"));
        waitUntil([] { return false; }, 100);
    }
    std::sort(moved.begin(), moved.end());
    std::sort(stalls.begin(), stalls.end());
    std::printf("play after a seek, %d rounds: picture moving after %lld ms (median, worst "
                "%lld); longest stall of the user-interface thread %lld ms (median, worst "
                "%lld); sound clock: %s\n",
                rounds, static_cast<long long>(moved[moved.size() / 2]),
                static_cast<long long>(moved.back()),
                static_cast<long long>(stalls[stalls.size() / 2]),
                static_cast<long long>(stalls.back()), player.stats().audioClock ? "yes" : "no");
    return 0;
}
