#include "WindowTesting.h"

#include "controls/CControlButton.h"
#include "controls/CHyperLink.h"
#include "mainwindow/CTonvexDlg.h"
#include "mainwindow/OutputFolderBox.h"
#include "platform/ScriptedDesktop.h"

#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QUrl>

#include <gtest/gtest.h>

#include <map>

namespace melvora {
namespace {

using namespace melvora::testing;

// A shown window in an empty executable folder, with every button's clicks counted.
struct ShownWindow {
    ExecutableFolderSandbox sandbox;
    bool prepared;
    ScriptedDesktop scripted;
    CTonvexDlg window;
    std::map<int, int> clicks;
    int finished = 0;

    explicit ShownWindow(const char *language = nullptr) : prepared(prepare(language)) {
        for (int id : {CTonvexDlg::AddVideoButton, CTonvexDlg::AddMusicButton, CTonvexDlg::StartButton,
                       CTonvexDlg::BrowseButton, CTonvexDlg::OpenFolderButton}) {
            auto *button = qobject_cast<QPushButton *>(window.control(id));
            QObject::connect(button, &QPushButton::clicked, [this, id] { ++clicks[id]; });
        }
        QObject::connect(&window, &QDialog::finished, [this] { ++finished; });
        window.show();
    }

    bool prepare(const char *language) const {
        if (!language)
            return false;
        sandbox.writeSettings("[LANGUAGE]\nfile=test.ini\n");
        sandbox.writeLanguage("test.ini", language);
        return true;
    }

