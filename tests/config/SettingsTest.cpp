#include "config/Settings.h"
#include "config/SettingKeys.h"

#include "TempFolder.h"

#include <climits>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace melvora {
namespace {

using test::TempFolder;

struct MissingCase {
    const char *name;
    std::function<void(const TempFolder &)> prepare;
};
void PrintTo(const MissingCase &c, std::ostream *os) { *os << c.name; }

class SettingsDefaultTest : public testing::TestWithParam<MissingCase> {};

TEST_P(SettingsDefaultTest, GivesTheDefault) {
    TempFolder folder;
    GetParam().prepare(folder);
    EXPECT_EQ(Settings::readString(settingkeys::openFolderWhenDone, "1"), "1");
    EXPECT_EQ(Settings::readString(settingkeys::outputFolder), "");
    EXPECT_EQ(Settings::readInt({"JOIN", "size"}), 0);
    EXPECT_EQ(Settings::readInt({"JOIN", "size"}, 7), 7);
}

INSTANTIATE_TEST_SUITE_P(
    Missing, SettingsDefaultTest,
    testing::Values(MissingCase{"noFile", [](const TempFolder &) {}},
                    MissingCase{"noSection", [](const TempFolder &f) { f.write("setting.ini", "[OTHER]\nopen=0\n"); }},
                    MissingCase{"noKey",
                                [](const TempFolder &f) { f.write("setting.ini", "[DIR]\nclose=0\n[JOIN]\n"); }},
                    MissingCase{"unreadable",
                                [](const TempFolder &f) { std::filesystem::create_directory(f.file("setting.ini")); }},
                    // Opening a pipe for reading would wait for a writer.
                    MissingCase{"pipe", [](const TempFolder &f) { ASSERT_EQ(mkfifo(f.file("setting.ini").c_str(), 0600), 0); }}),
    [](const auto &info) { return std::string(info.param.name); });

struct IntCase {
    const char *name;
    const char *stored;
    int expected;
};
void PrintTo(const IntCase &c, std::ostream *os) { *os << c.name; }

class SettingsIntTest : public testing::TestWithParam<IntCase> {};

TEST_P(SettingsIntTest, ReadsLeadingDecimalNumber) {
    TempFolder folder;
    folder.write("setting.ini", std::string("[JOIN]\nsize=") + GetParam().stored + "\n");
    EXPECT_EQ(Settings::readInt({"join", "SIZE"}, 5), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, SettingsIntTest,
                         testing::Values(IntCase{"plain", "42", 42}, IntCase{"negative", "-1", -1},
                                         IntCase{"plus", "+7", 7}, IntCase{"trailingText", "12abc", 12},
                                         IntCase{"noDigits", "abc", 0}, IntCase{"emptyGivesDefault", "", 5},
                                         IntCase{"quoted", "\"3\"", 3}, IntCase{"tooLarge", "99999999999", INT_MAX},
                                         IntCase{"tooSmall", "-99999999999", INT_MIN}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(SettingsTest, PathIsRebuiltFromExecutableFolderAtEveryAccess) {
    TempFolder first;
    ASSERT_TRUE(Settings::writeString(settingkeys::outputFolder, "/first"));
    {
        TempFolder second;
        EXPECT_EQ(Settings::filePath(), second.file("setting.ini"));
        EXPECT_EQ(Settings::readString(settingkeys::outputFolder), "");
        ASSERT_TRUE(Settings::writeString(settingkeys::outputFolder, "/second"));
        EXPECT_EQ(Settings::readString(settingkeys::outputFolder), "/second");
    }
    overrideExecutableFolderForTesting(first.path().string());
    EXPECT_EQ(Settings::readString(settingkeys::outputFolder), "/first");
    EXPECT_EQ(first.read("setting.ini"), "[PATH]\nname=/first\n");
}

TEST(SettingsTest, WriteKeepsPermissionsAndSymbolicLink) {
    TempFolder folder;
    folder.write("real.ini", "[DIR]\nopen=1\n");
    ::chmod(folder.file("real.ini").c_str(), 0640);
    std::filesystem::create_symlink("real.ini", folder.file("setting.ini"));

    ASSERT_TRUE(Settings::writeString(settingkeys::openFolderWhenDone, "0"));

    EXPECT_TRUE(std::filesystem::is_symlink(folder.file("setting.ini")));
    EXPECT_EQ(folder.read("real.ini"), "[DIR]\nopen=0\n");
    struct stat info {};
    ASSERT_EQ(::stat(folder.file("real.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

struct FailedWriteCase {
    const char *name;
    // Points the executable folder somewhere a write must fail and returns the folder to inspect.
    std::function<std::filesystem::path(const TempFolder &)> prepare;
    bool needsPermissions;
};
void PrintTo(const FailedWriteCase &c, std::ostream *os) { *os << c.name; }

class SettingsFailedWriteTest : public testing::TestWithParam<FailedWriteCase> {};

TEST_P(SettingsFailedWriteTest, FailsWithoutTouchingAnything) {
    if (GetParam().needsPermissions && ::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    TempFolder folder;
    const std::filesystem::path inspected = GetParam().prepare(folder);
    const bool existed = std::filesystem::exists(inspected);
    const std::size_t entries = existed ? folder.entryCount() : 0;

    std::string error;
    EXPECT_FALSE(Settings::writeString(settingkeys::outputFolder, "/videos", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Settings::readString(settingkeys::outputFolder, "none"), "none");
    EXPECT_EQ(std::filesystem::exists(inspected), existed);
    if (existed) {
        EXPECT_EQ(folder.entryCount(), entries) << "a temporary file was left behind";
    }
}

INSTANTIATE_TEST_SUITE_P(Unwritable, SettingsFailedWriteTest,
                         testing::Values(FailedWriteCase{"folderMissing",
                                                         [](const TempFolder &f) {
                                                             overrideExecutableFolderForTesting(f.file("gone"));
                                                             return f.path() / "gone";
                                                         },
                                                         false},
                                         FailedWriteCase{"settingsPathIsFolder",
                                                         [](const TempFolder &f) {
                                                             std::filesystem::create_directory(f.file("setting.ini"));
                                                             return f.path();
                                                         },
                                                         false}),
                         [](const auto &info) { return std::string(info.param.name); });

// An installed program (data in ../share/melvora) and a copy whose folder may not be written keep
// their settings in $XDG_CONFIG_HOME/melvora: read from the shipped defaults until the first write,
// which starts the user's file from them. The program's own files are never written.
struct UserFolderCase {
    const char *name;
    // Lays out the program under the temporary folder; returns the program's folder and where the
    // shipped defaults are.
    std::function<std::pair<std::filesystem::path, std::filesystem::path>(const TempFolder &)> prepare;
    bool needsPermissions;
};
void PrintTo(const UserFolderCase &c, std::ostream *os) { *os << c.name; }

class SettingsUserFolderTest : public testing::TestWithParam<UserFolderCase> {};

TEST_P(SettingsUserFolderTest, StartsFromTheShippedDefaults) {
    if (GetParam().needsPermissions && ::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    TempFolder folder;
    const auto [programFolder, defaults] = GetParam().prepare(folder);
    const std::string shipped = "; shipped\n[LANGUAGE]\nfile=chinese.ini\n";
    folder.write(std::filesystem::relative(defaults, folder.path()).string(), shipped);
    const char *saved = std::getenv("XDG_CONFIG_HOME");
    const std::string previous = saved ? saved : "";
    ::setenv("XDG_CONFIG_HOME", folder.file("config").c_str(), 1);
    overrideExecutableFolderForTesting(programFolder.string());
    ::chmod(programFolder.c_str(), 0555);

    EXPECT_TRUE(Settings::usesUserFolder());
    EXPECT_EQ(Settings::filePath(), folder.file("config/melvora/setting.ini"));
    EXPECT_EQ(Settings::readString(settingkeys::languageFile), "chinese.ini");
    EXPECT_FALSE(std::filesystem::exists(folder.file("config")));
    std::string error;
    EXPECT_TRUE(Settings::writeString(settingkeys::outputFolder, "/videos", &error)) << error;
    EXPECT_EQ(folder.read("config/melvora/setting.ini"), shipped + "\n[PATH]\nname=/videos\n");
    EXPECT_EQ(Settings::readString(settingkeys::outputFolder), "/videos");
    EXPECT_EQ(folder.read(std::filesystem::relative(defaults, folder.path()).string()), shipped);
    if (defaults.parent_path() != programFolder) {
        EXPECT_FALSE(std::filesystem::exists(programFolder / "setting.ini"));
    }

    ::chmod(programFolder.c_str(), 0755);
    if (saved)
        ::setenv("XDG_CONFIG_HOME", previous.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, SettingsUserFolderTest,
    testing::Values(UserFolderCase{"installed",
                                   [](const TempFolder &f) {
                                       std::filesystem::create_directories(f.path() / "usr/bin");
                                       return std::pair(f.path() / "usr/bin",
                                                        f.path() / "usr/share/melvora/setting.ini");
                                   },
                                   false},
                    UserFolderCase{"readOnlyFolder",
                                   [](const TempFolder &f) {
                                       std::filesystem::create_directories(f.path() / "portable/languages");
                                       return std::pair(f.path() / "portable", f.path() / "portable/setting.ini");
                                   },
                                   true}),
    [](const auto &info) { return std::string(info.param.name); });

// A write that runs out of space part-way must leave the old file whole. The file size limit
// makes write() fail with EFBIG, for root as well.
TEST(SettingsTest, InterruptedWriteLeavesOldFileIntact) {
    TempFolder folder;
    const std::string original = "; kept\n[LANGUAGE]\nfile=english.ini\n\n[PATH]\nname=/old\n";
    folder.write("setting.ini", original);

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = original.size() + 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::string error;
    const bool stored = Settings::writeString(settingkeys::outputFolder, std::string(200, 'x'), &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(stored);
    EXPECT_NE(error.find("write"), std::string::npos) << error;
    EXPECT_EQ(folder.read("setting.ini"), original);
    EXPECT_EQ(folder.entryCount(), 1u) << "a temporary file was left behind";
}

} // namespace
} // namespace melvora
