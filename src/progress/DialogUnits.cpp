#include "progress/DialogUnits.h"

#include <QFontMetrics>

namespace melvora {
namespace {

struct BaseUnits {
    int x = 0;
    int y = 0;
};

BaseUnits baseUnits(const QFont &font) {
    const QFontMetrics metrics(font);
    // The average over the Latin letters, rounded to the nearest pixel.
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int width = metrics.horizontalAdvance(letters);
    return {(width / 26 + 1) / 2, metrics.height()};
}

int scale(int units, int base, int divisor) {
    // Rounded like the integer multiply-divide dialog templates are laid out with.
    return (units * base + divisor / 2) / divisor;
}

} // namespace

QRect dialogUnitsToPixels(const QRect &units, const QFont &font) {
    const BaseUnits base = baseUnits(font);
    return {scale(units.x(), base.x, 4), scale(units.y(), base.y, 8), scale(units.width(), base.x, 4),
            scale(units.height(), base.y, 8)};
}

QSize dialogUnitsToPixels(const QSize &units, const QFont &font) {
    return dialogUnitsToPixels(QRect(QPoint(0, 0), units), font).size();
}

} // namespace melvora
