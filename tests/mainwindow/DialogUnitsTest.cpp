#include "controls/DialogUnits.h"

#include <gtest/gtest.h>

namespace melvora {
namespace {

struct UnitCase {
    int baseX;
    int baseY;
    QRect units;
    QRect pixels; // worked out by hand: x * baseX / 4 and y * baseY / 8, halves rounded away from zero
};

TEST(DialogUnits, MapTheEdgesRoundingHalvesAwayFromZero) {
    const UnitCase cases[] = {
        {7, 17, QRect(306, 13, 49, 14), QRect(536, 28, 85, 29)},   // 535.5, 27.625 .. 621.25, 57.375
        {7, 14, QRect(306, 13, 49, 14), QRect(536, 23, 85, 24)},   // 535.5, 22.75 .. 621.25, 47.25
        {6, 13, QRect(0, 0, 1, 1), QRect(0, 0, 2, 2)},             // 1.5 and 1.625 round up
        {6, 13, QRect(2, 2, 1, 1), QRect(3, 3, 2, 2)},             // 3, 3.25 .. 4.5, 4.875
        {6, 13, QRect(-1, -1, 1, 1), QRect(-2, -2, 2, 2)},         // -1.5 and -1.625 round down
        {8, 16, QRect(10, 10, 20, 20), QRect(20, 20, 40, 40)},     // exact
    };
    for (const UnitCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.baseX << "x" << c.baseY);
        EXPECT_EQ(DialogUnits(c.baseX, c.baseY).toPixels(c.units), c.pixels);
    }
    EXPECT_EQ(DialogUnits(7, 17).toPixels(QSize(362, 205)), QSize(634, 436));
}

// Controls whose edges meet in the template (browse and open folder, a path
// box and its button) meet in pixels too, whatever the font.
TEST(DialogUnits, EdgesThatMeetStayMet) {
    const std::pair<QRect, QRect> neighbours[] = {
        {QRect(210, 161, 36, 17), QRect(246, 161, 57, 17)},
        {QRect(8, 13, 297, 14), QRect(305, 13, 49, 14)},
        {QRect(6, 100, 169, 12), QRect(6, 112, 169, 8)},
    };
    for (int baseX = 4; baseX <= 12; ++baseX) {
        for (int baseY = 8; baseY <= 24; ++baseY) {
            const DialogUnits units(baseX, baseY);
            for (const auto &[first, second] : neighbours) {
                const QRect a = units.toPixels(first);
                const QRect b = units.toPixels(second);
                EXPECT_FALSE(a.intersects(b)) << baseX << "x" << baseY;
                EXPECT_TRUE(a.right() + 1 == b.left() || a.bottom() + 1 == b.top()) << baseX << "x" << baseY;
            }
        }
    }
}

TEST(DialogUnits, GrowWithTheFont) {
    QFont small;
    small.setPointSize(8);
    QFont large = small;
    large.setPointSize(16);
    const DialogUnits a = DialogUnits::ofFont(small);
    const DialogUnits b = DialogUnits::ofFont(large);
    EXPECT_GT(a.baseX(), 0);
    EXPECT_GT(a.baseY(), 0);
    EXPECT_GT(b.baseX(), a.baseX());
    EXPECT_GT(b.baseY(), a.baseY());
}

} // namespace
} // namespace melvora
