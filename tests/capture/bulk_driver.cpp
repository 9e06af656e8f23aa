// Runs a bulk capture through the real main window and bulk dialog, headless, the way a
// user would with Bulk Capture: open the clip, open the dialog, set the folder (and the
// range), Begin Capture. Message boxes are answered at once and printed after the run.
// Prints the time the run took. Used by the end-to-end check of the files and by the
// benchmark. Options after the range choose as the dialog's controls do: an output type
// (bmp png png16 jpg tiff webp webp-lossless), every=N, keyframes, scenes[=T], csv,
// quality=Q, name=TEMPLATE, and shape (the display shape setting on) or sdr (tone mapping
// off). A question to replace files is answered Replace.
// usage: bulk_driver CLIP OUTDIR [FROM TO] [OPTION...]

#include "fakedesktop.h"
#include "frmbulk.h"
#include "frmmain.h"
#include "frmvideo.h"
#include "settings.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bulk_driver CLIP OUTDIR [FROM TO] [OPTION...]\n");
        return 2;
    }
    const auto isNumber = [](const char* text) {
        bool ok = false;
        QByteArray(text).toInt(&ok);
        return ok;
    };
    const bool ranged = argc >= 5 && isNumber(argv[3]) && isNumber(argv[4]);
    QStringList options;
    for (int i = ranged ? 5 : 3; i < argc; ++i)
        options << QString::fromLocal8Bit(argv[i]);
    FakeDesktop desktop;
    // The settings of the menu, as a user sets them before capturing.
    framix::Settings::setCaptureDisplayShape(options.contains(QLatin1String("shape")));
    framix::Settings::setToneMapHdr(!options.contains(QLatin1String("sdr")));
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
    if (ranged) {
        bulk->Option2->click();
        bulk->sldfrom->setValue(std::atoi(argv[3]));
        bulk->sldto->setValue(std::atoi(argv[4]));
    }
    // The rows of the type list.
    const QStringList types{"bmp", "png", "png16", "jpg", "tiff", "webp", "webp-lossless"};
    for (const QString& option : options) {
        const QString name = option.section(QLatin1Char('='), 0, 0);
        const QString value = option.section(QLatin1Char('='), 1);
        if (types.contains(name)) {
            bulk->lsttypes->setCurrentRow(int(types.indexOf(name)));
        } else if (name == QLatin1String("every")) {
            bulk->optevery->click();
            bulk->spnevery->setValue(value.toInt());
        } else if (name == QLatin1String("keyframes")) {
            bulk->optkey->click();
        } else if (name == QLatin1String("scenes")) {
            bulk->optscenes->click();
            if (!value.isEmpty())
                bulk->spnscene->setValue(value.toDouble());
        } else if (name == QLatin1String("csv")) {
            bulk->chkcsv->setChecked(true);
        } else if (name == QLatin1String("name")) {
            bulk->txtname->setText(value);
        } else if (name == QLatin1String("quality")) {
            bulk->spnquality->setValue(value.toInt());
        } else if (name != QLatin1String("shape") && name != QLatin1String("sdr")) {
            std::fprintf(stderr, "unknown option %s\n", qPrintable(option));
            return 2;
        }
    }
    desktop.replies = {true};
    QElapsedTimer t;
    t.start();
    bulk->cmdcapture->click();
    const qint64 ms = t.elapsed();
    for (const QString& text : desktop.questions)
        std::printf("question: %s\n", qPrintable(text));
    for (const QString& text : desktop.messages)
        std::printf("message: %s\n", qPrintable(text));
    std::printf("progress: %s\n", qPrintable(bulk ? bulk->Label2->text() : QString()));
    std::printf("bulk capture took %lld ms\n", static_cast<long long>(ms));
    return 0;
}
