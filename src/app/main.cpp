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
#include <cstring>

namespace {

constexpr const char* kVersion = "1.11";

void printUsage(std::FILE* to)
{
    std::fputs("Usage: framix [OPTION] [FILE]\n"
               "Play a video frame by frame and save its frames as pictures.\n"
               "FILE is opened as if it had been chosen with File > Open.\n"
               "\n"
               "  -h, --help     show this help and exit\n"
               "  -v, --version  show the version and exit\n"
               "  --             end of options: a FILE that starts with '-' follows\n"
               "\n"
               "Qt's own options (-platform, -style, ...) are accepted too.\n"
               "Frames of many files at once: framix-grab --help\n",
               to);
}

// Qt's options that take a value: their value is not our FILE.
bool takesValue(const char* arg)
{
    static const char* const withValue[] = {"-platform",
                                            "-platformpluginpath",
                                            "-platformtheme",
                                            "-plugin",
                                            "-qmljsdebugger",
                                            "-style",
                                            "-stylesheet",
                                            "-session",
                                            "-display",
                                            "-geometry",
                                            "-qwindowgeometry",
                                            "-qwindowtitle",
                                            "-qwindowicon",
                                            "-title",
                                            "-name",
                                            "-screen",
                                            "-dialogs"};
    for (const char* o : withValue)
        if (std::strcmp(arg, o) == 0 || (arg[0] == '-' && std::strcmp(arg + 1, o) == 0))
            return true;
    return false;
}

bool qtFlag(const char* arg)
{
    static const char* const flags[] = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};
    for (const char* o : flags)
        if (std::strcmp(arg, o) == 0 || (arg[0] == '-' && std::strcmp(arg + 1, o) == 0))
            return true;
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    // The command line is read before any window exists, so that --help and --version work
    // without a display, as they do for every other program.
    const char* file = nullptr;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!optionsEnd && a[0] == '-' && a[1] != '\0') {
            if (std::strcmp(a, "--") == 0) {
                optionsEnd = true;
            } else if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
                printUsage(stdout);
                return 0;
            } else if (std::strcmp(a, "-v") == 0 || std::strcmp(a, "--version") == 0) {
                std::printf("framix %s\n", kVersion);
                return 0;
            } else if (takesValue(a)) {
                ++i;
            } else if (!qtFlag(a)) {
                std::fprintf(stderr, "framix: unknown option %s\nTry 'framix --help'.\n", a);
                return 2;
            }
            continue;
        }
        if (file) {
            std::fprintf(stderr,
                         "framix: one FILE at a time (also given: %s)\nTry 'framix --help'.\n", a);
            return 2;
        }
        file = a;
    }

    framix::keepFrameMemoryForReuse();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Framix"));
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    framix::frmmain window;
    window.Form_Load();
    window.placeAtStart();
    window.show();
    // The Tip of the Day comes up with the program for as long as the user keeps its
    // "Show Tips at Startup" box set. It comes last, so that it is in front of every
    // window the start opened and has the keyboard.
    const auto tip = [&window] {
        if (framix::Settings::showTipsAtStartup() != 0)
            framix::frmTip::open(&window, window.videoWindow());
    };
    if (!file) {
        tip();
        return app.exec();
    }
    // `framix FILE` opens FILE as if it had been chosen with File > Open. By its bytes: a
    // name that is not valid text is opened all the same.
    const QString path = QFileInfo(framix::pathFromBytes(QByteArray(file))).absoluteFilePath();
    if (!QFileInfo(path).isFile())
        std::fprintf(stderr, "framix: %s: no such file\n", file);
    QTimer::singleShot(0, &window, [&window, path, tip] {
        window.media().openPath(path);
        tip();
    });
    return app.exec();
}
