#include "config/LanguageChoice.h"
#include "config/LanguageFile.h"
#include "config/LanguageKeys.h"
#include "config/LanguageTexts.h"
#include "config/SettingKeys.h"
#include "config/Settings.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

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
        for (const IniKey &key : languagekeys::mixpreview::catalogue)
            EXPECT_FALSE(LanguageFile::readText(name, key).empty()) << key.section << "/" << key.key;
        for (const IniKey &key : languagekeys::captions::catalogue)
            EXPECT_FALSE(LanguageFile::readText(name, key).empty()) << key.section << "/" << key.key;
        for (const IniKey &key : {languagekeys::captions::timeLeft, languagekeys::captions::stopped})
            EXPECT_NE(LanguageFile::readText(name, key).find("%1"), std::string::npos) << key.key;
        LanguageTexts texts;
        texts.load(name);
        EXPECT_EQ(texts.mainWindowTitle(), "Melvora " MELVORA_VERSION); // the project version
        const std::string message = texts.invalidDropMessage("clip.mp3");
        EXPECT_NE(message.find(" clip.mp3 "), std::string::npos) << message;
        EXPECT_EQ(texts.text(languagekeys::mix::ok), LanguageFile::readText(name, languagekeys::mix::ok));
    }
}

// The desktop's locale names the language of a first start; what the user chose later stays.
TEST(LanguageChoiceTest, FirstStartFollowsTheDesktopLocale) {
    const std::pair<const char *, const char *> locales[] = {
        {"de_DE.UTF-8", "german.ini"}, {"zh_CN.UTF-8", "chinese.ini"}, {"zh_TW", "chinese.ini"},
        {"ja_JP.eucJP", "japanese.ini"}, {"fr_CA", "french.ini"}, {"it", "italian.ini"},
        {"es_ES@euro", "spanish.ini"}, {"ES_MX", "spanish.ini"}, {"en_GB.UTF-8", "english.ini"},
        {"pt_BR", "english.ini"}, {"C", "english.ini"}, {"POSIX", "english.ini"}, {"", "english.ini"}};
    for (const auto &[locale, file] : locales)
        EXPECT_EQ(languageFileForLocale(locale), file) << locale;

    // LC_ALL before LC_MESSAGES before LANG, each only when set and not empty.
    std::optional<std::string> saved[3];
    const char *names[] = {"LC_ALL", "LC_MESSAGES", "LANG"}, *values[] = {"", "ja_JP.UTF-8", "de_DE.UTF-8"};
    for (int i = 0; i < 3; ++i) {
        if (const char *value = std::getenv(names[i]))
            saved[i] = value;
        ::setenv(names[i], values[i], 1);
    }
    EXPECT_EQ(desktopMessageLocale(), "ja_JP.UTF-8");
    {
        TempFolder folder;
        EXPECT_EQ(chooseLanguageOnFirstStart(), "japanese.ini");
        EXPECT_EQ(LanguageFile::nameFromSettings(), "japanese.ini");
        ASSERT_TRUE(Settings::writeString(settingkeys::languageFile, "french.ini"));
        EXPECT_EQ(chooseLanguageOnFirstStart(), ""); // no longer a first start
        EXPECT_EQ(LanguageFile::nameFromSettings(), "french.ini");
        // The chooser's names come from the settings, the language's own name where they have none.
        folder.write("setting.ini", "[LANGUAGE]\nname3=German\n");
        const std::vector<LanguageOption> options = languageOptions();
        ASSERT_EQ(options.size(), 7u);
        EXPECT_EQ(options[2].name + options[2].fileName, "Germangerman.ini");
        EXPECT_EQ(options[6].name, "简体中文");
    }
    for (int i = 0; i < 3; ++i)
        saved[i] ? ::setenv(names[i], saved[i]->c_str(), 1) : ::unsetenv(names[i]);
}

} // namespace
} // namespace melvora
