#pragma once

#include "mediainfo.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace framix {

// The media information window "Media info...": the open media's file name, length in
// frames, file size in KB and media type, and below them its picture size, frame rate,
// duration and codecs. It is filled once, when it loads; a window is made for each opening
// and deletes itself when closed, so every opening shows the media open at that moment.
// While it is up the main window is disabled; closing it in any way enables that window
// again. The video window stays usable. UI thread only.
class frminfo : public QWidget
{
    Q_OBJECT
public:
    // The command behind the main window's Info button and menu item: disables the main
    // window, then loads and shows a new window about the open media `info`, under the
    // video window's `caption`.
    static frminfo* open(QWidget* mainWindow, const MediaInfo& info, const QString& caption);

    frminfo(QWidget* mainWindow, const MediaInfo& info, const QString& caption);

    // Fills the rows.
    void Form_Load();

    // The size of the file at `path` in bytes; nullopt when there is no such file.
    static std::optional<qint64> fileSize(const QString& path);
    // Bytes to kilobytes as shown: divided by 1024 and rounded to the nearest whole
    // number, an exact half going to the even neighbour.
    static qint64 kilobytes(qint64 bytes);

    QLineEdit* txtfile = nullptr;
    QLabel* lbllength = nullptr;
    QLabel* lblsize = nullptr;
    QLabel* lbltype = nullptr;
    QLabel* lblpicture = nullptr;
    QLabel* lblrate = nullptr;
    QLabel* lblduration = nullptr;
    QLabel* lblvideo = nullptr;
    QLabel* lblaudio = nullptr;
    QPushButton* cmdok = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QPointer<QWidget> m_main;
    MediaInfo m_info;
    QString m_caption;
};

} // namespace framix
