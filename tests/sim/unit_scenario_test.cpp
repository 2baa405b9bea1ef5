// The scenario text and the state file that keeps the settings across plug-ins.
#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>

#include "unit_exchange.h"

namespace {

TEST(UnitScenarioText, ReadsEveryKnob) {
    UnitScenario s;
    std::string error = "stale";
    ASSERT_EQ(0, ParseScenario(" update ; delay=12;erase=2500;reject=5x2;silent=7x3;"
                               "unplug_record=9;unplug_erase=1;unplug_after=60000;"
                               "running_from_status=1;version=327f;check_invalid=1;noise=4;"
                               "state=/tmp/unit state.txt;settings=1,0,1,1,126,15;",
                               s, error));
    EXPECT_EQ("", error);
    EXPECT_TRUE(s.updateMode);
    EXPECT_EQ(12u, s.replyDelayMs);
    EXPECT_EQ(2500u, s.eraseMs);
    EXPECT_EQ(5, s.rejectRecord);
    EXPECT_EQ(2u, s.rejectTimes);
    EXPECT_EQ(7, s.silentRecord);
    EXPECT_EQ(3u, s.silentTimes);
    EXPECT_EQ(9, s.unplugAtRecord);
    EXPECT_TRUE(s.unplugDuringErase);
    EXPECT_EQ(60000, s.unplugAfterMs);
    EXPECT_EQ(1, s.runningFromStatus);
    EXPECT_EQ(0x32, s.version[0]);
    EXPECT_EQ(0x7F, s.version[1]);
    EXPECT_TRUE(s.checkReportsInvalid);
    EXPECT_EQ(4u, s.noiseEvery);
    EXPECT_EQ("/tmp/unit state.txt", s.stateFile);
    EXPECT_EQ(1, s.initialSettings.options[0]);
    EXPECT_EQ(0, s.initialSettings.options[1]);
    EXPECT_EQ(1, s.initialSettings.options[3]);
    EXPECT_EQ(126, s.initialSettings.mmcId);
    EXPECT_EQ(15, s.initialSettings.brightness);
}

TEST(UnitScenarioText, BasesAndDefaults) {
    struct Case {
        const char* text;
        bool updateMode;
        const char* version;
        bool answersSettings;
    };
    const Case cases[] = {
        {"", false, "21", true},
        {"normal", false, "21", true},
        {"update", true, "21", true},
        {"old", false, "20", false},
        {";;update;", true, "21", true},
        {"noise=0", false, "21", true},
        {"old;version=3231", false, "21", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        UnitScenario s;
        std::string error;
        ASSERT_EQ(0, ParseScenario(c.text, s, error)) << error;
        EXPECT_EQ(c.updateMode, s.updateMode);
        EXPECT_EQ(c.version, std::string(reinterpret_cast<const char*>(s.version), 2));
        EXPECT_EQ(c.answersSettings, s.answersSettings);
        EXPECT_EQ(-1, s.rejectRecord);
        EXPECT_EQ(-1, s.unplugAfterMs);
        EXPECT_EQ(8, s.initialSettings.brightness);
    }
}

TEST(UnitScenarioText, RefusesWhatItDoesNotUnderstandAndSaysWhat) {
    struct Case {
        const char* text;
        const char* said;
    };
    const Case cases[] = {
        {"sleepy", "unknown base 'sleepy'"},
        {"update;normal", "a base (normal, update, old) comes first"},
        {"update;delay", "a base (normal, update, old) comes first"},
        {"update;colour=red", "unknown key 'colour'"},
        {"update;ports=2", "unknown key 'ports'"},
        {"delay=-5", "delay=MS"},
        {"delay=5ms", "delay=MS"},
        {"delay=", "delay=MS"},
        {"erase=99999999999", "erase=MS"},
        {"reject=5", "reject=RECORDxTIMES"},
        {"reject=x2", "reject=RECORDxTIMES"},
        {"silent=5x", "silent=RECORDxTIMES"},
        {"unplug_record=-1", "unplug_record=N"},
        {"unplug_erase=yes", "unplug_erase wants 0 or 1"},
        {"unplug_after=soon", "unplug_after=MS"},
        {"running_from_status=one", "running_from_status=N"},
        {"version=21", "version=HHHH"},
        {"version=3G31", "version=HHHH"},
        {"version=8031", "version=HHHH"},
        {"check_invalid=2", "check_invalid wants 0 or 1"},
        {"noise=many", "noise=N"},
        {"state=", "state=PATH"},
        {"settings=1,0,1,1,126", "settings=B,F,L,W,ID,LV"},
        {"settings=1,0,1,1,127,15", "settings=B,F,L,W,ID,LV"},
        {"settings=1,0,2,1,5,15", "settings=B,F,L,W,ID,LV"},
        {"settings=1,0,1,1,5,16", "settings=B,F,L,W,ID,LV"},
        {"settings=1,0,1,1,5,15,0", "settings=B,F,L,W,ID,LV"},
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

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

const std::vector<Exchange> SIX_QUERIES_DEFAULT = {
    {0, "F0 2C 4D 52 7F F7", "F0 2C 4D 62 00 F7"}, {0, "F0 2C 4D 55 7F F7", "F0 2C 4D 65 00 F7"},
    {0, "F0 2C 4D 53 7F F7", "F0 2C 4D 63 00 F7"}, {0, "F0 2C 4D 58 7F F7", "F0 2C 4D 68 00 F7"},
    {0, "F0 2C 4D 59 7F F7", "F0 2C 4D 69 00 F7"}, {0, "F0 2C 4D 56 7F F7", "F0 2C 4D 66 08 F7"},
};

TEST(UnitStateFile, SettingsSurviveAReplug) {
    const std::string path = TempPath("unit_state_round_trip.txt");
    const UnitScenario scenario = Scenario("normal;state=" + path);
    UnitModel unit;
    UnitPlugIn(unit, scenario, 0);
    Play(unit, SIX_QUERIES_DEFAULT); // no file yet: the defaults
    EXPECT_EQ(0u, unit.stateWrites) << "queries change nothing";
    Play(unit, {
                   {1, "F0 2C 4D 52 01 F7", "F0 2C 4D 62 01 F7"},
                   {2, "F0 2C 4D 59 01 F7", "F0 2C 4D 69 01 F7"},
                   {3, "F0 2C 4D 53 05 F7", "F0 2C 4D 63 05 F7"},
                   {4, "F0 2C 4D 56 03 F7", "F0 2C 4D 66 03 F7"},
                   {5, "F0 2C 4D 56 03 F7", "F0 2C 4D 66 03 F7"},
                   {6, "F0 2C 4D 56 20 F7", "F0 2C 4D 66 03 F7"},
               });
    EXPECT_EQ(4u, unit.stateWrites) << "written on each change, not on repeats or refusals";
    EXPECT_FALSE(unit.stateWriteFailed);
    EXPECT_EQ("blank_zero=1\nblank_frames=0\nno_stationary_ltc=0\nflywheel=1\nmmc_id=5\n"
              "brightness=3\n",
              ReadText(path));

    UnitModel again;
    UnitPlugIn(again, scenario, 1000);
    Play(again, {
                    {1000, "F0 2C 4D 52 7F F7", "F0 2C 4D 62 01 F7"},
                    {1000, "F0 2C 4D 55 7F F7", "F0 2C 4D 65 00 F7"},
                    {1000, "F0 2C 4D 53 7F F7", "F0 2C 4D 63 05 F7"},
                    {1000, "F0 2C 4D 58 7F F7", "F0 2C 4D 68 00 F7"},
                    {1000, "F0 2C 4D 59 7F F7", "F0 2C 4D 69 01 F7"},
                    {1000, "F0 2C 4D 56 7F F7", "F0 2C 4D 66 03 F7"},
                });
    std::remove(path.c_str());
}

// A file the unit cannot make sense of gives the defaults, and the next change rewrites it.
TEST(UnitStateFile, AGarbledFileGivesTheDefaults) {
    const char* const garbled[] = {
        "",
        "garbage\n",
        "\x01\x02\xff\xfe",
        "blank_zero=1\nblank_frames=0\nno_stationary_ltc=0\nflywheel=1\nmmc_id=5\n",
        "blank_zero=1\nblank_frames=0\nno_stationary_ltc=0\nflywheel=1\nmmc_id=5\nbrightness=16\n",
        "blank_zero=1\nblank_frames=0\nno_stationary_ltc=0\nflywheel=1\nmmc_id=127\nbrightness=1\n",
        "blank_zero=2\nblank_frames=0\nno_stationary_ltc=0\nflywheel=1\nmmc_id=5\nbrightness=1\n",
        "blank_zero=1\nblank_zero=1\nno_stationary_ltc=0\nflywheel=1\nmmc_id=5\nbrightness=1\n",
        "blank_zero=1\nblank_frames=0\nno_stationary_ltc=0\nflywheel=1\nmmc_id=5\nbrightness=1\n"
        "colour=red\n",
        "blank_zero=1\nblank_frames=0\nno_stationary_ltc=0\nflywheel=1\nmmc_id=-5\nbrightness=1\n",
        "blank_zero=1\nblank_frames=0\nno_stationary_ltc=0\nflywheel=1\nmmc_id=\nbrightness=1\n",
        "blank_zero 1\nblank_frames=0\nno_stationary_ltc=0\nflywheel=1\nmmc_id=5\nbrightness=1\n",
    };
    const std::string path = TempPath("unit_state_garbled.txt");
    for (const char* text : garbled) {
        SCOPED_TRACE(testing::PrintToString(std::string(text)));
        WriteText(path, text);
        UnitModel unit;
        UnitPlugIn(unit, Scenario("normal;state=" + path), 0);
        Play(unit, SIX_QUERIES_DEFAULT);
        EXPECT_EQ("F0 2C 4D 63 05 F7", Send(unit, 1, "F0 2C 4D 53 05 F7"));
        EXPECT_EQ("blank_zero=0\nblank_frames=0\nno_stationary_ltc=0\nflywheel=0\nmmc_id=5\n"
                  "brightness=8\n",
                  ReadText(path));
    }
    std::remove(path.c_str());
}

TEST(UnitStateFile, AcceptsAnyOrderBlankLinesAndCarriageReturns) {
    const std::string path = TempPath("unit_state_order.txt");
    WriteText(path, "\r\nbrightness=15\r\nmmc_id=126\r\n\r\nflywheel=1\r\nno_stationary_ltc=1\r\n"
                    "blank_frames=1\r\n blank_zero=1 \r\n");
    UnitSettings settings = {};
    ASSERT_EQ(0, ReadUnitState(path, settings));
    EXPECT_EQ(1, settings.options[0]);
    EXPECT_EQ(1, settings.options[1]);
    EXPECT_EQ(1, settings.options[2]);
    EXPECT_EQ(1, settings.options[3]);
    EXPECT_EQ(126, settings.mmcId);
    EXPECT_EQ(15, settings.brightness);
    std::remove(path.c_str());
}

TEST(UnitStateFile, TheFileOutranksTheScenarioSettings) {
    const std::string path = TempPath("unit_state_outranks.txt");
    const UnitSettings kept = {{0, 1, 0, 0}, 42, 2};
    ASSERT_EQ(0, WriteUnitState(path, kept));
    UnitModel unit;
    UnitPlugIn(unit, Scenario("normal;settings=1,1,1,1,7,9;state=" + path), 0);
    EXPECT_EQ("F0 2C 4D 63 2A F7", Send(unit, 0, "F0 2C 4D 53 7F F7"));
    EXPECT_EQ("F0 2C 4D 62 00 F7", Send(unit, 0, "F0 2C 4D 52 7F F7"));
    std::remove(path.c_str());
    UnitPlugIn(unit, Scenario("normal;settings=1,1,1,1,7,9;state=" + path), 0);
    EXPECT_EQ("F0 2C 4D 63 07 F7", Send(unit, 0, "F0 2C 4D 53 7F F7")) << "no file: the scenario's";
}

TEST(UnitStateFile, AFileThatCannotBeWrittenLeavesTheUnitWorking) {
    const std::string path = ::testing::TempDir() + "no_such_folder_for_the_unit/state.txt";
    UnitModel unit;
    UnitPlugIn(unit, Scenario("normal;state=" + path), 0);
    EXPECT_EQ("F0 2C 4D 66 02 F7", Send(unit, 0, "F0 2C 4D 56 02 F7"));
    EXPECT_TRUE(unit.stateWriteFailed);
    EXPECT_EQ("F0 2C 4D 66 02 F7", Send(unit, 1, "F0 2C 4D 56 7F F7"));
}

} // namespace
