#include "WindowTesting.h"

#include "controls/CHyperLink.h"
#include "mainwindow/CTonvexDlg.h"
#include "platform/ScriptedDesktop.h"

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace melvora {
namespace {

using namespace melvora::testing;

const int visibleIds[] = {1290, 1288, 1292, 1289, 1180, 1099, 1276, 1077, 1076, 1286};

std::string shippedLanguage(const QString &name) {
    QFile file(QStringLiteral(MELVORA_LANGUAGE_DIR "/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll().toStdString();
}

class Layout : public ::testing::TestWithParam<const char *> {};

// With every shipped language (and none), the controls sit inside the
// window, apart from each other, in the template's rows, and the fixed texts
// fit their controls.
TEST_P(Layout, ControlsSitApartInsideTheWindow) {
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    const QString language = QString::fromLatin1(GetParam());
    if (!language.isEmpty()) {
        sandbox.writeSettings("[LANGUAGE]\nfile=" + language.toStdString() + "\n");
        sandbox.writeLanguage(language.toStdString(), shippedLanguage(language));
    }
    CTonvexDlg window;
    window.show();

    EXPECT_EQ(window.minimumSize(), window.maximumSize()); // no resizing
    const QRect client = window.rect();
    for (int id : visibleIds) {
        QWidget *control = window.control(id);
        ASSERT_NE(control, nullptr) << id;
        EXPECT_EQ(control->objectName(), QString::number(id));
        EXPECT_TRUE(control->isVisible()) << id;
        EXPECT_TRUE(client.contains(control->geometry())) << id;
    }
    EXPECT_EQ(window.control(1000), nullptr);
    if (!language.isEmpty()) {
        EXPECT_GT(window.webLink()->width(), 0);
    }

    QList<QWidget *> placed;
    for (QWidget *child : window.findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (!child->isVisible() || child->geometry().isEmpty())
            continue;
        EXPECT_TRUE(client.contains(child->geometry())) << child->objectName().toStdString();
        if (!qobject_cast<QGroupBox *>(child))
            placed << child;
    }
    EXPECT_GE(placed.size(), 12);
    for (int i = 0; i < placed.size(); ++i)
        for (int j = i + 1; j < placed.size(); ++j)
            EXPECT_FALSE(placed[i]->geometry().intersects(placed[j]->geometry()))
                << placed[i]->objectName().toStdString() << " overlaps " << placed[j]->objectName().toStdString();

    // Each row sits in its frame, the button right of its box.
    const auto geometryOf = [&](const char *name) { return window.findChild<QWidget *>(name)->geometry(); };
    for (const auto &[frame, box, button] : {std::tuple{"videoGroup", "1290", "1288"}, {"musicGroup", "1292", "1289"}}) {
        EXPECT_TRUE(geometryOf(frame).contains(geometryOf(box))) << box;
        EXPECT_TRUE(geometryOf(frame).contains(geometryOf(button))) << button;
        EXPECT_GT(geometryOf(button).left(), geometryOf(box).right()) << button;
    }
    // Top to bottom: video row, music row, the hints, the output row; the start button at the bottom right.
    EXPECT_LT(geometryOf("videoGroup").bottom(), geometryOf("musicGroup").top());
    EXPECT_LT(geometryOf("musicGroup").bottom(), geometryOf("stepHint1").top());
    EXPECT_LT(geometryOf("stepHint3").bottom(), geometryOf("1077").top());
    EXPECT_GT(geometryOf("1099").left(), geometryOf("1286").right());
    EXPECT_GT(geometryOf("1099").bottom(), geometryOf("1077").bottom());

    // The fixed texts fit in their controls, in the dialog font.
    for (QWidget *child : placed) {
        QString text;
        if (auto *label = qobject_cast<QLabel *>(child); label && !qobject_cast<CHyperLink *>(child))
            text = label->text();
        else if (auto *button = qobject_cast<QPushButton *>(child); button && child->objectName().startsWith("128"))
            text = button->text();
        if (text.isEmpty())
            continue;
        EXPECT_LE(child->fontMetrics().horizontalAdvance(text.trimmed()), child->width())
            << child->objectName().toStdString();
        EXPECT_LE(child->fontMetrics().height(), child->height()) << child->objectName().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(ShippedLanguages, Layout,
                         ::testing::Values("", "english.ini", "spanish.ini", "german.ini", "french.ini",
                                           "italian.ini", "japanese.ini", "chinese.ini"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             const std::string name = info.param;
                             return name.empty() ? std::string("None") : name.substr(0, name.find('.'));
                         });

} // namespace
} // namespace melvora
