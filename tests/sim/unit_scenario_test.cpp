// The scenario text and the state file that keeps the settings across plug-ins.
#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>

#include "unit_exchange.h"

namespace {

TEST(UnitScenarioText, ReadsKnobsBetweenSpacesAndEmptyParts) {
    UnitScenario s;
    std::string error = "stale";
    ASSERT_EQ(0, ParseScenario(" update ; delay=12;;reject=5x2;version=327f;"
                               "state=/tmp/unit state.txt;settings=1,0,1,1,126,15;",
                               s, error));
    EXPECT_EQ("", error);
    EXPECT_TRUE(s.updateMode);
    EXPECT_EQ(12u, s.replyDelayMs);
    EXPECT_EQ(2u, s.rejectTimes);
    EXPECT_EQ(0x7F, s.version[1]);
    EXPECT_EQ("/tmp/unit state.txt", s.stateFile);
    EXPECT_EQ(126, s.initialSettings.mmcId);
}

TEST(UnitScenarioText, RefusesWhatItDoesNotUnderstandAndSaysWhat) {
    struct Case {
        const char* text;
        const char* said;
    };
    const Case cases[] = {
        {"sleepy", "unknown base 'sleepy'"},
        {"update;normal", "a base (normal, update, old) comes first"},
        {"update;colour=red", "unknown key 'colour'"},
        {"delay=5ms", "delay=MS"},
        {"reject=5", "reject=RECORDxTIMES"},
        {"version=8031", "version=HHHH"},
        {"settings=1,0,1,1,127,15", "settings=B,F,L,W,ID,LV"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        UnitScenario s;
        s.eraseMs = 77;
        std::string error;
        EXPECT_EQ(-1, ParseScenario(c.text, s, error));
        EXPECT_NE(std::string::npos, error.find(c.said)) << error;
        EXPECT_NE(std::string::npos, error.find(c.text)) << "names the whole text: " << error;
        EXPECT_EQ(0u, s.eraseMs) << "left at the defaults";
    }
}

std::string TempPath(const char* name) {
    std::string path = ::testing::TempDir() + name;
    std::remove(path.c_str());
    return path;
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The file outranks the scenario's settings, which hold only until there is a file.
TEST(UnitStateFile, SettingsSurviveAReplug) {
    const std::string path = TempPath("unit_state_round_trip.txt");
    const std::string scenario = "normal;settings=0,1,0,0,7,9;state=" + path;
    UnitModel unit = PluggedIn(scenario);
    Play(unit, {
                   {0, "F0 2C 4D 53 7F F7", "F0 2C 4D 63 07 F7"},
                   {1, "F0 2C 4D 52 01 F7", "F0 2C 4D 62 01 F7"},
                   {2, "F0 2C 4D 53 05 F7", "F0 2C 4D 63 05 F7"},
                   {3, "F0 2C 4D 56 03 F7", "F0 2C 4D 66 03 F7"},
                   {4, "F0 2C 4D 56 03 F7", "F0 2C 4D 66 03 F7"},
                   {5, "F0 2C 4D 56 20 F7", "F0 2C 4D 66 03 F7"},
               });
    EXPECT_EQ(3u, unit.stateWrites) << "written on each change, not on repeats or refusals";
    EXPECT_EQ("blank_zero=1\nblank_frames=1\nno_stationary_ltc=0\nflywheel=0\nmmc_id=5\n"
              "brightness=3\n",
              ReadText(path));
    UnitModel again = PluggedIn(scenario, 1000);
    Play(again, {
                    {1000, "F0 2C 4D 52 7F F7", "F0 2C 4D 62 01 F7"},
                    {1000, "F0 2C 4D 53 7F F7", "F0 2C 4D 63 05 F7"},
                    {1000, "F0 2C 4D 56 7F F7", "F0 2C 4D 66 03 F7"},
                });
    std::remove(path.c_str());
}

// A file the unit cannot make sense of gives the defaults (not some of its lines), and the
// next change rewrites it.
TEST(UnitStateFile, AGarbledFileGivesTheDefaults) {
    const std::string four = "blank_zero=1\nblank_frames=0\nno_stationary_ltc=0\nflywheel=1\n";
    const std::string garbled[] = {
        "",
        "garbage\n",
        four + "mmc_id=5\n",                                  // a key missing
        four + "mmc_id=5\nbrightness=16\n",                   // out of range
        four + "mmc_id=\nbrightness=1\n",                     // no value
        four + "mmc_id=5\nbrightness=1\ncolour=red\n",        // an unknown key
        "blank_zero=1\n" + four + "mmc_id=5\nbrightness=1\n", // a key twice
    };
    const std::string path = TempPath("unit_state_garbled.txt");
    for (const std::string& text : garbled) {
        SCOPED_TRACE(testing::PrintToString(text));
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        UnitModel unit = PluggedIn("normal;state=" + path);
        EXPECT_EQ("F0 2C 4D 63 05 F7", Send(unit, 1, "F0 2C 4D 53 05 F7"));
        EXPECT_EQ("blank_zero=0\nblank_frames=0\nno_stationary_ltc=0\nflywheel=0\nmmc_id=5\n"
                  "brightness=8\n",
                  ReadText(path));
    }
    std::remove(path.c_str());
}

TEST(UnitStateFile, AFileThatCannotBeWrittenLeavesTheUnitWorking) {
    UnitModel unit =
        PluggedIn("normal;state=" + ::testing::TempDir() + "no_such_folder_for_the_unit/state.txt");
    EXPECT_EQ("F0 2C 4D 66 02 F7", Send(unit, 0, "F0 2C 4D 56 02 F7"));
    EXPECT_TRUE(unit.stateWriteFailed);
    EXPECT_EQ("F0 2C 4D 66 02 F7", Send(unit, 1, "F0 2C 4D 56 7F F7"));
}

} // namespace
