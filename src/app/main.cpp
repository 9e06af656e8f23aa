#include "filepaths.h"
#include "framememory.h"
#include "frmmain.h"
#include "frmtip.h"
#include "frmvideo.h"
#include "settings.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    framix::keepFrameMemoryForReuse();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Framix"));
    QApplication::setApplicationVersion(QStringLiteral("1.11"));
    framix::frmmain window;
    window.Form_Load();
    window.show();
    // The Tip of the Day comes up with the program for as long as the user keeps its
    // "Show Tips at Startup" box set.
    if (framix::Settings::showTipsAtStartup() != 0)
        framix::frmTip::open(&window, window.videoWindow());
    // `framix FILE` opens FILE as if it had been chosen with File > Open.
    const QStringList args = QApplication::arguments();
    if (args.size() > 1) {
        // By its bytes: a name that is not valid text is opened all the same.
        const QString path =
            QFileInfo(framix::pathFromBytes(QByteArray(argv[1]))).absoluteFilePath();
        if (!QFileInfo(path).isFile())
            std::fprintf(stderr, "framix: %s: no such file\n", qPrintable(args.at(1)));
        QTimer::singleShot(0, &window, [&window, path] { window.media().openPath(path); });
    }
    return app.exec();
}
