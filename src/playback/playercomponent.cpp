#include "playercomponent.h"

#include "framedetails.h"

#include "sharedstate.h"
#include "twips.h"

#include <QClipboard>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPainter>
#include <QProgressDialog>

#include <algorithm>
#include <cmath>

namespace framix {

Q_LOGGING_CATEGORY(lcPlayer, "framix.playback.player", QtWarningMsg)

namespace {

// How often the display checks the clock while playing: well under a frame at 60 frames
// per second, so a frame is never shown more than a few ms late.
constexpr int kTickMs = 4;
// A load that takes longer than this shows a progress window (building a large file's
// frame index reads the whole file once).
constexpr int kProgressDelayMs = 400;
// The shortest time between two redraws of frames that a capture copies: a bulk capture
// walks through frames far faster than anyone can watch, and drawing each one would take
// time from the capture (a 1080p picture costs several ms to draw). Playback and stepping
// draw every frame.
constexpr int kCopyPaintMs = 250;
// The speeds (thousandths) at which sound plays, pitch kept.
constexpr int kMinAudibleSpeed = 500;
constexpr int kMaxAudibleSpeed = 2000;

} // namespace

PlayerComponent::PlayerComponent(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &PlayerComponent::tick);
    connect(&m_server, &FrameServer::frameReady, this,
            [this](const VideoFrame& frame, const QImage& image) {
                // Only the frame asked for last is shown, or one on the way to it (an older
                // request answered while the user keeps stepping); anything else arrived
                // after something newer was put on screen, and is dropped.
                const int n = frame.number();
                const int wanted = m_requestedFrame;
                if (wanted < 0 || m_mode == Playing || m_fileName.isEmpty())
                    return;
                const bool onTheWay = m_shownFrame >= 0 && ((m_shownFrame < n && n < wanted) ||
                                                            (wanted < n && n < m_shownFrame));
                if (n == wanted)
                    m_requestedFrame = -1;
                if (n == wanted || onTheWay)
                    showPicture(n, image);
            });
    connect(&m_server, &FrameServer::errorOccurred, this, [this](const EngineError& error) {
        qCWarning(lcPlayer) << "decoding failed:" << error.message();
        m_lastError = error;
        m_requestedFrame = -1;
    });
    // The index first used was found to differ from the decoder's: the frames are numbered
    // anew, and the picture on screen is asked for again under its new number.
    connect(&m_server, &FrameServer::indexChanged, this, [this](const MediaInfo& info) {
        if (m_fileName.isEmpty() || info.path != m_info.path)
            return;
        m_info.frameCount = info.frameCount;
        m_times = m_server.frameTimesMs();
        m_position = std::clamp(m_position, 0, std::max(0, int(info.frameCount) - 1));
        m_shownFrame = m_requestedFrame = -1;
        if (m_mode != Playing)
            requestPicture();
        reportPosition();
    });
    m_server.setTonemap(m_tonemap);
    m_audio.setVolume(m_volume);
    applySize(twips::fromPixels(320), twips::fromPixels(240));
}

PlayerComponent::~PlayerComponent()
{
    m_timer.stop();
}

int PlayerComponent::length() const
{
    return m_fileName.isEmpty() ? 0 : int(m_info.frameCount);
}

QString PlayerComponent::mode() const
{
    switch (m_mode) {
    case NotReady:
        return QStringLiteral("not ready");
    case Stopped:
        return QStringLiteral("stopped");
    case Playing:
        return QStringLiteral("playing");
    case Recording:
        return QStringLiteral("recording");
    case Seeking:
        return QStringLiteral("seeking");
    case Paused:
        return QStringLiteral("paused");
    case Open:
        return QStringLiteral("open");
    default:
        return QString();
    }
}

QString PlayerComponent::mediaType() const
{
    return m_fileName.isEmpty() ? QString() : m_info.mediaType();
}

