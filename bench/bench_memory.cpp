// Plays a clip in the main window for a while, as a user would with Play, then steps back
// frame by frame from frame 300, and prints the process's peak resident memory with the
// player's counters. Meant to be run in a fresh process per clip: the peak is the whole process's.
// usage: bench_memory FILE [SECONDS] [STEPS_BACK]

#include "framememory.h"
#include "playingwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kStepsFrom = 300;

// A field of /proc/self/status (VmHWM, VmRSS) in MB, or -1.
double statusMb(const char* field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// Puts the position and waits, idle in the event loop, until the player has drawn that
// frame; false when it never comes.
bool showFrame(framix::PlayerComponent& player, int n)
{
    QEventLoop loop;
    bool shown = false;
    QObject::connect(&player, &framix::PlayerComponent::frameShown, &loop, [&](int f) {
        if (f == n) {
            shown = true;
            loop.quit();
        }
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    player.setPosition(n);
    if (player.shownFrame() != n)
        loop.exec();
    return shown || player.shownFrame() == n;
}

} // namespace

int main(int argc, char** argv)
{
    framix::keepFrameMemoryForReuse(); // as the programs do
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_memory FILE [SECONDS] [STEPS_BACK]\n");
        return 2;
    }
    const QString clip = QString::fromLocal8Bit(argv[1]);
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int steps = argc > 3 ? std::atoi(argv[3]) : 30;

    PlayingWindow playing;
    if (!playing.open(clip))
        return 1;
    framix::PlayerComponent* player = playing.player;
    const double openedMb = statusMb("VmHWM");
    playing.play(seconds);
    const double playedMb = statusMb("VmHWM");
    const auto s = player->stats();

    // The steps start from the same frame, reached the same way, in every run, wherever
    // playing stopped: what a step back decodes, and so what it holds, depends on that.
    const int from = int(std::min<qint64>(kStepsFrom, player->mediaInfo().frameCount - 1));
    if (!showFrame(*player, 0) || !showFrame(*player, from)) {
        std::fprintf(stderr, "frame %d never shown\n", from);
        return 1;
    }
    QElapsedTimer stepping;
    stepping.start();
    int stepped = 0;
    for (int n = from - 1; n >= 0 && n >= from - steps; --n) {
        if (!showFrame(*player, n)) {
            std::fprintf(stderr, "frame %d never shown\n", n);
            return 1;
        }
        ++stepped;
    }
    const double stepMs = stepped ? stepping.nsecsElapsed() / 1e6 / stepped : 0.0;

    const int total = s.shown + s.dropped;
    std::printf("%s: %d x %d, played %d s: %d frames shown, %d dropped (%.2f %%); "
                "%d steps back from frame %d, %.1f ms each\n",
                qPrintable(QFileInfo(clip).fileName()), player->mediaInfo().width,
                player->mediaInfo().height, seconds, s.shown, s.dropped,
                total ? 100.0 * s.dropped / total : 0.0, stepped, from, stepMs);
    std::printf("window %d x %d, picture drawn at %d x %d\n", playing.window.width(),
                playing.window.height(), player->width(), player->height());
    std::printf("peak resident memory: %.0f MB when open, %.0f MB after playing, "
                "%.0f MB after stepping back (now %.0f MB)\n",
                openedMb, playedMb, statusMb("VmHWM"), statusMb("VmRSS"));
    // For the script that compares runs.
    std::printf("result: peak_mb=%.0f shown=%d dropped=%d\n", statusMb("VmHWM"), s.shown,
                s.dropped);
    return 0;
}
