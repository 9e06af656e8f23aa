#pragma once

#include "audiooutput.h"
#include "engineerror.h"
#include "frameserver.h"
#include "mediaclock.h"
#include "mediainfo.h"

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <functional>

namespace framix {

// The player: loads one media file, plays it, seeks frame-exactly and draws the picture in
// its own rectangle. Its members keep the names of the media player control the rest of
// the program is written against: commands ("open", "play", "pause", "stop", "close"),
// FileName, Length, Start, Position, Mode, Speed, Volume, Zoom, CopyFrame, and an outer
// size in twips. It reports back through five signals, always delivered from the event
// loop (never from inside the call that caused them) except SizeChange, which is raised
// before the resizing call returns.
//
// Positions count display-order frames from 0 to Length; Position == Length is the end of
// the media and shows the last frame. Media without a picture count 25 frames per second
// of sound and have a Height of exactly 30 twips.
//
// Decoding runs on the FrameServer's worker thread; everything here runs on the UI thread.
class PlayerComponent : public QWidget
{
    Q_OBJECT
public:
    enum ModeCode
    {
        NotReady = 524,
        Stopped = 525,
        Playing = 526,
        Recording = 527,
        Seeking = 528,
        Paused = 529,
        Open = 530,
    };

    explicit PlayerComponent(QWidget* parent = nullptr);
    ~PlayerComponent() override;

    void setCommand(const QString& command);

    QString fileName() const { return m_fileName; }
    // Loads the file ("" unloads). Length and Start are valid when this returns. Building
    // a new file's frame index can take a while: a progress window with Cancel comes up
    // then. False, with lastError() set, when the file cannot be played or was cancelled.
    // `video` chooses the video stream (the file's default one unless told) and whether the
    // picture is turned upright as the file asks (it is by default); whether it is
    // deinterlaced is the player's setting (setDeinterlace), whatever `video` says.
    bool setFileName(const QString& path, const SourceOptions& video = {});
    // How the open file's video is read: every capture reads it the same way.
    const SourceOptions& videoOptions() const { return m_video; }
    EngineError lastError() const { return m_lastError; }
    // The picture type ('I', 'P', 'B'; '?' when the decoder does not say) of the frame the
    // last successful currentFrameImage() or CopyFrame() gave.
    char copiedPictureType() const { return m_copiedType; }
    // The decoded frame the last successful currentFrameImage() or CopyFrame() gave, at its
    // full depth (a picture of more than 8 bits per component can be saved as one); null
    // once the file is closed.
    VideoFrame copiedFrame() const { return m_copiedFrame; }
    // What the open file's index says about each frame (time, timestamp, keyframe).
    std::vector<FrameIndex::Facts> frameFacts() const { return m_server.frameFacts(); }

    int length() const;
    int start() const { return 0; }
    int position() const { return m_position; }
    void setPosition(int frame);

    QString mode() const;
    int modeCode() const { return m_mode; }
    QString mediaType() const;
    QString deviceType() const { return m_deviceType; }
    void setDeviceType(const QString& type) { m_deviceType = type; }

    int speed() const { return m_speed; }
    void setSpeed(int thousandths);
    int volume() const { return m_volume; }
    void setVolume(int thousandths);
    int zoom() const { return m_zoom; }
    void setZoom(int percent);

    // Puts the frame at the current position, at its stored size, on the clipboard.
    // Waits for that frame to be decoded when it is not on screen yet. False when there
    // is no picture to copy.
    bool CopyFrame();
    // The frame at the current position at its stored size (what CopyFrame copies).
    QImage currentFrameImage(EngineError* error = nullptr);

    // Outer size in twips.
    double widthTwips() const { return m_widthTwips; }
    double heightTwips() const { return m_heightTwips; }
    void setWidthTwips(double twips);
    void setHeightTwips(double twips);

    const MediaInfo& mediaInfo() const { return m_info; }
    // The display time of a position (frame) from the start, in ms, and the last position
    // shown at or before a time.
    qint64 timeOfPositionMs(int position) const;
    int positionAtTimeMs(qint64 ms) const;
    bool hasPicture() const { return m_info.hasVideo; }
    // The frame number whose picture is on screen, -1 for none.
    int shownFrame() const { return m_shownFrame; }

    // Playback counters, reset by each "play".
    struct Stats
    {
        int shown = 0;           // frames drawn while playing
        int dropped = 0;         // frames passed over because they were late
        qint64 maxAvSkewUs = 0;  // largest |sound position - picture clock| the clock followed
        int soundCatchUps = 0;   // times the sound fell behind and skipped ahead
        bool audioClock = false; // whether the sound device drove the clock
    };
    const Stats& stats() const { return m_stats; }

    // Where the frame index cache lives (tests point it into the build tree).
    void setIndexCacheDir(const QString& dir) { m_server.setIndexCacheDir(dir); }
    // Whether high dynamic range video (PQ or HLG) is shown and copied tone-mapped to
    // standard range (FrameServer::setTonemap). On at first. A picture on screen is made
    // again with the new setting.
    void setTonemap(bool on);
    bool tonemap() const { return m_tonemap; }
    // Whether video frames flagged interlaced are shown and copied deinterlaced
    // (SourceOptions::deinterlace, also in videoOptions(), so captures that read the file
    // themselves do the same). Off at first. The open file is not opened again: the
    // picture on screen is made again with the new setting, and playback goes on with it.
    void setDeinterlace(bool on);
    bool deinterlace() const { return m_deinterlace; }

signals:
    void ModeChange(int mode);
    void MediaChange(const QString& value);
    void Notify(int value);
    void PositionChange(int value);
    void SizeChange();
    // A frame was drawn (for benchmarks and tests that wait for the picture).
    void frameShown(int frame);
    // Every command put, as given, before it acts (tests observe the command traffic).
    void commandReceived(const QString& command);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void unload();
    void setMode(int mode);
    void reportPosition();
    // Runs `work` from the event loop, once however often this is called before it runs;
    // `queued` (a member) says whether it is pending.
    void postOnce(bool& queued, std::function<void()> work);
    // Puts the picture on screen; redraws no sooner than minPaintMs after the last one.
    void showPicture(int frame, const QImage& image, int minPaintMs = 0);
    void requestPicture();
    // After a change of a setting that makes pictures: the one on screen again.
    void refreshPicture();
    void play();
    void haltPlayback();
    void tick();
    void reachEnd();
    qint64 endTimeMs() const;
    void applySize(double widthTwips, double heightTwips);

    FrameServer m_server;
    AudioOutput m_audio;
    MediaClock m_clock;
    QTimer m_timer;
    MediaInfo m_info;
    QVector<qint64> m_times;
    EngineError m_lastError;
    char m_copiedType = '?';
    VideoFrame m_copiedFrame;

    QString m_fileName;
    SourceOptions m_video;
    QString m_deviceType;
    int m_position = 0;
    int m_mode = NotReady;
    int m_reportedMode = NotReady;
    bool m_modeReportQueued = false;
    bool m_positionReportQueued = false;
    bool m_pictureRequestQueued = false;
    int m_speed = 1000;
    int m_volume = 1000;
    int m_zoom = 100;
    double m_widthTwips = 0;
    double m_heightTwips = 0;

    QImage m_image;
    QElapsedTimer m_lastPaint;
    bool m_paintQueued = false;
    int m_shownFrame = -1;
    int m_requestedFrame = -1;
    bool m_tonemap = true;
    bool m_deinterlace = false;
    bool m_audioClock = false;
    Stats m_stats;
};

} // namespace framix
