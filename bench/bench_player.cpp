// Plays a clip in the main window for a while, as a user would with Play, and prints the
// player's counters: frames shown and dropped, whether the sound device drove the clock,
// and the largest gap between the sound being heard and the picture on screen.
// usage: bench_player FILE [SECONDS] [SPEED]   (SPEED in thousandths, 1000 = normal)

#include "framememory.h"
#include "playingwindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QSlider>

#include <cstdio>

int main(int argc, char** argv)
{
    framix::keepFrameMemoryForReuse(); // as the programs do
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_player FILE [SECONDS] [SPEED]\n");
        return 2;
    }
    const QString clip = QString::fromLocal8Bit(argv[1]);
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int speed = argc > 3 ? std::atoi(argv[3]) : 1000;

    PlayingWindow playing;
    if (!playing.open(clip))
        return 1;
    if (speed != 1000)
        playing.window.controls().Slider3->setValue(speed);
    playing.play(seconds);

    const auto& s = playing.player->stats();
    const int total = s.shown + s.dropped;
    std::printf("%s at %d/1000 speed for %d s: %d frames shown, %d dropped (%.2f %%); "
                "sound clock: %s; largest sound/picture gap %lld ms; sound caught up %d times\n",
                qPrintable(QFileInfo(clip).fileName()), speed, seconds, s.shown, s.dropped,
                total ? 100.0 * s.dropped / total : 0.0, s.audioClock ? "yes" : "no (silent)",
                static_cast<long long>(s.maxAvSkewUs / 1000), s.soundCatchUps);
    return 0;
}
