#pragma once

#include "twips.h"

#include <QWidget>

namespace framix {

// The secondary windows are laid out in twips, like every other geometry of the program.
inline void placeTwips(QWidget* w, double x, double y, double width, double height)
{
    w->setGeometry(twips::toPixels(x), twips::toPixels(y), twips::toPixels(width),
                   twips::toPixels(height));
}

} // namespace framix
