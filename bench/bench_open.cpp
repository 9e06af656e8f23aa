// Opening a file as the program does, with a cold index cache: milliseconds from the file
// being handed to the player until its first picture is drawn.
// usage: bench_open FILE [ROUNDS]   (prints the median of ROUNDS, each with an empty cache)

#include "framememory.h"
#include "playercomponent.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    framix::keepFrameMemoryForReuse(); // as the programs do
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_open FILE [ROUNDS]\n");
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    std::vector<qint64> times;
    for (int r = 0; r < rounds; ++r) {
        QTemporaryDir cache;
        framix::PlayerComponent player;
        player.setIndexCacheDir(cache.path());
        player.resize(640, 360);
        player.show();
        QElapsedTimer t;
        t.start();
        if (!player.setFileName(file)) {
            std::fprintf(stderr, "cannot open %s\n", argv[1]);
            return 1;
        }
        while (player.shownFrame() != 0 && t.elapsed() < 600000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        times.push_back(t.elapsed());
    }
    std::sort(times.begin(), times.end());
    std::printf("%lld\n", static_cast<long long>(times[times.size() / 2]));
    return 0;
}
