// The settings in the real program against the simulated unit: what the unit holds shows up once
// its port is picked, a unit that does not answer leaves them disabled, and the unit keeps what
// it was told across a re-selection of the port and a restart (its state file). What went to
// the unit is read back from the transcript of the simulated MIDI cable.
#include "tests/ui/ui_harness.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ui/ids.h"

namespace {

const int SETTINGS_CONTROLS[] = {IDC_BLANK_ZERO, IDC_BLANK_FRAMES, IDC_NO_STATIONARY_LTC,
                                 IDC_FLYWHEEL,   IDC_MMC_ID,       IDC_MMC_SPIN,
                                 IDC_BRIGHTNESS};

const char SETTINGS_HELP[] =
    "Firmware 2.1 must be installed to enable the following settings:\n\n\n"
    "Blank leading zero of the time code display, i.e.  1:00:00:00 instead of 01:00:00:00.\n\n"
    "Blank frames when running. Running time code will be displayed without frames i.e. "
    "01:00:00.\n\n"
    "Disable stationary LTC output.\n"
    "Stationary LTC time code (not incrementing) is used to indicate an exact position.\n"
    "Some LTC readers may not interpret stationary time code and produce errors.\n\n"
    "Infinite flywheel.\n"
    "When the time code input signal disappears during time code translation,\n"
    "the Infinte flywheel option continues re-generation until a new valid time code will be "
    "detected.\n\n"
    "MIDI Machine Control ID serves to address MMC machines individually in addition to ID 127 "
    "(broadcast).\n\n"
    "Brightness slider sets time code display and status LED brightness.\n\n"
    "All settings are stored non volatile.";

class Settings : public ::testing::Test {
  protected:
    void TearDown() override {
        StopApp(app);
        DeleteFileA(statePath.c_str());
    }

    // Picks the unit's port and waits until the unit has reported every setting.
    void PickUnit() {
        ASSERT_TRUE(PickPort(app, "tavi"));
        for (int id : SETTINGS_CONTROLS) {
            ASSERT_TRUE(WaitForEnabled(app, id, true)) << "control " << id << " never enabled";
        }
    }

    size_t Count(const std::string& event) { return TranscriptEvents(app, event).size(); }
    bool Checked(int id) { return Ask(app, id, BM_GETCHECK) == BST_CHECKED; }
    int Slider() { return static_cast<int>(Ask(app, IDC_BRIGHTNESS, TBM_GETPOS)); }
    void ClickAndWaitChecked(int id, bool checked) {
        Click(app, id);
        ASSERT_TRUE(WaitUntil([&] { return Checked(id) == checked; }));
    }

    UiApp app;
    std::string statePath;
};

TEST_F(Settings, TheUnitsStoredSettingsAppearOnceItsPortIsPicked) {
    ASSERT_TRUE(StartApp(app, "normal;settings=1,0,1,0,42,11"));
    PickUnit();
    EXPECT_TRUE(Checked(IDC_BLANK_ZERO));
    EXPECT_FALSE(Checked(IDC_BLANK_FRAMES));
    EXPECT_TRUE(Checked(IDC_NO_STATIONARY_LTC));
    EXPECT_FALSE(Checked(IDC_FLYWHEEL));
    EXPECT_EQ(ControlText(app, IDC_MMC_ID), "042");
    EXPECT_EQ(Ask(app, IDC_MMC_SPIN, UDM_GETPOS32), 42);
    EXPECT_TRUE(WaitUntil([&] { return Slider() == 11; }));

    // The slider's first notification sends the reported level back, once (the last level sent
    // was 0), and nothing else goes out on the program's own account: after the seven opening
    // messages come that level and then the fence, the flywheel box clicked on and off.
    ASSERT_TRUE(WaitForTranscript(app, "rx F0 2C 4D 56 0B F7"));
    ClickAndWaitChecked(IDC_FLYWHEEL, true);
    ClickAndWaitChecked(IDC_FLYWHEEL, false);
    ASSERT_TRUE(WaitForTranscript(app, "rx F0 2C 4D 59 00 F7"));
    std::vector<std::string> sets;
    for (const TranscriptEvent& e : TranscriptEvents(app, "rx F0 2C 4D")) {
        sets.push_back(e.event);
    }
    ASSERT_GE(sets.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(sets.begin() + 7, sets.end()),
              (std::vector<std::string>{"rx F0 2C 4D 56 0B F7", "rx F0 2C 4D 59 01 F7",
                                        "rx F0 2C 4D 59 00 F7"}));
}

TEST_F(Settings, AUnitThatDoesNotAnswerSettingQueriesLeavesThemDisabled) {
    ASSERT_TRUE(StartApp(app, "old"));
    ASSERT_TRUE(PickPort(app, "tavi"));
    // The unit has answered the Status request, which was sent after the six queries.
    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "Firmware 2.0"));
    for (int id : SETTINGS_CONTROLS) {
        EXPECT_FALSE(ControlEnabled(app, id)) << "control " << id;
    }
    EXPECT_EQ(Count("tx F0 2C 4D 6"), 0u);

    Click(app, IDC_HELP_SETTINGS);
    MessageBoxView box;
    ASSERT_TRUE(WaitForMessageBox(app, box));
    EXPECT_EQ(box.caption, "Help");
    EXPECT_EQ(box.text, SETTINGS_HELP);
    EXPECT_TRUE(DismissMessageBox(box));
}

