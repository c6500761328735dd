#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace melvora {

// Dialog layouts are given in dialog units, which scale with the dialog's
// font: a horizontal unit is a quarter of the font's average character
// width, a vertical unit an eighth of its height. The layout then keeps its
// proportions whatever font the desktop gives the dialog.
QRect dialogUnitsToPixels(const QRect &units, const QFont &font);
QSize dialogUnitsToPixels(const QSize &units, const QFont &font);

} // namespace melvora
