#include "config/MixSettingsStore.h"
#include "config/Settings.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

namespace melvora {
namespace {

using test::TempFolder;

TEST(MixSettingsStore, WhatIsSavedLoadsBackAndTheRestOfTheFileStays) {
    TempFolder folder;
    folder.write("setting.ini", "[LANGUAGE]\nfile=german.ini\n");
    MixSettings settings;
    settings.musicGainDb = -7.5;
    settings.ownGainDb = 3;
    settings.replaceOwnSound = true;
    settings.fadeInSeconds = 0.25;
    settings.fadeOutSeconds = 4;
    settings.delaySeconds = 1.5;
    settings.musicStartSeconds = 12.125;
    settings.loop = false;
    settings.fit = true;
    settings.crossfadeSeconds = 2;
    settings.duckDb = 14, settings.duckLookaheadSeconds = 0.5, settings.duckHoldSeconds = 1.25,
    settings.duckKey = DuckKey::Any;
    ASSERT_TRUE(MixSettingsStore::save(settings));
    EXPECT_EQ(MixSettingsStore::load(), settings);
    EXPECT_EQ(Settings::readString({"LANGUAGE", "file"}), "german.ini");
    EXPECT_EQ(Settings::readString({"MIX", "musicgain"}), "-7.5");

    // Back to the defaults: the unset levels and ducking are written empty.
    ASSERT_TRUE(MixSettingsStore::save(MixSettings{}));
    EXPECT_TRUE(MixSettingsStore::load().isDefault());
    EXPECT_EQ(Settings::readString({"MIX", "duck"}, "missing"), "");

    MixSettings loudness;
    loudness.musicLoudnessLufs = -28, loudness.loudnessLufs = -16, loudness.truePeakDb = -1.5;
    ASSERT_TRUE(MixSettingsStore::save(loudness));
    EXPECT_EQ(Settings::readString({"MIX", "loudness"}), "-16");
    EXPECT_EQ(MixSettingsStore::load(), loudness);

    MixSettings seams;
    seams.loopAtSeams = true;
    ASSERT_TRUE(MixSettingsStore::save(seams));
    EXPECT_EQ(MixSettingsStore::load(), seams);
    EXPECT_EQ(Settings::readString({"MIX", "loop"}), "2");
}

struct StoredCase {
    const char *name;
    const char *section; // the [MIX] lines
    MixSettings expected;
};
void PrintTo(const StoredCase &c, std::ostream *os) {
    *os << c.name;
}

MixSettings with(void (*set)(MixSettings &)) {
    MixSettings settings;
    set(settings);
    return settings;
}

class MixSettingsStoreFallback : public testing::TestWithParam<StoredCase> {};

TEST_P(MixSettingsStoreFallback, GivesTheDefaultForWhatIsUnusable) {
    TempFolder folder;
    folder.write("setting.ini", std::string("[DIR]\nopen=1\n[MIX]\n") + GetParam().section);
    EXPECT_EQ(MixSettingsStore::load(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MixSettingsStoreFallback,
    testing::Values(
        StoredCase{"emptySection", "", MixSettings{}},
        StoredCase{"emptyValues", "musicgain=\nduck=\nfadein=\nloop=\n", MixSettings{}},
        StoredCase{"gainOutOfRange", "musicgain=25\nowngain=-6\n", with([](MixSettings &s) { s.ownGainDb = -6; })},
        StoredCase{"notNumbers", "fadeout=long\ndelay=2s\ncrossfade=1,5\n", MixSettings{}},
        StoredCase{"negativeSeconds", "musicstart=-3\nfadein=2\n", with([](MixSettings &s) { s.fadeInSeconds = 2; })},
        StoredCase{"duckZeroIsOff", "duck=0\n", MixSettings{}},
        StoredCase{"caseAndSpaces", "MusicGain = +4\nLOOP=0\nreplace=1\n", with([](MixSettings &s) {
                       s.musicGainDb = 4;
                       s.loop = false;
                       s.replaceOwnSound = true;
                   })},
        StoredCase{"onlyOneMeansReplace", "replace=yes\nloop=no\nfit=yes\n", MixSettings{}},
        StoredCase{"fitAndSeamLoop", "fit=1\nloop=2\n", with([](MixSettings &s) { s.fit = s.loopAtSeams = true; })},
        StoredCase{"unknownLoopIsTheFileLoop", "loop=3\n", MixSettings{}},
        StoredCase{"loudnessOutranksAStaleGain", "musicgain=-3\nmusicloudness=-30\n",
                   with([](MixSettings &s) { s.musicLoudnessLufs = -30; })}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(MixSettingsStore, AFileThatCannotBeReadGivesTheDefaults) {
    TempFolder folder;
    std::filesystem::create_directory(folder.file("setting.ini"));
    EXPECT_TRUE(MixSettingsStore::load().isDefault());
    EXPECT_FALSE(MixSettingsStore::save(MixSettings{}));
}

} // namespace
} // namespace melvora
