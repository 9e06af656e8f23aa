#pragma once
// The main window of the program, with a clip opened as File > Open does and played with
// Play and Pause, for the benchmarks that measure the program as a user runs it.

#include "frmmain.h"
#include "frmvideo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

class PlayingWindow
{
public:
    PlayingWindow()
    {
        window.setEndProgram([] {});
        window.Form_Load();
        window.show();
        player = window.videoWindow()->MCIWnd1;
    }

    // Opens the clip and waits, idle in the event loop, for its first picture; false (and
    // a message) when it cannot be opened.
    bool open(const QString& clip)
    {
        window.media().openPath(clip);
        if (player->fileName().isEmpty()) {
            std::fprintf(stderr, "cannot open %s\n", qPrintable(clip));
            return false;
        }
        QElapsedTimer waited;
        waited.start();
        while (player->shownFrame() != 0 && waited.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        QApplication::processEvents();
        return true;
    }

    // Play, `seconds` of the event loop, Pause.
    void play(int seconds)
    {
        window.transport().cmdplay_Click();
        QTimer::singleShot(seconds * 1000, qApp, [this] {
            window.transport().cmdplay1_Click();
            QCoreApplication::exit(0);
        });
        QApplication::exec();
    }

    framix::frmmain window;
    framix::PlayerComponent* player = nullptr;
};