// Picking the port again shows what the user changed (the unit reports it anew), and so does a
// restart of program and unit with the unit's state file.
TEST_F(Settings, ChangedSettingsSurviveReselectionAndRestart) {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    statePath = std::string(folder) + "tavi-settings-" + std::to_string(GetCurrentProcessId());
    DeleteFileA(statePath.c_str());
    const std::string scenario = "normal;state=" + statePath;
    ASSERT_TRUE(StartApp(app, scenario));
    PickUnit();
    ClickAndWaitChecked(IDC_BLANK_FRAMES, true);
    ClickAndWaitChecked(IDC_FLYWHEEL, true);
    // Typed into the MMC ID field, which is then left.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(Control(app, IDC_MMC_ID), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"77"),
                        SMTO_NORMAL, UI_WAIT_MS, &ignored);
    PostMessageW(Control(app, IDC_MMC_ID), WM_KILLFOCUS, 0, 0);
    ASSERT_TRUE(WaitForTranscript(app, "tx F0 2C 4D 63 4D F7"));
    // The keyboard moves the slider; its redraw notifies the window, which sends the level.
    const int start = Slider();
    PostMessageW(Control(app, IDC_BRIGHTNESS), WM_KEYDOWN, VK_RIGHT, 0);
    PostMessageW(Control(app, IDC_BRIGHTNESS), WM_KEYUP, VK_RIGHT, 0);
    char level[32];
    std::snprintf(level, sizeof level, "tx F0 2C 4D 66 %02X F7", start + 1);
    ASSERT_TRUE(WaitForTranscript(app, level)) << "the unit never took brightness " << start + 1;

    // Re-selection: the ports close and open again, and the unit reports what it holds.
    ASSERT_TRUE(PickPort(app, "tavi"));
    ASSERT_TRUE(WaitForTranscript(app, "open out", 2));
    for (const char* report : {"tx F0 2C 4D 63 4D F7", "tx F0 2C 4D 65 01 F7",
                               "tx F0 2C 4D 69 01 F7", static_cast<const char*>(level)}) {
        ASSERT_TRUE(WaitForTranscript(app, report, 2)) << report;
    }

    // Restart: a new program and a freshly plugged unit that reads its state file.
    ASSERT_TRUE(StartApp(app, scenario));
    PickUnit();
    EXPECT_FALSE(Checked(IDC_BLANK_ZERO));
    EXPECT_TRUE(Checked(IDC_BLANK_FRAMES));
    EXPECT_FALSE(Checked(IDC_NO_STATIONARY_LTC));
    EXPECT_TRUE(Checked(IDC_FLYWHEEL));
    EXPECT_EQ(ControlText(app, IDC_MMC_ID), "077");
    EXPECT_TRUE(WaitUntil([&] { return Slider() == start + 1; }));
}

} // namespace
