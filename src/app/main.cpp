#include "previewwindow.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Framix"));
    QApplication::setApplicationVersion(QStringLiteral("1.11"));
    const QStringList args = QApplication::arguments();
    // With no file named, play the demo clip that ships beside the program.
    const QString path = args.size() > 1
                             ? args.at(1)
                             : QApplication::applicationDirPath() + QStringLiteral("/demo.mpg");
    framix::PreviewWindow window;
    window.resize(800, 640);
    window.show();
    window.openFile(QFileInfo(path).absoluteFilePath());
    return app.exec();
}
