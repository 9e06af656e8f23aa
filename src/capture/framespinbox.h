#pragma once

#include <QSpinBox>

#include <functional>
#include <optional>

namespace framix {

// A spin box of frame numbers that also takes a time typed as Go to Frame takes it
// (h:mm:ss.mmm, see FrameTarget), turned into the frame shown at that time. It shows frame
// numbers; what was typed counts once Enter is pressed or the box loses the focus, so that
// typing a number does not move the player to each of its first digits. UI thread only.
class FrameSpinBox : public QSpinBox
{
    Q_OBJECT
public:
    // The frame shown at a time in ms, or nothing when the time is past the media's end.
    using TimeToFrame = std::function<std::optional<int>(qint64 ms)>;

    explicit FrameSpinBox(QWidget* parent = nullptr);
    void setTimeToFrame(TimeToFrame toFrame) { m_toFrame = std::move(toFrame); }
    // The frame `text` names, or nothing.
    std::optional<int> frameOf(const QString& text) const;

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    int valueFromText(const QString& text) const override;

private:
    TimeToFrame m_toFrame;
};

} // namespace framix
