#pragma once

#include "frameserver.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <QWidget>

namespace framix {

// A plain window that plays a file's pictures at their frame rate and steps through them
// with the arrow keys (Space plays and pauses). The first program window, until the
// player's full main window replaces it.
class PreviewWindow : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewWindow(QWidget* parent = nullptr);
    void openFile(const QString& path);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void showFrame(const VideoFrame& frame, const QImage& image);
    void tick();
    void request(int n);

    FrameServer m_server;
    QLabel* m_picture;
    QLabel* m_status;
    QTimer m_timer;
    QElapsedTimer m_clock;
    MediaInfo m_info;
    int m_shown = -1;
    int m_requested = -1;
    int m_playFrom = 0;
    bool m_playing = false;
};

} // namespace framix
