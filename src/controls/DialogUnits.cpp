#include "controls/DialogUnits.h"

#include <QFontMetrics>

#include <algorithm>
#include <cstdint>

namespace melvora {
namespace {

// number * numerator / denominator, rounded to the nearest integer with halves
// away from zero, without overflowing on the way.
int mulDiv(int number, int numerator, int denominator) {
    const std::int64_t product = std::int64_t(number) * numerator;
    const std::int64_t half = denominator / 2;
    return int(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

} // namespace

DialogUnits::DialogUnits(int baseX, int baseY) : m_baseX(std::max(baseX, 1)), m_baseY(std::max(baseY, 1)) {}

DialogUnits DialogUnits::ofFont(const QFont &font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogUnits((letters / 26 + 1) / 2, metrics.height());
}

int DialogUnits::toPixelsX(int units) const {
    return mulDiv(units, m_baseX, 4);
}

int DialogUnits::toPixelsY(int units) const {
    return mulDiv(units, m_baseY, 8);
}

QRect DialogUnits::toPixels(const QRect &units) const {
    const int left = toPixelsX(units.x());
    const int top = toPixelsY(units.y());
    const int right = toPixelsX(units.x() + units.width());
    const int bottom = toPixelsY(units.y() + units.height());
    return QRect(left, top, right - left, bottom - top);
}

QSize DialogUnits::toPixels(const QSize &units) const {
    return QSize(toPixelsX(units.width()), toPixelsY(units.height()));
}

} // namespace melvora
