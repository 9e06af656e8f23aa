#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace framix {

// File names for frames from a template with these tokens:
//   {frame}      the frame number (display order, from 0)
//   {frame:0N}   the same, zero-padded to N digits (N from 1 to 9)
//   {name}       the video file's name without its extension
//   {time}       the frame's time as HH-MM-SS.mmm
// Everything else is copied as it is. The extension is added by the caller.
class FrameNamer
{
public:
    static constexpr const char* kDefaultTemplate = "frame{frame}";

    // nullopt with the reason in *why when the template is not usable: an unknown or
    // unclosed token, a folder separator, or nothing that tells frames apart (neither
    // {frame} nor {time}).
    static std::optional<FrameNamer> parse(const QString& pattern, QString* why);

    // The name for frame `number` at `timeMs`, of the video file named `videoName`.
    QString name(int number, qint64 timeMs, const QString& videoName) const;
    // Whether `fileName` is one this template gives some frame (with `extension` added).
    bool matches(const QString& fileName, const QString& videoName, const QString& extension) const;
    bool usesTime() const { return m_usesTime; }
    bool usesFrame() const { return m_usesFrame; }
    // "HH-MM-SS.mmm" (hours grow past 99 when they must; a leading '-' before the start).
    static QString timeText(qint64 ms);

private:
    struct Piece
    {
        enum class Kind
        {
            Text,
            Frame,
            Name,
            Time
        } kind = Kind::Text;
        QString text;
        int width = 0; // zero-padding of {frame:0N}
    };
    std::vector<Piece> m_pieces;
    bool m_usesTime = false;
    bool m_usesFrame = false;
};

} // namespace framix
