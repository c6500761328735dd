#include "controls/BitmapRegion.h"

#include <gtest/gtest.h>

#include <functional>

namespace melvora {
namespace {

const QColor white(255, 255, 255);

QImage filled(int width, int height, const QColor &colour, QImage::Format format = QImage::Format_RGB888) {
    QImage image(width, height, format);
    image.fill(colour);
    return image;
}

// A fixed scatter of white and coloured pixels with holes, ragged rows and
// repeated rows, checked against a region built one pixel at a time.
QImage scattered() {
    QImage image = filled(37, 23, white);
    unsigned seed = 12345;
    for (int y = 0; y < image.height(); ++y) {
        if (y % 7 == 3 && y > 0) { // a row repeating the one above
            for (int x = 0; x < image.width(); ++x)
                image.setPixelColor(x, y, image.pixelColor(x, y - 1));
            continue;
        }
        for (int x = 0; x < image.width(); ++x) {
            seed = seed * 1103515245u + 12345u;
            if ((seed >> 16) % 3 != 0)
                image.setPixelColor(x, y, QColor(10, 20, int((seed >> 8) % 255)));
        }
    }
    return image;
}

QRegion pixelByPixel(const QImage &image) {
    QRegion region;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() != 0 && !(c.red() == 255 && c.green() == 255 && c.blue() == 255))
                region += QRect(x, y, 1, 1);
        }
    return region;
}

struct RegionCase {
    std::string name;
    std::function<QImage()> picture;
    std::function<QRegion(const QImage &)> expected;
};

std::ostream &operator<<(std::ostream &out, const RegionCase &row) {
    return out << row.name;
}

class BitmapRegionTest : public ::testing::TestWithParam<RegionCase> {};

TEST_P(BitmapRegionTest, HoldsExactlyTheNonWhitePixels) {
    const QImage picture = GetParam().picture();
    const std::optional<QRegion> region = BuildBitmapRegion(picture);
    ASSERT_TRUE(region.has_value());
    const QRegion expected = GetParam().expected(picture);
    EXPECT_TRUE((*region ^ expected).isEmpty())
        << "got " << region->rectCount() << " rects, bounding " << region->boundingRect().width() << "x"
        << region->boundingRect().height();
    EXPECT_EQ(region->boundingRect(), expected.boundingRect());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BitmapRegionTest,
    ::testing::Values(RegionCase{"no_white_gives_the_whole_rectangle",
                                 [] { return filled(65, 35, QColor(190, 220, 250)); },
                                 [](const QImage &) { return QRegion(0, 0, 65, 35); }},
                      RegionCase{"white_border_is_cut_away",
                                 [] {
                                     QImage image = filled(40, 20, white);
                                     for (int y = 3; y < 17; ++y)
                                         for (int x = 3; x < 37; ++x)
                                             image.setPixelColor(x, y, QColor(0, 0, 0));
                                     return image;
                                 },
                                 [](const QImage &) { return QRegion(3, 3, 34, 14); }},
                      RegionCase{"nearly_white_is_kept",
                                 [] {
                                     QImage image = filled(6, 4, white);
                                     image.setPixelColor(1, 1, QColor(254, 255, 255));
                                     image.setPixelColor(4, 2, QColor(255, 255, 254));
                                     return image;
                                 },
                                 [](const QImage &) { return QRegion(1, 1, 1, 1) + QRegion(4, 2, 1, 1); }},
                      RegionCase{"fully_transparent_pixels_are_cut_away",
                                 [] {
                                     QImage image = filled(8, 8, QColor(0, 0, 255), QImage::Format_ARGB32);
                                     image.setPixelColor(0, 0, QColor(0, 0, 0, 0));
                                     return image;
                                 },
                                 [](const QImage &) { return QRegion(0, 0, 8, 8) - QRegion(0, 0, 1, 1); }},
                      RegionCase{"all_white_is_empty", [] { return filled(10, 10, white); },
                                 [](const QImage &) { return QRegion(); }},
                      RegionCase{"scattered_pixels_match_pixel_by_pixel", scattered, pixelByPixel}),
    [](const auto &info) { return info.param.name; });

TEST(BitmapRegion, NullPictureGivesNoRegion) {
    EXPECT_EQ(BuildBitmapRegion(QImage()), std::nullopt);
}

TEST(BitmapRegion, RepeatedRowsShareOneBand) {
    // A rounded bar: identical middle rows must not cost one rectangle per row.
    QImage image = filled(96, 35, QColor(100, 150, 200));
    for (int y : {0, 34})
        for (int x : {0, 1, 94, 95})
            image.setPixelColor(x, y, white);
    const std::optional<QRegion> region = BuildBitmapRegion(image);
    ASSERT_TRUE(region.has_value());
    EXPECT_EQ(region->rectCount(), 3);
}

} // namespace
} // namespace melvora
