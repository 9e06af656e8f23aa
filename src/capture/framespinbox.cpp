#include "framespinbox.h"

#include "frametarget.h"

#include <QRegularExpression>

namespace framix {

FrameSpinBox::FrameSpinBox(QWidget* parent) : QSpinBox(parent)
{
    setKeyboardTracking(false);
    setAccelerated(true);
}

std::optional<int> FrameSpinBox::frameOf(const QString& text) const
{
    const std::optional<FrameTarget> target = FrameTarget::parse(text);
    if (!target)
        return std::nullopt;
    if (!target->isTime)
        return target->value <= maximum() ? std::optional<int>(int(target->value)) : std::nullopt;
    return m_toFrame ? m_toFrame(target->value) : std::nullopt;
}

QValidator::State FrameSpinBox::validate(QString& input, int&) const
{
    const std::optional<int> frame = frameOf(input);
    if (frame && *frame >= minimum() && *frame <= maximum())
        return QValidator::Acceptable;
    // Digits, colons and a point may still become a frame or a time as the user types; a box
    // left holding one that names none goes back to its value.
    static const QRegularExpression typing(QStringLiteral("^\\s*[0-9:.]*\\s*$"));
    return typing.match(input).hasMatch() ? QValidator::Intermediate : QValidator::Invalid;
}

int FrameSpinBox::valueFromText(const QString& text) const
{
    return frameOf(text).value_or(value());
}

} // namespace framix