void PlayerComponent::setCommand(const QString& command)
{
    emit commandReceived(command);
    const QString c = command.trimmed().toLower();
    if (c == QLatin1String("close")) {
        haltPlayback();
        if (!m_fileName.isEmpty())
            setMode(NotReady);
        return;
    }
    if (m_fileName.isEmpty())
        return; // every command is harmless with no media
    if (c == QLatin1String("open")) {
        // The media is loaded by the FileName put; this only reports the state.
        QMetaObject::invokeMethod(
            this, [this] { emit Notify(0); }, Qt::QueuedConnection);
    } else if (c == QLatin1String("play")) {
        play();
    } else if (c == QLatin1String("pause")) {
        if (m_mode == Playing || m_mode == Stopped) {
            haltPlayback();
            setMode(Paused);
        }
    } else if (c == QLatin1String("stop")) {
        haltPlayback();
        setMode(Stopped);
    } else {
        qCInfo(lcPlayer) << "unknown command" << command;
    }
}

bool PlayerComponent::setFileName(const QString& path, const SourceOptions& video)
{
    unload();
    m_video = {};
    m_video.deinterlace = m_deinterlace;
    if (path.isEmpty())
        return true;
    m_lastError = {};
    // A pipe or a device can block an open for ever (nothing writes to it), and could not
    // be read again from the start for frame-exact access anyway.
    const QFileInfo fi(path);
    if (fi.exists() && !fi.isFile() && !fi.isDir()) {
        m_lastError = EngineError{EngineError::Code::NotMedia,
                                  path + QStringLiteral(": a pipe or device, not a file")};
        qCInfo(lcPlayer) << "cannot open" << path << m_lastError.message();
        return false;
    }

    // Length and Start must be valid when this returns, so the load is waited for here.
    // Until the progress window is up, user input waits too, so that no other command
    // runs in the middle of this one.
    bool done = false;
    bool ok = false;
    QEventLoop loop;
    auto opened = connect(&m_server, &FrameServer::opened, &loop, [&](const MediaInfo& info) {
        m_info = info;
        ok = done = true;
        loop.quit();
    });
    auto failed =
        connect(&m_server, &FrameServer::errorOccurred, &loop, [&](const EngineError& error) {
            m_lastError = error;
            done = true;
            loop.quit();
        });
    QProgressDialog progress(tr("Reading %1 ...").arg(QFileInfo(path).fileName()), tr("Cancel"), 0,
                             100, window());
    progress.setWindowTitle(QStringLiteral("Framix"));
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setMinimumDuration(0);
    progress.setAutoReset(false);
    progress.reset(); // created hidden; shown only if the load takes a while
    bool inputAllowed = false;
    QTimer showLater;
    showLater.setSingleShot(true);
    connect(&showLater, &QTimer::timeout, &loop, [&] {
        progress.setValue(0);
        progress.show();
        inputAllowed = true;
        loop.quit(); // run again, now taking input for the Cancel button
    });
    connect(&m_server, &FrameServer::indexProgress, &progress, &QProgressDialog::setValue);
    connect(&progress, &QProgressDialog::canceled, &loop, [&] {
        m_server.closeFile();
        m_lastError = EngineError{EngineError::Code::Cancelled, QStringLiteral("cancelled")};
        done = true;
        loop.quit();
    });
    SourceOptions reading = video;
    reading.deinterlace = m_deinterlace;
    m_server.openFile(QFileInfo(path).absoluteFilePath(), reading);
    showLater.start(kProgressDelayMs);
    while (!done)
        loop.exec(inputAllowed ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    disconnect(opened);
    disconnect(failed);
    disconnect(&m_server, &FrameServer::indexProgress, &progress, nullptr);
    if (!ok) {
        qCInfo(lcPlayer) << "cannot open" << path << m_lastError.message();
        m_info = {};
        return false;
    }

    m_fileName = path;
    m_video = reading;
    m_times = m_server.frameTimesMs();
    m_position = 0;
    m_shownFrame = -1;
    m_requestedFrame = -1;
    if (m_info.hasAudio)
        m_audio.open(m_info.path);
    if (m_info.hasVideo)
        applySize(twips::fromPixels(m_info.displayWidth() * m_zoom / 100),
                  twips::fromPixels(m_info.height * m_zoom / 100));
    else
        applySize(m_widthTwips, 30);
    m_mode = m_reportedMode = Stopped;
    requestPicture();
    QMetaObject::invokeMethod(
        this, [this] { emit MediaChange(m_fileName); }, Qt::QueuedConnection);
    reportPosition();
    return true;
}

void PlayerComponent::unload()
{
    haltPlayback();
    if (m_fileName.isEmpty() && m_info.path.isEmpty())
        return;
    m_server.closeFile();
    m_audio.close();
    m_info = {};
    m_times.clear();
    m_fileName.clear();
    m_position = 0;
    m_copiedFrame = VideoFrame();
    m_image = QImage();
    m_shownFrame = -1;
    m_requestedFrame = -1;
    update();
    setMode(NotReady);
}

void PlayerComponent::setMode(int mode)
{
    m_mode = mode;
    // Reported from the event loop, once per turn: a stop followed at once by a seek is
    // one report of the mode the player ended in, as a polling media control would see it.
    postOnce(m_modeReportQueued, [this] {
        if (m_mode == m_reportedMode)
            return;
        m_reportedMode = m_mode;
        emit ModeChange(m_mode);
    });
}

void PlayerComponent::reportPosition()
{
    postOnce(m_positionReportQueued, [this] { emit PositionChange(m_position); });
}

void PlayerComponent::postOnce(bool& queued, std::function<void()> work)
{
    if (queued)
        return;
    queued = true;
    QMetaObject::invokeMethod(
        this,
        [this, &queued, work = std::move(work)] {
            queued = false;
            work();
        },
        Qt::QueuedConnection);
}

void PlayerComponent::setPosition(int frame)
{
    if (m_fileName.isEmpty())
        return;
    m_position = std::clamp(frame, 0, length());
    if (m_mode == Playing) {
        haltPlayback();
        m_mode = Paused; // play() below makes it Playing again, with no report in between
        play();
    } else {
        // Asked for from the event loop: a CopyFrame right after this put fetches the frame
        // itself and shows it, and then nothing more is asked for.
        postOnce(m_pictureRequestQueued, [this] {
            if (m_mode != Playing)
                requestPicture();
        });
        // A stopped player rewound to the start stays stopped (the end of the media is
        // reported as a stop, and the rewind that answers it must leave it so); moved
        // anywhere else it shows that frame, paused, ready to go on. A stop followed at
        // once by a move to the end (Move to Last while playing) is therefore reported as
        // paused at the end, not as a stop that would rewind.
        if (m_mode == Stopped && m_position != 0)
            setMode(Paused);
    }
    reportPosition();
}

void PlayerComponent::setTonemap(bool on)
{
    if (on == m_tonemap)
        return;
    m_tonemap = on;
    m_server.setTonemap(on);
    refreshPicture();
}

void PlayerComponent::setDeinterlace(bool on)
{
    if (on == m_deinterlace)
        return;
    m_deinterlace = on;
    m_video.deinterlace = on;
    m_server.setDeinterlace(on);
    refreshPicture();
}

void PlayerComponent::refreshPicture()
{
    // The picture on screen, or the one on its way (which the server now drops), is asked
    // for again. While playing, the stream's next frame comes with the new setting anyway.
    if (!m_info.hasVideo || m_info.frameCount <= 0 || m_mode == Playing ||
        (m_shownFrame < 0 && m_requestedFrame < 0))
        return;
    m_requestedFrame = std::min(m_position, int(m_info.frameCount) - 1);
    m_server.requestFrame(m_requestedFrame);
}

void PlayerComponent::requestPicture()
{
    if (!m_info.hasVideo || m_info.frameCount <= 0)
        return;
    const int target = std::min(m_position, int(m_info.frameCount) - 1);
    if (target == m_shownFrame || target == m_requestedFrame)
        return;
    m_requestedFrame = target;
    m_server.requestFrame(target);
}

void PlayerComponent::showPicture(int frame, const QImage& image, int minPaintMs)
{
    m_image = image;
    m_shownFrame = frame;
    if (!m_lastPaint.isValid() || m_lastPaint.elapsed() >= minPaintMs) {
        update();
    } else if (!m_paintQueued) {
        m_paintQueued = true;
        QTimer::singleShot(minPaintMs - int(m_lastPaint.elapsed()), this, [this] {
            m_paintQueued = false;
            update();
        });
    }
    emit frameShown(frame);
}

void PlayerComponent::paintEvent(QPaintEvent*)
{
    m_lastPaint.start();
    QPainter painter(this);
    if (m_image.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // The picture keeps its display shape, with black bars where the screen's or the
    // window's (as the user sized it) differs.
    QRect target = rect();
    if (m_info.height > 0) {
        const QSize shape(m_info.displayWidth(), m_info.height);
        target.setSize(shape.scaled(size(), Qt::KeepAspectRatio));
        // A pixel of rounding in a zoomed size is no bar.
        if (std::abs(target.width() - width()) <= 1 && std::abs(target.height() - height()) <= 1)
            target = rect();
        target.moveCenter(rect().center());
        painter.fillRect(rect(), Qt::black);
    }
    if (m_image.size() != target.size())
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_image);
}

qint64 PlayerComponent::endTimeMs() const
{
    if (m_info.hasVideo && !m_times.isEmpty()) {
        const double rate = m_info.frameRate > 0 ? m_info.frameRate : 25.0;
        return m_times.last() + std::llround(1000.0 / rate);
    }
    return m_info.durationMs;
}

qint64 PlayerComponent::timeOfPositionMs(int position) const
{
    if (m_info.hasVideo)
        return position < m_times.size() ? m_times.at(position) : endTimeMs();
    return qint64(position) * 1000 / MediaInfo::kSoundOnlyFrameRate;
}

int PlayerComponent::positionAtTimeMs(qint64 ms) const
{
    if (m_info.hasVideo) {
        const auto it = std::upper_bound(m_times.cbegin(), m_times.cend(), ms);
        return std::max(0, int(it - m_times.cbegin()) - 1);
    }
    return std::min(length(), int(ms * MediaInfo::kSoundOnlyFrameRate / 1000));
}

void PlayerComponent::play()
{
    if (m_mode == Playing)
        return;
    if (m_position >= length()) {
        reachEnd();
        return;
    }
    m_stats = {};
    const qint64 fromMs = timeOfPositionMs(m_position);
    m_clock.setRate(m_speed / 1000.0);
    m_clock.setPosition(fromMs * 1000);
    m_clock.setFollowsAudio(false);
    // Sound keeps its pitch from half to double speed; slower or faster, the picture runs
    // silent on the clock.
    const bool audible = m_speed >= kMinAudibleSpeed && m_speed <= kMaxAudibleSpeed;
    m_audioClock = audible && m_audio.isOpen() && m_audio.start(fromMs, m_speed / 1000.0);
    m_clock.setFollowsAudio(m_audioClock);
    m_stats.audioClock = m_audioClock;
    if (m_info.hasVideo) {
        m_server.startStream(m_position);
        m_requestedFrame = -1; // the stream replaces any still request not served yet
    }
    m_clock.start();
    setMode(Playing);
    m_timer.start();
}

void PlayerComponent::haltPlayback()
{
    if (!m_timer.isActive() && !m_audio.isRunning())
        return;
    m_timer.stop();
    m_stats.dropped += m_server.streamDropped();
    qCInfo(lcPlayer).nospace() << "played " << m_stats.shown << " frames, dropped "
                               << m_stats.dropped << ", sound clock " << m_stats.audioClock
                               << ", largest sound/picture gap " << m_stats.maxAvSkewUs / 1000
                               << " ms";
    m_server.stopStream();
    m_audio.stop();
    m_clock.pause();
}

void PlayerComponent::reachEnd()
{
    haltPlayback();
    m_position = length();
    requestPicture();
    setMode(Stopped);
    reportPosition();
}

void PlayerComponent::tick()
{
    if (m_audioClock) {
        const qint64 played = m_audio.playedUs();
        if (played >= 0) {
            // The sound fell behind (a device that is slow to start or stalled): it
            // catches up, the picture goes on.
            const qint64 behind = m_clock.syncToAudio(played);
            if (behind > 0) {
                m_audio.skip(behind);
                ++m_stats.soundCatchUps;
            } else {
                m_stats.maxAvSkewUs =
                    std::max(m_stats.maxAvSkewUs, std::abs(m_clock.lastDriftUs()));
            }
        }
    }
    const qint64 nowMs = m_clock.position() / 1000;
    if (nowMs >= endTimeMs()) {
        reachEnd();
        return;
    }
    const int due = positionAtTimeMs(nowMs);
    if (!m_info.hasVideo) {
        if (due != m_position) {
            m_position = due;
            reportPosition();
        }
        return;
    }
    m_server.setStreamDeadline(due);
    // Show the newest frame that is due; any older ones still queued came too late.
    std::optional<FrameServer::StreamFrame> show;
    for (int head = m_server.peekStreamFrame(); head >= 0 && head <= due;
         head = m_server.peekStreamFrame()) {
        if (show)
            ++m_stats.dropped;
        show = m_server.takeStreamFrame();
    }
    if (!show)
        return;
    const int n = show->frame.number();
    showPicture(n, show->image);
    ++m_stats.shown;
    if (n != m_position) {
        m_position = n;
        reportPosition();
    }
}

void PlayerComponent::setSpeed(int thousandths)
{
    m_speed = std::clamp(thousandths, 10, 2000);
    if (m_mode == Playing) {
        haltPlayback();
        m_mode = Paused;
        play();
    }
}

void PlayerComponent::setVolume(int thousandths)
{
    m_volume = std::clamp(thousandths, 0, 1000);
    m_audio.setVolume(m_volume);
}

void PlayerComponent::setZoom(int percent)
{
    m_zoom = std::clamp(percent, 10, 800);
    if (m_info.hasVideo)
        applySize(twips::fromPixels(m_info.displayWidth() * m_zoom / 100),
                  twips::fromPixels(m_info.height * m_zoom / 100));
}

void PlayerComponent::setWidthTwips(double twips)
{
    applySize(twips, m_heightTwips);
}

void PlayerComponent::setHeightTwips(double twips)
{
    applySize(m_widthTwips, twips);
}

void PlayerComponent::applySize(double widthTwips, double heightTwips)
{
    widthTwips = std::max(0.0, widthTwips);
    heightTwips = std::max(0.0, heightTwips);
    const bool changed = widthTwips != m_widthTwips || heightTwips != m_heightTwips;
    m_widthTwips = widthTwips;
    m_heightTwips = heightTwips;
    resize(twips::toPixels(widthTwips), twips::toPixels(heightTwips));
    if (changed)
        emit SizeChange();
}

QImage PlayerComponent::currentFrameImage(EngineError* error)
{
    if (!m_info.hasVideo || m_info.frameCount <= 0) {
        if (error)
            *error = EngineError{EngineError::Code::NoStreams, QStringLiteral("no picture")};
        return {};
    }
    const int target = std::min(m_position, int(m_info.frameCount) - 1);
    auto result = m_server.fetchFrame(target, error);
    if (!result)
        return {};
    m_copiedType = frameDetails(result->frame).pictureType;
    m_copiedFrame = result->frame;
    if (m_shownFrame != target && m_mode != Playing) {
        m_requestedFrame = -1; // whatever was asked for before is older than this
        showPicture(target, result->image, kCopyPaintMs);
    }
    return result->image;
}

bool PlayerComponent::CopyFrame()
{
    if (m_mode == Playing) {
        // The frame on display is the one copied; keep playing from there afterwards.
        haltPlayback();
        const QImage image = currentFrameImage(&m_lastError);
        m_mode = Paused;
        play();
        if (image.isNull())
            return false;
        QGuiApplication::clipboard()->setImage(image);
        return true;
    }
    const QImage image = currentFrameImage(&m_lastError);
    if (image.isNull())
        return false;
    QGuiApplication::clipboard()->setImage(image);
    return true;
}

} // namespace framix
