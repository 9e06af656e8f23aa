#include "clickablelabel.h"

#include <QMouseEvent>

namespace framix {

void ClickableLabel::mousePressEvent(QMouseEvent* event)
{
    // Accepting the press makes the release come here rather than to the parent window.
    if (event->button() == Qt::LeftButton)
        event->accept();
    else
        QLabel::mousePressEvent(event);
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event)
{
    // A press dragged off the label before release is not a click.
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        event->accept();
        emit clicked();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void styleAsLink(QLabel* label)
{
    label->setStyleSheet(QStringLiteral("color: blue; text-decoration: underline;"));
    label->setCursor(Qt::PointingHandCursor);
}

} // namespace framix
