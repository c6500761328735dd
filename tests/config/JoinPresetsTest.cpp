#include "config/JoinPresets.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

namespace melvora {
namespace {

using test::TempFolder;

TEST(JoinPresetsTest, ListsHaveTheirEntries) {
    const JoinPresets presets("Same");
    const std::vector<std::pair<JoinList, std::size_t>> sizes{{JoinList::Format, 1},     {JoinList::Size, 13},
                                                              {JoinList::Framerate, 12}, {JoinList::Quality, 20},
                                                              {JoinList::Samplerate, 4}, {JoinList::Audioquality, 7}};
    for (const auto &[list, size] : sizes)
        EXPECT_EQ(presets.entries(list).size(), size) << JoinPresets::settingKey(list).key;
    for (JoinList list : {JoinList::Size, JoinList::Framerate, JoinList::Quality})
        EXPECT_EQ(presets.entries(list).front(), "Same");
    EXPECT_EQ(presets.entries(JoinList::Size).back(), "1080*1920");
    EXPECT_EQ(presets.entries(JoinList::Quality).back(), "100000 kbps");
    EXPECT_EQ(presets.entries(JoinList::Samplerate).front(), "44100 Hz");
}

TEST(JoinPresetsTest, FirstRunCreatesFileWithOnlyWrittenJoinKeys) {
    TempFolder folder;
    JoinPresets presets("Same");
    presets.loadFromSettings();
    for (JoinList list : JoinPresets::allLists)
        EXPECT_EQ(presets.selection(list), 0);
    ASSERT_TRUE(presets.saveToSettings());
    EXPECT_EQ(folder.read("setting.ini"), "[JOIN]\nquality=0\nsize=0\nframerate=0\naudioquality=0\nsamplerate=0\n");
}

struct CarryCase {
    const char *name;
    const char *key;
    const char *stored;
    const char *writtenBack; // nullptr: the key stays as stored
};
void PrintTo(const CarryCase &c, std::ostream *os) { *os << c.name; }

class JoinPresetsCarryTest : public testing::TestWithParam<CarryCase> {};

TEST_P(JoinPresetsCarryTest, StoredPositionIsWrittenBackOrMinusOne) {
    TempFolder folder;
    const CarryCase &c = GetParam();
    const std::string line = std::string(c.key) + "=" + c.stored + "\n";
    folder.write("setting.ini", "[JOIN]\n" + line);
    JoinPresets presets("Same");
    presets.loadFromSettings();
    ASSERT_TRUE(presets.saveToSettings());
    const std::string expected = c.writtenBack ? std::string(c.key) + "=" + c.writtenBack + "\n" : line;
    EXPECT_NE(folder.read("setting.ini").find("\n" + expected), std::string::npos) << folder.read("setting.ini");
}

INSTANTIATE_TEST_SUITE_P(
    Rule, JoinPresetsCarryTest,
    testing::Values(CarryCase{"sizeInList", "size", "12", "12"}, CarryCase{"sizeBeyondList", "size", "13", "-1"},
                    CarryCase{"size99", "size", "99", "-1"}, CarryCase{"negative", "size", "-5", "-1"},
                    CarryCase{"noDigitsIsZero", "framerate", "abc", "0"},
                    CarryCase{"qualityLast", "quality", "19", "19"}, CarryCase{"qualityBeyond", "quality", "20", "-1"},
                    CarryCase{"samplerateBeyond", "samplerate", "4", "-1"},
                    CarryCase{"audioqualityLast", "audioquality", "6", "6"},
                    CarryCase{"formatNeverWritten", "format", "7", nullptr},
                    CarryCase{"formatInListNeverWritten", "format", "0", nullptr}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(JoinPresetsTest, FormatIsReadButAbsentFormatIsNotCreated) {
    TempFolder folder;
    folder.write("setting.ini", "[JOIN]\nformat=3\n");
    JoinPresets presets("Same");
    presets.loadFromSettings();
    EXPECT_EQ(presets.selection(JoinList::Format), JoinPresets::noSelection);
    presets.select(JoinList::Size, 2);
    ASSERT_TRUE(presets.saveToSettings());
    EXPECT_EQ(folder.read("setting.ini"),
              "[JOIN]\nformat=3\nquality=0\nsize=2\nframerate=0\naudioquality=0\nsamplerate=0\n");
}

} // namespace
} // namespace melvora
