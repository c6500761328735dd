#include "WindowTesting.h"

#include "controls/BitmapResource.h"
#include "controls/CControlButton.h"
#include "controls/CHyperLink.h"
#include "mainwindow/CTonvexDlg.h"
#include "mainwindow/MainWindowActions.h"
#include "mainwindow/OutputFolderBox.h"
#include "platform/ScriptedDesktop.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace melvora {
namespace {

using namespace melvora::testing;

QString shownText(const QWidget *widget) {
    if (auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (auto *group = qobject_cast<const QGroupBox *>(widget))
        return group->title();
    if (auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    if (auto *edit = qobject_cast<const QLineEdit *>(widget))
        return edit->text();
    return QStringLiteral("<no text>");
}

// The template's texts, which no language changes.
void expectFixedTexts(const CTonvexDlg &window) {
    const std::pair<const char *, const char *> fixed[] = {
        {"videoGroup", "添加视频流文件"},
        {"1288", "添加视频文件"},
        {"musicGroup", "添加音频流文件"},
        {"1289", "添加音频文件"},
        {"stepHint1", "第一步：点击添加视频文件按钮加入视频文件 "},
        {"stepHint2", "第二步：点击添加音频文件按钮加入音频文件"},
        {"stepHint3", "第三步：点击开始按钮"},
        {"1276", "输出目录"},
    };
    for (const auto &[name, text] : fixed) {
        const QWidget *widget = window.findChild<QWidget *>(QString::fromLatin1(name));
        ASSERT_NE(widget, nullptr) << name;
        EXPECT_EQ(shownText(widget), QString::fromUtf8(text)) << name;
    }
}

// A first start (no settings yet) takes the desktop's language; without its file every
// language text is empty and the template's texts stand.
TEST(StartUp, WithoutSettingsOrLanguageFileOpensWithEmptyTexts) {
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    CTonvexDlg window;

    EXPECT_EQ(window.windowTitle(), QStringLiteral(" "));
    EXPECT_TRUE(window.webLink()->text().isEmpty());
    EXPECT_TRUE(window.webLink()->url().isEmpty());
    EXPECT_TRUE(window.outputFolderBox()->currentText().isEmpty());
    EXPECT_TRUE(window.outputFolder().isEmpty());
    EXPECT_TRUE(window.acceptedOutputFolder().isEmpty());
    EXPECT_TRUE(window.videoPathBox()->text().isEmpty());
    EXPECT_TRUE(window.musicPathBox()->text().isEmpty());
    EXPECT_TRUE(window.openFolderWhenDone());
    EXPECT_EQ(window.languageFileName(), "english.ini");
    EXPECT_TRUE(window.startButton()->toolTip().isEmpty());
    EXPECT_EQ(window.mixJob(), nullptr);
    for (JoinList list : JoinPresets::allLists)
        EXPECT_EQ(window.joinPresets().selection(list), 0);
    expectFixedTexts(window);
    // Start-up reports nothing and writes only the language it chose.
    EXPECT_TRUE(scripted.messages().empty());
    EXPECT_EQ(sandbox.settings(), "[LANGUAGE]\nfile=english.ini\n");
}

struct StartUpCase {
    const char *name;
    const char *settings;
    const char *language; // written as languages/test.ini
    const char *title;
    const char *linkText;
    const char *url;
    const char *tooltip;
    const char *folder;
    bool openFolderWhenDone;
};

const char *const fullLanguage = "[APPLICATION]\nname=Melvora\nversion=2.3\nurl=https://example.org/tools\n"
                                 "[JIEMIAN]\nzysybrj=访问我们的网站\nywjyy=与源文件相同\n"
                                 "[HINT]\nhbcygwj=开始合成\n";

class StartUpTexts : public ::testing::TestWithParam<StartUpCase> {};

TEST_P(StartUpTexts, FollowTheSettingsAndTheLanguageFile) {
    const StartUpCase &c = GetParam();
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    sandbox.writeSettings(c.settings);
    if (c.language)
        sandbox.writeLanguage("test.ini", c.language);
    CTonvexDlg window;

    EXPECT_EQ(window.windowTitle(), QString::fromUtf8(c.title));
    EXPECT_EQ(window.webLink()->text(), QString::fromUtf8(c.linkText));
    // "{data}" stands for the data folder, here the stand-in executable folder.
    const QString dataFolder = QString::fromStdString(sandbox.path().string());
    EXPECT_EQ(window.webLink()->url(), QString::fromUtf8(c.url).replace(QStringLiteral("{data}"), dataFolder));
    EXPECT_EQ(window.startButton()->toolTip(), QString::fromUtf8(c.tooltip));
    EXPECT_EQ(window.outputFolderBox()->currentText(), QString::fromUtf8(c.folder));
    EXPECT_EQ(window.outputFolder(), QString::fromUtf8(c.folder));
    EXPECT_EQ(window.acceptedOutputFolder(), QString::fromUtf8(c.folder));
    EXPECT_EQ(window.openFolderWhenDone(), c.openFolderWhenDone);
    expectFixedTexts(window);
    EXPECT_TRUE(scripted.messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartUpTexts,
    ::testing::Values(
        StartUpCase{"NameAndVersion", "[LANGUAGE]\nfile=test.ini\n", "[APPLICATION]\nname=A\nversion=1.0\n", "A 1.0",
                    "", "", "", "", true},
        StartUpCase{"OnlyVersion", "[LANGUAGE]\nfile=test.ini\n", "[APPLICATION]\nversion=1.0\n", " 1.0", "", "", "",
                    "", true},
        StartUpCase{"OnlyName", "[LANGUAGE]\nfile=test.ini\n", "[APPLICATION]\nname=X\n", "X ", "", "", "", "", true},
        StartUpCase{"EmptyValuesAreMissingOnes", "[LANGUAGE]\nfile=test.ini\n",
                    "[APPLICATION]\nname=\nversion=\n[HINT]\nhbcygwj=\n", " ", "", "", "", "", true},
        StartUpCase{"NamedFileMissing", "[LANGUAGE]\nfile=nowhere.ini\n", nullptr, " ", "", "", "", "", true},
        StartUpCase{"WholeLanguageFile", "[LANGUAGE]\nfile=test.ini\n", fullLanguage, "Melvora 2.3", "访问我们的网站",
                    "https://example.org/tools", "开始合成", "", true},
        StartUpCase{"HelpPageIsInTheDataFolder", "[LANGUAGE]\nfile=test.ini\n",
                    "[APPLICATION]\nurl=help/index.html\n", " ", "", "{data}/help/index.html", "", "", true},
        StartUpCase{"AbsolutePathStaysAsItIs", "[LANGUAGE]\nfile=test.ini\n", "[APPLICATION]\nurl=/usr/share/doc\n",
                    " ", "", "/usr/share/doc", "", "", true},
        StartUpCase{"RememberedFolder", "[PATH]\nname=/home/user/视频 输出\n", nullptr, " ", "", "", "",
                    "/home/user/视频 输出", true},
        StartUpCase{"OpenFolderOne", "[DIR]\nopen=1\n", nullptr, " ", "", "", "", "", true},
        StartUpCase{"OpenFolderZero", "[DIR]\nopen=0\n", nullptr, " ", "", "", "", "", false},
        StartUpCase{"OpenFolderYesIsNotOne", "[DIR]\nopen=yes\n", nullptr, " ", "", "", "", "", false},
        StartUpCase{"OpenFolderEmpty", "[DIR]\nopen=\n", nullptr, " ", "", "", "", "", false}),
    [](const ::testing::TestParamInfo<StartUpCase> &info) { return std::string(info.param.name); });

// The link is made live with its font, underline and hand cursor; the
// hidden preset lists are filled only after the texts are read, so their
// "same as source" entry is in the chosen language.
TEST(StartUp, LinkAndPresetListsTakeTheLanguage) {
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    sandbox.writeSettings("[LANGUAGE]\nfile=test.ini\n[JOIN]\nsize=3\nsamplerate=99\n");
    sandbox.writeLanguage("test.ini", fullLanguage);
    CTonvexDlg window;

    CHyperLink *link = window.webLink();
    EXPECT_EQ(link->underlineMode(), CHyperLink::UnderlineAlways);
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(link->font().pointSize(), 10);
    EXPECT_EQ(link->toolTip(), QStringLiteral("https://example.org/tools"));
    EXPECT_GT(link->width(), 0);

    const JoinPresets &presets = window.joinPresets();
    for (JoinList list : {JoinList::Size, JoinList::Framerate, JoinList::Quality})
        EXPECT_EQ(presets.entries(list).front(), "与源文件相同");
    EXPECT_EQ(presets.selection(JoinList::Size), 3);
    EXPECT_EQ(presets.selection(JoinList::Samplerate), JoinPresets::noSelection);
}

// A language file with captions gives the window its texts, the pictures and the refusals
// included; a text it lacks stays the template's.
TEST(StartUp, CaptionsOfTheLanguageFileReplaceTheFixedTexts) {
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    sandbox.writeSettings("[LANGUAGE]\nfile=test.ini\n");
    sandbox.writeLanguage("test.ini", "[CAPTIONS]\naddvideo=Add video…\nstep3=Step 3: press Start\nstart=Go\n"
                                      "novideo=Add a video first.\n");
    CTonvexDlg window;
    EXPECT_EQ(window.addVideoButton()->text(), QStringLiteral("Add video…"));
    EXPECT_EQ(window.findChild<QLabel *>("stepHint3")->text(), QStringLiteral("Step 3: press Start"));
    EXPECT_EQ(window.addMusicButton()->text(), QStringLiteral("添加音频文件"));
    // The start button's picture is its face with the caption; the others keep their pictures.
    EXPECT_NE(window.startButton()->normalBitmap(), loadBitmap(BitmapId::StartNormal));
    EXPECT_EQ(window.startButton()->normalBitmap().size(), loadBitmap(BitmapId::StartNormal).size());
    EXPECT_EQ(window.browseButton()->normalBitmap(), loadBitmap(BitmapId::BrowseNormal));
    window.startButton()->click();
    window.musicPathBox()->setText(QStringLiteral("/nowhere/music.mp3"));
    window.videoPathBox()->setText(QStringLiteral("/nowhere/video.mp4"));
    window.startButton()->click();
    ASSERT_EQ(scripted.messages().size(), 2u);
    EXPECT_EQ(scripted.messages()[0].text, QStringLiteral("Add a video first."));
    EXPECT_EQ(scripted.messages()[1].text, QString::fromUtf8(MainWindowActions::kVideoMissing));
}

// The chooser lists the shipped languages; a choice is written and applied at once. A first
// start on a German desktop opens in German.
TEST(StartUp, LanguageChooserAppliesAtOnceAndAFirstStartFollowsTheDesktop) {
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    const DesktopLocale german("de_DE.UTF-8");
    for (const char *name : {"german.ini", "japanese.ini"}) {
        QFile file(QStringLiteral(MELVORA_LANGUAGE_DIR "/") + QString::fromLatin1(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        sandbox.writeLanguage(name, file.readAll().toStdString());
    }
    CTonvexDlg window;
    EXPECT_EQ(window.languageFileName(), "german.ini");
    EXPECT_EQ(window.addVideoButton()->text(), QStringLiteral("Hinzufügen…"));
    QComboBox *chooser = window.languageChooser();
    ASSERT_EQ(chooser->count(), 7);
    EXPECT_EQ(chooser->currentText(), QStringLiteral("Deutsch"));

    const int japanese = chooser->findData(QStringLiteral("japanese.ini"));
    ASSERT_GE(japanese, 0);
    chooser->setCurrentIndex(japanese);
    emit chooser->activated(japanese);
    EXPECT_EQ(window.languageFileName(), "japanese.ini");
    EXPECT_NE(sandbox.settings().find("file=japanese.ini"), std::string::npos) << sandbox.settings();
    EXPECT_EQ(window.addVideoButton()->text(), QStringLiteral("動画を追加"));
    EXPECT_EQ(window.webLink()->text(), QStringLiteral("Melvora のヘルプ"));
    EXPECT_EQ(window.mixSettingsButton()->text(), QStringLiteral("ミックス設定…"));
    EXPECT_EQ(chooser->currentText(), QStringLiteral("日本語"));
}

// Only the start button has a tooltip of the window's own; the link shows its address.
TEST(StartUp, OnlyTheStartButtonHasATooltip) {
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    sandbox.writeSettings("[LANGUAGE]\nfile=test.ini\n");
    sandbox.writeLanguage("test.ini", fullLanguage);
    CTonvexDlg window;
    for (QWidget *widget : window.findChildren<QWidget *>()) {
        if (widget == window.startButton() || widget == window.webLink())
            continue;
        EXPECT_TRUE(widget->toolTip().isEmpty()) << widget->objectName().toStdString();
    }
    EXPECT_EQ(window.startButton()->toolTip(), QStringLiteral("开始合成"));
}

} // namespace
} // namespace melvora
