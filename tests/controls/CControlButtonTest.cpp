#include "ControlTesting.h"

#include "controls/BitmapResource.h"
#include "controls/CControlButton.h"

#include <gtest/gtest.h>

namespace melvora {
namespace {

using namespace melvora::testing;
using Face = CControlButton::Face;

QImage solid(const QColor &colour, QSize size = {40, 30}) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

TEST(CControlButton, StartButtonFacesFollowPointerAndPress) {
    CControlButton button;
    button.SetBitmaps(BitmapId::StartHover, BitmapId::StartNormal, BitmapId::StartNormal);
    button.resize(button.sizeHint());
    ASSERT_EQ(button.size(), QSize(90, 93));
    const QImage normal = asRgb32(loadBitmap(BitmapId::StartNormal));
    const QImage hover = asRgb32(loadBitmap(BitmapId::StartHover));
    ASSERT_NE(normal, hover);
    int clicks = 0;
    QObject::connect(&button, &QAbstractButton::clicked, [&clicks] { ++clicks; });

    struct Step {
        const char *what;
        std::function<void()> act;
        Face face;
        const QImage &shown;
    };
    const QPoint middle(45, 45);
    const Step steps[] = {
        {"at rest", [] {}, Face::Normal, normal},
        {"pointer enters", [&] { sendEnter(&button, middle); }, Face::Hover, hover},
        {"pressed", [&] { sendMouse(&button, QEvent::MouseButtonPress, middle); }, Face::Pressed, normal},
        {"released on it", [&] { sendMouse(&button, QEvent::MouseButtonRelease, middle); }, Face::Hover, hover},
        {"pressed again", [&] { sendMouse(&button, QEvent::MouseButtonPress, middle); }, Face::Pressed, normal},
        {"pointer leaves while held", [&] { sendLeave(&button); }, Face::Pressed, normal},
        {"released away",
         [&] {
             sendMouse(&button, QEvent::MouseButtonRelease, {200, 200});
         },
         Face::Normal, normal},
    };
    for (const Step &step : steps) {
        step.act();
        EXPECT_EQ(button.currentFace(), step.face) << step.what;
        EXPECT_EQ(rendered(&button), step.shown) << step.what;
    }
    EXPECT_EQ(clicks, 1) << "a release away from the button is no click";
}

TEST(CControlButton, SecondSetBitmapsReplacesAllThree) {
    CControlButton button;
    button.SetBitmaps(solid(Qt::green), solid(Qt::red), solid(Qt::blue));
    button.SetBitmaps(solid(Qt::cyan), solid(Qt::magenta), solid(Qt::yellow));
    button.resize(40, 30);
    EXPECT_EQ(rendered(&button), solid(Qt::magenta));
    sendEnter(&button);
    EXPECT_EQ(rendered(&button), solid(Qt::cyan));
    sendMouse(&button, QEvent::MouseButtonPress, {5, 5});
    EXPECT_EQ(rendered(&button), solid(Qt::yellow));
}

TEST(CControlButton, MissingPictureIdLeavesThatFaceEmpty) {
    CControlButton button;
    button.SetBitmaps(BitmapId::StartHover, BitmapId::StartNormal, 9999);
    EXPECT_TRUE(button.pressedBitmap().isNull());
    EXPECT_FALSE(button.normalBitmap().isNull());
    button.resize(button.sizeHint());
    sendEnter(&button, {45, 45});
    sendMouse(&button, QEvent::MouseButtonPress, {45, 45});
    // Nothing to draw over the hover face.
    EXPECT_EQ(rendered(&button), asRgb32(loadBitmap(BitmapId::StartHover)));
}

TEST(CControlButton, SmallerButtonShowsTheTopLeftOfItsPicture) {
    CControlButton button;
    button.SetBitmaps(BitmapId::StartHover, BitmapId::StartNormal, BitmapId::StartNormal);
    button.resize(50, 40);
    EXPECT_EQ(rendered(&button), asRgb32(loadBitmap(BitmapId::StartNormal)).copy(0, 0, 50, 40));
}

TEST(CControlButton, RegionFromBrowsePictureLimitsTheButtonToItsShape) {
    QWidget window;
    window.resize(300, 200);
    auto *browse = new CControlButton(&window);
    browse->setGeometry(20, 30, 110, 60); // larger than the 65 by 35 picture
    ASSERT_TRUE(browse->ApplyBitmapRegion(BitmapId::BrowseNormal));
    browse->SetBitmaps(BitmapId::BrowseHover, BitmapId::BrowseNormal, BitmapId::BrowseNormal);

    EXPECT_EQ(window.childAt(20 + 32, 30 + 17), browse) << "middle of the picture";
    EXPECT_EQ(window.childAt(20 + 64, 30 + 17), browse) << "right edge of the picture";
    EXPECT_EQ(window.childAt(20 + 66, 30 + 17), nullptr) << "beyond the picture";
    EXPECT_EQ(window.childAt(20 + 32, 30 + 36), nullptr) << "below the picture";
    EXPECT_EQ(window.childAt(20, 30), nullptr) << "cut-away rounded corner";
}

TEST(CControlButton, WhiteBorderIsNotPartOfTheButton) {
    QImage bordered(40, 20, QImage::Format_RGB32);
    bordered.fill(Qt::white);
    for (int y = 4; y < 16; ++y)
        for (int x = 4; x < 36; ++x)
            bordered.setPixelColor(x, y, QColor(30, 90, 200));
    QWidget window;
    window.resize(100, 100);
    auto *button = new CControlButton(&window);
    button->setGeometry(10, 10, 40, 20);
    ASSERT_TRUE(button->ApplyBitmapRegion(bordered));
    EXPECT_EQ(window.childAt(12, 12), nullptr);
    EXPECT_EQ(window.childAt(14, 14), button);
    EXPECT_EQ(window.childAt(45, 20), button);
    EXPECT_EQ(window.childAt(47, 20), nullptr);
}

TEST(CControlButton, UnusableRegionKeepsTheRectangle) {
    CControlButton button;
    button.resize(40, 30);
    EXPECT_FALSE(button.ApplyBitmapRegion(9999));
    EXPECT_TRUE(button.mask().isEmpty());
    EXPECT_FALSE(button.ApplyBitmapRegion(solid(Qt::white)));
    EXPECT_TRUE(button.mask().isEmpty());
}

} // namespace
} // namespace melvora