    // Where keys typed into a control arrive: the edit line of the folder box.
    QWidget *keyTarget(int id) const {
        if (id == CTonvexDlg::OutputFolderCombo)
            return window.outputFolderBox()->lineEdit();
        return window.control(id);
    }
};

struct KeyCase {
    const char *name;
    int focus;
    int key;
    int clickedButton; // 0: no button may be pressed
};

class EnterAndEscape : public ::testing::TestWithParam<KeyCase> {};

// Enter and Escape never end the window. Enter presses a focused button and
// nothing else; in a text box it does nothing at all.
TEST_P(EnterAndEscape, NeverCloseTheWindow) {
    const KeyCase &c = GetParam();
    ShownWindow shown;
    shown.window.control(c.focus)->setFocus();
    pressKey(shown.keyTarget(c.focus), c.key);

    EXPECT_TRUE(shown.window.isVisible());
    EXPECT_EQ(shown.finished, 0);
    std::map<int, int> expected;
    if (c.clickedButton)
        expected[c.clickedButton] = 1;
    EXPECT_EQ(shown.clicks, expected);
    EXPECT_EQ(shown.window.outputFolderBox()->count(), 0); // Enter never adds to the folder list
}

INSTANTIATE_TEST_SUITE_P(
    Keys, EnterAndEscape,
    ::testing::Values(KeyCase{"ReturnInVideoBox", CTonvexDlg::VideoPathBox, Qt::Key_Return, 0},
                      KeyCase{"EnterInVideoBox", CTonvexDlg::VideoPathBox, Qt::Key_Enter, 0},
                      KeyCase{"EscapeInVideoBox", CTonvexDlg::VideoPathBox, Qt::Key_Escape, 0},
                      KeyCase{"ReturnInMusicBox", CTonvexDlg::MusicPathBox, Qt::Key_Return, 0},
                      KeyCase{"ReturnInFolderBox", CTonvexDlg::OutputFolderCombo, Qt::Key_Return, 0},
                      KeyCase{"EscapeInFolderBox", CTonvexDlg::OutputFolderCombo, Qt::Key_Escape, 0},
                      KeyCase{"ReturnOnStart", CTonvexDlg::StartButton, Qt::Key_Return, CTonvexDlg::StartButton},
                      KeyCase{"EscapeOnStart", CTonvexDlg::StartButton, Qt::Key_Escape, 0},
                      KeyCase{"ReturnOnAddVideo", CTonvexDlg::AddVideoButton, Qt::Key_Return,
                              CTonvexDlg::AddVideoButton},
                      KeyCase{"EnterOnBrowse", CTonvexDlg::BrowseButton, Qt::Key_Enter, CTonvexDlg::BrowseButton}),
    [](const ::testing::TestParamInfo<KeyCase> &info) { return std::string(info.param.name); });

// Delete is swallowed by the window whichever box has the focus; Backspace still edits.
TEST(DeleteKey, NeverReachesATextBox) {
    for (int id : {CTonvexDlg::VideoPathBox, CTonvexDlg::MusicPathBox, CTonvexDlg::OutputFolderCombo}) {
        SCOPED_TRACE(id);
        ShownWindow shown;
        auto *edit = qobject_cast<QLineEdit *>(shown.keyTarget(id));
        ASSERT_NE(edit, nullptr);
        shown.window.control(id)->setFocus();
        edit->setText(QStringLiteral("abc"));
        edit->setCursorPosition(1);

        pressKey(edit, Qt::Key_Delete);
        EXPECT_EQ(edit->text(), QStringLiteral("abc"));
        pressKey(edit, Qt::Key_Backspace);
        EXPECT_EQ(edit->text(), QStringLiteral("bc"));
        EXPECT_TRUE(shown.window.isVisible());
    }
}

TEST(Keyboard, FocusStartsOnTheStartButtonAndTabFollowsTheTemplateOrder) {
    ShownWindow shown;
    EXPECT_EQ(shown.window.focusWidget(), shown.window.startButton());

    QStringList order;
    QWidget *widget = shown.window.startButton();
    do {
        bool isId = false;
        widget->objectName().toInt(&isId);
        if (isId && widget->focusPolicy() & Qt::TabFocus)
            order << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != shown.window.startButton());
    EXPECT_EQ(order, QStringList({"1099", "1076", "1286", "1077", "1288", "1289", "1290", "1292"}));
}

struct DragCase {
    const char *pressedOn; // object name; "" for the window itself
    bool moves;
};

// A press on the background, a plain text or a frame grabs the window; a
// press on a control is the control's.
TEST(Dragging, TheBackgroundMovesTheWindow) {
    const DragCase cases[] = {
        {"", true},          {"stepHint1", true}, {"stepHint3", true}, {"videoGroup", true},
        {"musicGroup", true}, {"1276", true},     {"1290", false},     {"1288", false},
        {"1099", false},     {"1077", false},     {"1180", false},
    };
    for (const DragCase &c : cases) {
        SCOPED_TRACE(c.pressedOn);
        ShownWindow shown("[JIEMIAN]\nzysybrj=web link\n");
        ASSERT_GT(shown.window.webLink()->width(), 3);
        CTonvexDlg &window = shown.window;
        window.move(100, 100);
        const QPoint before = window.pos();
        QWidget *target = *c.pressedOn ? window.findChild<QWidget *>(QString::fromLatin1(c.pressedOn)) : &window;
        ASSERT_NE(target, nullptr);
        // Near the bottom-left corner: inside every control, and below the
        // rows that a frame holds.
        const QPoint local = *c.pressedOn ? QPoint(3, target->height() - 3) : QPoint(2, 2);
        const QPoint global = target->mapToGlobal(local);
        const QPoint shift(37, -21);

        sendMouse(target, QEvent::MouseButtonPress, local, global, Qt::LeftButton);
        sendMouse(target, QEvent::MouseMove, local + shift, global + shift, Qt::LeftButton);
        sendMouse(target, QEvent::MouseButtonRelease, local + shift, global + shift, Qt::NoButton);

        EXPECT_EQ(window.pos(), c.moves ? before + shift : before);
        // After the release, moving the pointer no longer drags.
        sendMouse(target, QEvent::MouseMove, local, global, Qt::NoButton);
        EXPECT_EQ(window.pos(), c.moves ? before + shift : before);
    }
}

// Dropped local files are handed on in order; other drops are refused.
TEST(Dropping, HandsOnLocalFilesInOrder) {
    ShownWindow shown;
    QSignalSpy dropped(&shown.window, &CTonvexDlg::filesDropped);
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/视频 1.mp4")), QUrl(QStringLiteral("https://example.org/")),
                   QUrl::fromLocalFile(QStringLiteral("/tmp/b.mp3"))});
    QMimeData text;
    text.setText(QStringLiteral("/tmp/a.mp4"));

    QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&shown.window, &refused);
    EXPECT_FALSE(refused.isAccepted());

    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&shown.window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&shown.window, &drop);

    ASSERT_EQ(dropped.count(), 1);
    EXPECT_EQ(dropped.at(0).at(0).toStringList(), QStringList({"/tmp/视频 1.mp4", "/tmp/b.mp3"}));
}

} // namespace
} // namespace melvora
