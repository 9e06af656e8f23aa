#pragma once

#include <QLabel>

namespace framix {

// A label that reports a click: the left button pressed and released over it. The links of
// the main window's side panel and of the About window are labels of this kind.
class ClickableLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ClickableLabel(const QString& text = QString(), QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// Makes a label look like a link: blue, underlined, with a hand cursor.
void styleAsLink(QLabel* label);

} // namespace framix
