#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace melvora {

// Converts dialog units into pixels the way dialog templates are laid out: a
// horizontal unit is a quarter of the font's average character width and a
// vertical unit an eighth of its character height, so a layout keeps its
// proportions whatever font and screen it meets.
class DialogUnits {
public:
    DialogUnits(int baseX, int baseY);

    // Base units of a font: the average width of the 52 Latin letters,
    // rounded, and the font's line height.
    static DialogUnits ofFont(const QFont &font);

    int baseX() const { return m_baseX; }
    int baseY() const { return m_baseY; }

    int toPixelsX(int units) const;
    int toPixelsY(int units) const;

    // Maps the four edges, not the size, so that controls whose edges meet
    // in dialog units still meet in pixels.
    QRect toPixels(const QRect &units) const;
    QSize toPixels(const QSize &units) const;

private:
    int m_baseX;
    int m_baseY;
};

} // namespace melvora
