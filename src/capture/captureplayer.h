#pragma once

#include "frameindex.h"
#include "mediainfo.h"
#include "sourceoptions.h"
#include "videoframe.h"

#include <QString>

#include <vector>

namespace framix {

// What the capture windows need of the player: the file, where it is, and the frame it
// shows put on the clipboard. The program gives them its player through this, so capturing
// does not depend on how playback is built.
class CapturePlayer
{
public:
    virtual ~CapturePlayer() = default;

    // The open file as it was given; "" when none is open.
    virtual QString fileName() const = 0;
    virtual bool isPlaying() const = 0;
    // The player's mode word, as the main window's state label shows it.
    virtual QString mode() const = 0;
    // The main window's pause (the play button while playing).
    virtual void pause() = 0;
    // Stops playback where it is (a stop leaves the position alone until a seek).
    virtual void stop() = 0;
    // The video window back to the picture's stored size.
    virtual void normalSize() = 0;
    // Moves to frame n; the frame shown from then on is frame n.
    virtual void setPosition(int n) = 0;
    // Puts the frame at the position on the clipboard at its stored size; false with
    // lastError() when it could not be decoded.
    virtual bool copyFrame() = 0;
    virtual QString lastError() const = 0;
    // The picture type ('I', 'P', 'B'; '?' when the decoder does not say) of the frame the
    // last successful copyFrame() copied.
    virtual char copiedPictureType() const = 0;
    // The decoded frame the last successful copyFrame() copied, at its full depth.
    virtual VideoFrame copiedFrame() const = 0;
    // The time a position shows, in ms from the start (the length: the end of the last
    // frame), and the position whose frame shows at a time, as the main window counts them.
    virtual qint64 timeOfPositionMs(int position) const = 0;
    virtual int positionAtTimeMs(qint64 ms) const = 0;
    // The open file's description (sample aspect ratio, frame rate, ...).
    virtual MediaInfo mediaInfo() const = 0;
    // How the player reads the open file's video (its stream, turned upright or not): a
    // capture that reads the file itself reads it the same way.
    virtual SourceOptions videoOptions() const = 0;
    // What the frame index says about each frame of the open file, by frame number.
    virtual std::vector<FrameIndex::Facts> frameFacts() const = 0;
};

} // namespace framix
