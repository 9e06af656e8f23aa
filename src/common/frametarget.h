#pragma once

#include <QString>

#include <optional>

namespace framix {

// A place in the media as the user types it, in Go to Frame and in the bulk dialog's range
// boxes: a frame number ("1234"), or a time from the start ("1:02:03.456", "2:03.5",
// "3.25"; hours, minutes and the fraction are optional), kept in ms. Which frame a time
// falls on is the player's to say.
struct FrameTarget
{
    bool isTime = false;
    qint64 value = 0; // the frame, or the time in ms

    // Nothing for anything else than those two forms (signs, words, seconds past 59 after
    // minutes, minutes past 59 after hours).
    static std::optional<FrameTarget> parse(const QString& text);
};

} // namespace framix
