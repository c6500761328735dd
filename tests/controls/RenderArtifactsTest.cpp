#include "ControlTesting.h"

#include "controls/BitmapResource.h"
#include "controls/CControlButton.h"
#include "controls/CHyperLink.h"
#include "controls/CLabel.h"
#include "platform/ScriptedDesktop.h"

#include <QDir>

#include <gtest/gtest.h>

namespace melvora {
namespace {

using namespace melvora::testing;

// Lays every control out in each of its states on the main window's light
// blue and saves the sheet, so that a person can look at what users see.
TEST(RenderArtifacts, SavesASheetOfEveryControlInEveryState) {
    ScriptedDesktop scripted;
    const QDir out(QStringLiteral(MELVORA_ARTIFACT_DIR));
    ASSERT_TRUE(out.mkpath(QStringLiteral(".")));

    QWidget sheet;
    sheet.resize(420, 330);
    QPalette palette = sheet.palette();
    palette.setColor(QPalette::Window, QColor(187, 222, 251));
    sheet.setPalette(palette);
    sheet.setAutoFillBackground(true);

    const auto button = [&](int hover, int normal, int region, QPoint at) {
        auto *made = new CControlButton(&sheet);
        made->move(at);
        made->resize(loadBitmap(normal).size());
        if (region)
            made->ApplyBitmapRegion(region);
        made->SetBitmaps(hover, normal, normal);
        return made;
    };
    // Start button: at rest, under the pointer, held down.
    button(BitmapId::StartHover, BitmapId::StartNormal, 0, {10, 10});
    sendEnter(button(BitmapId::StartHover, BitmapId::StartNormal, 0, {110, 10}), {45, 45});
    CControlButton *held = button(BitmapId::StartHover, BitmapId::StartNormal, 0, {210, 10});
    sendEnter(held, {45, 45});
    sendMouse(held, QEvent::MouseButtonPress, {45, 45});
    // Browse and open folder, each at rest and under the pointer.
    button(BitmapId::BrowseHover, BitmapId::BrowseNormal, BitmapId::BrowseNormal, {10, 115});
    sendEnter(button(BitmapId::BrowseHover, BitmapId::BrowseNormal, BitmapId::BrowseNormal, {85, 115}), {30, 17});
    button(BitmapId::OpenFolderHover, BitmapId::OpenFolderNormal, BitmapId::OpenFolderNormal, {160, 115});
    sendEnter(button(BitmapId::OpenFolderHover, BitmapId::OpenFolderNormal, BitmapId::OpenFolderNormal, {266, 115}),
              {30, 17});

    // The web link at rest, under the pointer, visited.
    QFont linkFont(QStringLiteral("Noto Sans CJK SC"));
    linkFont.setPointSize(10);
    for (int state = 0; state < 3; ++state) {
        auto *link = new CHyperLink(QStringLiteral("更多好用软件，请访问我们网站"), &sheet);
        link->setFont(linkFont);
        link->move(10, 165 + state * 28);
        link->attach();
        link->SetURL(QStringLiteral("https://example.org/"));
        link->SetUnderline(CHyperLink::UnderlineAlways);
        if (state == 1)
            sendMouse(link, QEvent::MouseMove, {3, 3});
        if (state == 2)
            link->SetVisited(true);
    }

    // The progress line and a centred label on the dialog face.
    auto *progress = new CLabel(QStringLiteral("/home/user/Videos/holiday.mp4   42% 已完成"), &sheet);
    progress->setGeometry(10, 260, 400, 20);
    auto *centred = new CLabel(QStringLiteral("centred both ways"), &sheet);
    centred->setCenterImage(true);
    centred->setFaceColour(QColor(240, 240, 240));
    centred->setGeometry(10, 285, 400, 36);

    const QImage image = sheet.grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(image.save(out.filePath(QStringLiteral("controls.png"))));
    // The sheet really shows the pictures where the buttons are.
    EXPECT_EQ(image.copy(10, 10, 90, 93).convertToFormat(QImage::Format_RGB32),
              asRgb32(loadBitmap(BitmapId::StartNormal)));
}

} // namespace
} // namespace melvora
