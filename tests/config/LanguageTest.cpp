#include "config/LanguageFile.h"
#include "config/LanguageKeys.h"
#include "config/LanguageTexts.h"
#include "config/SettingKeys.h"
#include "config/Settings.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

namespace melvora {
namespace {

using test::TempFolder;
using test::utf16le;

struct TitleCase {
    const char *name;
    const char *languageFileName;
    std::string languageFile;
    const char *expectedTitle;
};
void PrintTo(const TitleCase &c, std::ostream *os) { *os << c.name; }

class LanguageTitleTest : public testing::TestWithParam<TitleCase> {};

TEST_P(LanguageTitleTest, TitleIsNameSpaceVersion) {
    TempFolder folder;
    folder.write("languages/english.ini", GetParam().languageFile);
    LanguageTexts texts;
    texts.load(GetParam().languageFileName);
    EXPECT_EQ(texts.mainWindowTitle(), GetParam().expectedTitle);
}

INSTANTIATE_TEST_SUITE_P(
    Pieces, LanguageTitleTest,
    testing::Values(TitleCase{"both", "english.ini", "[APPLICATION]\nname=A\nversion=1.0\n", "A 1.0"},
                    TitleCase{"nameOnly", "english.ini", "[APPLICATION]\nname=X\n", "X "},
                    TitleCase{"versionOnly", "english.ini", "[APPLICATION]\nversion=1.0\n", " 1.0"},
                    TitleCase{"emptyValueIsMissing", "english.ini", "[APPLICATION]\nname=\nversion=2\n", " 2"},
                    TitleCase{"emptyFileName", "", "[APPLICATION]\nname=A\nversion=1.0\n", " "},
                    TitleCase{"missingFile", "german.ini", "[APPLICATION]\nname=A\n", " "},
                    TitleCase{"utf16File", "english.ini",
                              "\xFF\xFE" + utf16le(u"[application]\r\nNAME=\u97F3\u4E50\r\nversion=1.0\r\n"),
                              "\xE9\x9F\xB3\xE4\xB9\x90 1.0"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(LanguageTextsTest, LoadsFileNamedBySettingsAndKeepsItsTexts) {
    TempFolder folder;
    folder.write("setting.ini", "[LANGUAGE]\nfile=a.ini\n");
    folder.write("languages/a.ini", "[TISHI]\nwj=\"Bad file \"\nwx=rejected\nhbcg=" + std::string(1200, 'y') + "\n");
    folder.write("languages/b.ini", "[TISHI]\nwj=B\n[JIEMIAN]\ntz=Halt\n");

    LanguageTexts texts;
    texts.loadFromSettings();
    EXPECT_EQ(texts.fileName(), "a.ini");
    EXPECT_EQ(texts.invalidDropMessage("clip.mp3"), "Bad file clip.mp3 rejected");
    EXPECT_EQ(texts.text(languagekeys::jobSucceeded), std::string(999, 'y'));
    EXPECT_EQ(texts.text(languagekeys::jobFailed), "");
    EXPECT_EQ(texts.text({"TISHI", "notInCatalogue"}), "");

    // A language change while running reaches only the texts read afresh.
    ASSERT_TRUE(Settings::writeString(settingkeys::languageFile, "b.ini"));
    EXPECT_EQ(texts.text(languagekeys::invalidDropBefore), "Bad file ");
    EXPECT_EQ(LanguageFile::readCurrentText(languagekeys::stopButton), "Halt");
    EXPECT_EQ(LanguageFile::readCurrentText(languagekeys::invalidDropBefore), "B");
}

TEST(LanguageTextsTest, NoFileNameMeansNoTexts) {
    TempFolder folder;
    folder.write("languages/english.ini", "[JIEMIAN]\ntz=Stop\n");
    EXPECT_EQ(LanguageFile::nameFromSettings(), "");
    EXPECT_EQ(LanguageFile::path(""), "");
    EXPECT_EQ(LanguageFile::readCurrentText(languagekeys::stopButton), "");
    LanguageTexts texts;
    texts.loadFromSettings();
    EXPECT_EQ(texts.invalidDropMessage("clip.mp3"), "clip.mp3 ");
    EXPECT_EQ(LanguageFile::path("english.ini"), folder.file("languages/english.ini"));
    EXPECT_EQ(LanguageFile::readText("english.ini", languagekeys::stopButton), "Stop");
}

// The files shipped beside the program carry every text in each language.
TEST(ShippedLanguageFilesTest, EveryLanguageHasEveryText) {
    overrideExecutableFolderForTesting("");
    EXPECT_EQ(LanguageFile::nameFromSettings(), "english.ini");
    for (const char *name :
         {"english.ini", "spanish.ini", "german.ini", "french.ini", "italian.ini", "japanese.ini", "chinese.ini"}) {
        SCOPED_TRACE(name);
        for (const IniKey &key : languagekeys::catalogue)
            EXPECT_FALSE(LanguageFile::readText(name, key).empty()) << key.section << "/" << key.key;
        for (const IniKey &key : languagekeys::mix::catalogue)
            EXPECT_FALSE(LanguageFile::readText(name, key).empty()) << key.section << "/" << key.key;
        LanguageTexts texts;
        texts.load(name);
        EXPECT_EQ(texts.mainWindowTitle(), "Melvora 1.0");
        const std::string message = texts.invalidDropMessage("clip.mp3");
        EXPECT_NE(message.find(" clip.mp3 "), std::string::npos) << message;
        EXPECT_EQ(texts.text(languagekeys::mix::ok), LanguageFile::readText(name, languagekeys::mix::ok));
    }
}

} // namespace
} // namespace melvora
