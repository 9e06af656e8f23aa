// Runs a bulk capture through the real main window and bulk dialog, headless, the way a
// user would with Bulk Capture: open the clip, open the dialog, set the folder (and the
// range), Begin Capture. Message boxes are answered at once and printed after the run.
// Prints the time the run took. Used by the end-to-end check of the files and by the
// benchmark.
// usage: bulk_driver CLIP OUTDIR [FROM TO]

#include "fakedesktop.h"
#include "frmbulk.h"
#include "frmmain.h"
#include "frmvideo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr, "usage: bulk_driver CLIP OUTDIR [FROM TO]\n");
        return 2;
    }
    FakeDesktop desktop;
    framix::frmmain window;
    window.setEndProgram([] {});
    window.Form_Load();
    window.show();
    window.media().openPath(QString::fromLocal8Bit(argv[1]));
    if (window.videoWindow()->MCIWnd1->fileName().isEmpty()) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    QApplication::processEvents();
    window.capture().mnubulk_Click();
    framix::frmbulk* bulk = window.capture().bulkDialog();
    bulk->txtout->setText(QString::fromLocal8Bit(argv[2]));
    if (argc == 5) {
        bulk->Option2->click();
        bulk->sldfrom->setValue(std::atoi(argv[3]));
        bulk->sldto->setValue(std::atoi(argv[4]));
    }
    QElapsedTimer t;
    t.start();
    bulk->cmdcapture->click();
    const qint64 ms = t.elapsed();
    for (const QString& text : desktop.messages)
        std::printf("message: %s\n", qPrintable(text));
    std::printf("bulk capture took %lld ms\n", static_cast<long long>(ms));
    return 0;
}
