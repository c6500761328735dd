#include "ControlTesting.h"

#include "controls/CLabel.h"

#include <gtest/gtest.h>

namespace melvora {
namespace {

using namespace melvora::testing;

struct FlagsCase {
    std::string name;
    int staticType;
    bool centerImage;
    QString text;
    int expected;
};

std::ostream &operator<<(std::ostream &out, const FlagsCase &row) {
    return out << row.name;
}

class CLabelFlags : public ::testing::TestWithParam<FlagsCase> {};

TEST_P(CLabelFlags, StaticTypeChoosesAlignmentAndWrapping) {
    const FlagsCase &row = GetParam();
    EXPECT_EQ(CLabel::drawFlags(row.staticType, row.centerImage, row.text), row.expected);
}

const QString plain = QStringLiteral("C:/v/clip.mp4   42% done");
const QString tabbed = QStringLiteral("a\tb");
const QString twoLines = QStringLiteral("first\r\nsecond");
constexpr int wrap = Qt::TextWordWrap;

INSTANTIATE_TEST_SUITE_P(
    Rows, CLabelFlags,
    ::testing::Values(FlagsCase{"left", CLabel::Left, false, plain, Qt::AlignLeft | wrap},
                      FlagsCase{"center", CLabel::Center, false, plain, Qt::AlignHCenter | wrap},
                      FlagsCase{"right", CLabel::Right, false, plain, Qt::AlignRight | wrap},
                      FlagsCase{"left_no_word_wrap", CLabel::LeftNoWordWrap, false, plain, Qt::AlignLeft},
                      FlagsCase{"other_type_3", 3, false, plain, Qt::AlignLeft | wrap},
                      FlagsCase{"other_type_13", 13, false, plain, Qt::AlignLeft | wrap},
                      FlagsCase{"tab_expands", CLabel::Left, false, tabbed, Qt::AlignLeft | wrap | Qt::TextExpandTabs},
                      FlagsCase{"tab_expands_unwrapped", CLabel::LeftNoWordWrap, false, tabbed,
                                Qt::AlignLeft | Qt::TextExpandTabs},
                      FlagsCase{"center_image_one_line", CLabel::Left, true, plain,
                                Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine},
                      FlagsCase{"center_image_overrides_right", CLabel::Right, true, plain,
                                Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine},
                      FlagsCase{"center_image_two_lines", CLabel::Left, true, twoLines, Qt::AlignHCenter},
                      FlagsCase{"center_image_drops_tabs", CLabel::Left, true, tabbed,
                                Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine},
                      FlagsCase{"bare_newline_is_not_a_line_break_pair", CLabel::Left, true, QStringLiteral("a\nb"),
                                Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine}),
    [](const auto &info) { return info.param.name; });

// Rows and columns of the image that hold other colours than the face.
QRect inkBounds(const QImage &image, const QColor &face) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) != face)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

QFont labelFont() {
    QFont font;
    font.setPixelSize(14);
    return font;
}

TEST(CLabel, EmptyTextPaintsOnlyTheFace) {
    CLabel label;
    label.resize(120, 20);
    const QImage image = rendered(&label);
    EXPECT_TRUE(inkBounds(image, label.faceColour()).isNull());
    EXPECT_EQ(image.pixelColor(0, 0), label.palette().color(QPalette::Window));
}

TEST(CLabel, FaceFollowsThePaletteUnlessSet) {
    CLabel label(QStringLiteral("x"));
    label.resize(60, 20);
    QPalette palette = label.palette();
    palette.setColor(QPalette::Window, QColor(200, 100, 50));
    label.setPalette(palette);
    EXPECT_EQ(rendered(&label).pixelColor(59, 19), QColor(200, 100, 50));
    label.setFaceColour(QColor(187, 222, 251));
    EXPECT_EQ(rendered(&label).pixelColor(59, 19), QColor(187, 222, 251));
    label.setFaceColour(QColor());
    EXPECT_EQ(rendered(&label).pixelColor(59, 19), QColor(200, 100, 50));
}

TEST(CLabel, LongTextWrapsOnlyWhenTheTypeWraps) {
    const QString text = QStringLiteral("alpha beta gamma delta epsilon zeta eta theta iota kappa");
    CLabel label(text);
    label.setFont(labelFont());
    label.setFaceColour(Qt::white);
    label.resize(120, 120);
    const int lineHeight = QFontMetrics(labelFont()).height();

    const QRect wrapped = inkBounds(rendered(&label), Qt::white);
    EXPECT_GT(wrapped.height(), 2 * lineHeight);
    EXPECT_LE(wrapped.right(), 119);

    label.setStaticType(CLabel::LeftNoWordWrap);
    const QRect single = inkBounds(rendered(&label), Qt::white);
    EXPECT_LE(single.height(), lineHeight);
    EXPECT_EQ(single.right(), 119) << "cut at the edge";
}

TEST(CLabel, CenterImageCentresOneLineBothWays) {
    CLabel label(QStringLiteral("IIIIIIII"));
    label.setFont(labelFont());
    label.setFaceColour(Qt::white);
    label.setCenterImage(true);
    label.resize(200, 80);
    const QRect ink = inkBounds(rendered(&label), Qt::white);
    ASSERT_FALSE(ink.isNull());
    EXPECT_LE(std::abs(ink.center().x() - 100), 2);
    EXPECT_LE(std::abs(ink.center().y() - 40), 4);

    label.setText(QStringLiteral("IIII\r\nIIIIIIII"));
    const QRect lines = inkBounds(rendered(&label), Qt::white);
    EXPECT_LT(lines.top(), 10) << "drawn from the top";
    EXPECT_GT(lines.height(), QFontMetrics(labelFont()).height()) << "two lines";
    EXPECT_LE(std::abs(lines.center().x() - 100), 2);
}

} // namespace
} // namespace melvora
