#include "previewwindow.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QVBoxLayout>

namespace framix {

PreviewWindow::PreviewWindow(QWidget* parent)
    : QWidget(parent), m_picture(new QLabel(this)), m_status(new QLabel(this))
{
    auto* layout = new QVBoxLayout(this);
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setMinimumSize(320, 240);
    layout->addWidget(m_picture, 1);
    layout->addWidget(m_status);
    m_status->setText(tr("Space: play/pause   Left/Right: one frame back/forward"));
    setWindowTitle(QStringLiteral("Framix"));
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, &PreviewWindow::tick);
    connect(&m_server, &FrameServer::opened, this, [this](const MediaInfo& info) {
        m_info = info;
        setWindowTitle(QFileInfo(info.path).fileName() + QStringLiteral(" - Framix"));
        request(0);
        m_playing = info.hasVideo;
        m_playFrom = 0;
        m_clock.start();
        m_timer.start();
    });
    connect(&m_server, &FrameServer::frameReady, this, &PreviewWindow::showFrame);
    connect(&m_server, &FrameServer::indexProgress, this,
            [this](int percent) { m_status->setText(tr("Indexing %1%").arg(percent)); });
    connect(&m_server, &FrameServer::errorOccurred, this, [this](const EngineError& error) {
        m_status->setText(error.message());
        m_playing = false;
    });
}

void PreviewWindow::openFile(const QString& path)
{
    m_shown = m_requested = -1;
    m_server.openFile(path);
}

void PreviewWindow::request(int n)
{
    if (n < 0 || n >= m_info.frameCount || n == m_requested)
        return;
    m_requested = n;
    m_server.requestFrame(n);
}

void PreviewWindow::tick()
{
    if (!m_playing || m_info.frameRate <= 0)
        return;
    const int due = m_playFrom + int(m_clock.elapsed() * m_info.frameRate / 1000.0);
    if (due >= m_info.frameCount) {
        m_playing = false;
        return;
    }
    // Ask for the next due frame only once the last one has arrived: when decoding falls
    // behind, frames are dropped instead of queued.
    if (m_requested == m_shown)
        request(due);
}

void PreviewWindow::showFrame(const VideoFrame& frame, const QImage& image)
{
    m_shown = frame.number();
    m_picture->setPixmap(QPixmap::fromImage(image));
    m_status->setText(tr("Frame %1 of %2").arg(frame.number()).arg(m_info.frameCount));
}

void PreviewWindow::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space:
        m_playing = !m_playing;
        m_playFrom = qMax(0, m_shown + 1);
        m_clock.start();
        break;
    case Qt::Key_Right:
        m_playing = false;
        request(m_shown + 1);
        break;
    case Qt::Key_Left:
        m_playing = false;
        request(m_shown - 1);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

} // namespace framix
