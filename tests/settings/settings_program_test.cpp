// The six settings in the real program against the simulated unit: what the unit holds shows up
// once its port is picked, every change reaches the unit (read back from the transcript of the
// simulated MIDI cable), and the unit keeps what it was told across a re-selection of the port
// and across a restart (its state file).
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

// The stand-in's clock prints three decimals.
constexpr double PAUSE_MS = 50.0;
constexpr double CLOCK_GRAIN_MS = 0.001;

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

std::vector<std::string> Texts(const std::vector<TranscriptEvent>& events) {
    std::vector<std::string> texts;
    for (const TranscriptEvent& e : events) {
        texts.push_back(e.event);
    }
    return texts;
}

// A state file for the simulated unit, removed again by the test.
std::string FreshStatePath() {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    char path[MAX_PATH + 64] = {};
    std::snprintf(path, sizeof path, "%stavi-settings-%lu.state", folder, GetCurrentProcessId());
    DeleteFileA(path);
    return path;
}

class Settings : public ::testing::Test {
  protected:
    void TearDown() override {
        StopApp(app);
        if (!statePath.empty()) {
            DeleteFileA(statePath.c_str());
        }
    }

    void Start(const std::string& scenario) { ASSERT_TRUE(StartApp(app, scenario)) << scenario; }

    // Picks the unit's port and waits until the unit has reported every setting.
    void PickUnit() {
        ASSERT_TRUE(PickPort(app, "tavi"));
        for (int id : SETTINGS_CONTROLS) {
            ASSERT_TRUE(WaitForEnabled(app, id, true)) << "control " << id << " never enabled";
        }
    }

    size_t Count(const std::string& event) const {
        size_t n = 0;
        for (const TranscriptEvent& e : ReadTranscript(app)) {
            n += e.event == event ? 1 : 0;
        }
        return n;
    }
    bool WaitForCount(const std::string& event, size_t count) const {
        return WaitUntil([&] { return Count(event) >= count; });
    }

    // A known pair of messages the test sends last (the flywheel box, unchecked, clicked on and
    // off): once the unit has the second, everything the program sent before it has arrived.
    void Fence() {
        const size_t before = Count("rx F0 2C 4D 59 00 F7");
        ClickAndWaitChecked(IDC_FLYWHEEL, true);
        ClickAndWaitChecked(IDC_FLYWHEEL, false);
        ASSERT_TRUE(WaitForCount("rx F0 2C 4D 59 00 F7", before + 1));
    }

    void ClickAndWaitChecked(int id, bool checked) {
        Click(app, id);
        ASSERT_TRUE(WaitUntil([&] { return IsChecked(app, id) == checked; }));
    }

    // The user types into the MMC ID field and clicks elsewhere.
    void LeaveFieldWith(const std::string& text) {
        HWND field = Control(app, IDC_MMC_ID);
        const std::wstring wide(text.begin(), text.end());
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()),
                            SMTO_NORMAL, UI_WAIT_MS, &ignored);
        PostMessageW(field, WM_KILLFOCUS, 0, 0);
    }

    // A mouse click on the upper or lower arrow of the up-down control.
    void ClickArrow(bool up) {
        HWND spin = Control(app, IDC_MMC_SPIN);
        RECT area;
        GetClientRect(spin, &area);
        const LPARAM point = MAKELPARAM(area.right / 2, up ? area.bottom / 4 : area.bottom * 3 / 4);
        PostMessageW(spin, WM_LBUTTONDOWN, MK_LBUTTON, point);
        PostMessageW(spin, WM_LBUTTONUP, 0, point);
    }

    int SliderPosition() const {
        return static_cast<int>(SendMessageW(Control(app, IDC_BRIGHTNESS), TBM_GETPOS, 0, 0));
    }
    int SpinPosition() const {
        return static_cast<int>(SendMessageW(Control(app, IDC_MMC_SPIN), UDM_GETPOS32, 0, 0));
    }

    UiApp app;
    std::string statePath;
};

TEST_F(Settings, TheUnitsStoredSettingsAppearOnceItsPortIsPicked) {
    Start("normal;settings=1,0,1,0,42,11");
    for (int id : SETTINGS_CONTROLS) {
        EXPECT_FALSE(ControlEnabled(app, id)) << "control " << id << " before the port is picked";
    }
    PickUnit();
    EXPECT_TRUE(IsChecked(app, IDC_BLANK_ZERO));
    EXPECT_FALSE(IsChecked(app, IDC_BLANK_FRAMES));
    EXPECT_TRUE(IsChecked(app, IDC_NO_STATIONARY_LTC));
    EXPECT_FALSE(IsChecked(app, IDC_FLYWHEEL));
    EXPECT_EQ(ControlText(app, IDC_MMC_ID), "042");
    EXPECT_EQ(SpinPosition(), 42);
    EXPECT_TRUE(WaitUntil([&] { return SliderPosition() == 11; }));

    // The slider's first notification after the report sends the level back, once: the last
    // level sent was 0. Nothing else is sent on the program's own account.
    ASSERT_TRUE(WaitForCount("rx F0 2C 4D 56 0B F7", 1));
    Fence();
    EXPECT_EQ(Count("rx F0 2C 4D 56 0B F7"), 1u);
    const std::vector<std::string> sets = Texts(TranscriptEvents(app, "rx F0 2C 4D"));
    ASSERT_GE(sets.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(sets.begin() + 7, sets.end()),
              (std::vector<std::string>{"rx F0 2C 4D 56 0B F7", "rx F0 2C 4D 59 01 F7",
                                        "rx F0 2C 4D 59 00 F7"}));
}

TEST_F(Settings, AUnitThatDoesNotAnswerSettingQueriesLeavesThemDisabled) {
    Start("old");
    ASSERT_TRUE(PickPort(app, "tavi"));
    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "Firmware 2.0"));
    // The unit has answered the Status request, which was sent after the six queries.
    for (int id : SETTINGS_CONTROLS) {
        EXPECT_FALSE(ControlEnabled(app, id)) << "control " << id;
    }
    EXPECT_TRUE(TranscriptEvents(app, "tx F0 2C 4D 6").empty());

    Click(app, IDC_HELP_SETTINGS);
    MessageBoxView box;
    ASSERT_TRUE(WaitForMessageBox(app, box));
    EXPECT_EQ(box.caption, "Help");
    EXPECT_EQ(box.text, SETTINGS_HELP);
    EXPECT_TRUE(DismissMessageBox(box));
}

// Each row follows the one before in one run of the program: the unit starts with ID 42, and a
// rejected text shows and sends the last accepted ID again.
struct FieldStep {
    const char* typed;
    const char* shown;
    const char* sent;
};
const FieldStep FIELD_STEPS[] = {
    {"5", "005", "rx F0 2C 4D 53 05 F7"},   {"126", "126", "rx F0 2C 4D 53 7E F7"},
    {"127", "126", "rx F0 2C 4D 53 7E F7"}, {"1234", "123", "rx F0 2C 4D 53 7B F7"},
    {"150", "123", "rx F0 2C 4D 53 7B F7"}, {"200", "123", "rx F0 2C 4D 53 7B F7"},
    {"1a", "123", "rx F0 2C 4D 53 7B F7"},  {"x", "123", "rx F0 2C 4D 53 7B F7"},
    {"", "123", "rx F0 2C 4D 53 7B F7"},    {"0", "000", "rx F0 2C 4D 53 00 F7"},
    {"199", "000", "rx F0 2C 4D 53 00 F7"}, {"000", "000", "rx F0 2C 4D 53 00 F7"},
};

TEST_F(Settings, MmcIdFieldShowsThreeDigitsAndSendsTheIdOrThePreviousOneAgain) {
    Start("normal;settings=0,0,0,0,42,8");
    PickUnit();
    ASSERT_EQ(ControlText(app, IDC_MMC_ID), "042");
    for (const FieldStep& step : FIELD_STEPS) {
        const size_t before = TranscriptEvents(app, "rx F0 2C 4D 53 ").size();
        // The unit answers every set with the ID it holds, and that answer rewrites the field.
        // The field is disabled here and enabled again by that answer, so each step waits for
        // it and the next step's text cannot be overwritten by a late answer.
        EnableWindow(Control(app, IDC_MMC_ID), FALSE);
        LeaveFieldWith(step.typed);
        ASSERT_TRUE(WaitForTranscript(app, "rx F0 2C 4D 53 ", before + 1))
            << "nothing sent for \"" << step.typed << "\"";
        const std::vector<TranscriptEvent> sent = TranscriptEvents(app, "rx F0 2C 4D 53 ");
        EXPECT_EQ(sent.size(), before + 1) << "\"" << step.typed << "\"";
        EXPECT_EQ(sent.back().event, step.sent) << "\"" << step.typed << "\"";
        ASSERT_TRUE(WaitForEnabled(app, IDC_MMC_ID, true)) << "no answer to \"" << step.typed;
        EXPECT_EQ(ControlText(app, IDC_MMC_ID), step.shown) << "\"" << step.typed << "\"";
    }
    // The unit took the accepted ones: it now holds 0.
    const std::vector<TranscriptEvent> replies = TranscriptEvents(app, "tx F0 2C 4D 63 ");
    ASSERT_FALSE(replies.empty());
    EXPECT_EQ(replies.back().event, "tx F0 2C 4D 63 00 F7");
}

TEST_F(Settings, ArrowsSendTheIdForEveryNotification) {
    Start("normal;settings=0,0,0,0,42,8");
    PickUnit();
    // Up, down, down, all at once: the unit's answers (it echoes every set) can only arrive
    // behind the clicks, so they cannot move the arrows between a click and its end.
    ClickArrow(true);
    ClickArrow(false);
    ClickArrow(false);
    // Each click brings the new position, then the end of scrolling: both send.
    ASSERT_TRUE(WaitForCount("rx F0 2C 4D 53 29 F7", 2));
    EXPECT_EQ(Texts(TranscriptEvents(app, "rx F0 2C 4D 53 ")),
              (std::vector<std::string>{"rx F0 2C 4D 53 7F F7", "rx F0 2C 4D 53 2B F7",
                                        "rx F0 2C 4D 53 2B F7", "rx F0 2C 4D 53 2A F7",
                                        "rx F0 2C 4D 53 2A F7", "rx F0 2C 4D 53 29 F7",
                                        "rx F0 2C 4D 53 29 F7"}));
    EXPECT_TRUE(WaitForControlText(app, IDC_MMC_ID, "041"));
}

struct BoxCase {
    int id;
    const char* on;
    const char* off;
};
const BoxCase BOXES[] = {
    {IDC_BLANK_ZERO, "rx F0 2C 4D 52 01 F7", "rx F0 2C 4D 52 00 F7"},
    {IDC_BLANK_FRAMES, "rx F0 2C 4D 55 01 F7", "rx F0 2C 4D 55 00 F7"},
    {IDC_NO_STATIONARY_LTC, "rx F0 2C 4D 58 01 F7", "rx F0 2C 4D 58 00 F7"},
    {IDC_FLYWHEEL, "rx F0 2C 4D 59 01 F7", "rx F0 2C 4D 59 00 F7"},
};

TEST_F(Settings, ClickingACheckBoxTwiceSendsOnThenOffAtLeast50MsApart) {
    Start("normal");
    PickUnit();
    for (const BoxCase& box : BOXES) {
        ClickAndWaitChecked(box.id, true);
        ClickAndWaitChecked(box.id, false);
        ASSERT_TRUE(WaitForCount(box.off, 1)) << "box " << box.id;
        const std::vector<TranscriptEvent> on = TranscriptEvents(app, box.on);
        const std::vector<TranscriptEvent> off = TranscriptEvents(app, box.off);
        ASSERT_EQ(on.size(), 1u) << "box " << box.id;
        ASSERT_EQ(off.size(), 1u) << "box " << box.id;
        EXPECT_GE(off[0].ms - on[0].ms, PAUSE_MS - CLOCK_GRAIN_MS) << "box " << box.id;
    }
}

// What a user changes is kept by the unit: picking the port again shows it (the unit reports
// it anew), and so does a restart of program and unit with the unit's state file.
TEST_F(Settings, ChangedSettingsSurviveReselectionAndRestart) {
    statePath = FreshStatePath();
    const std::string scenario = "normal;state=" + statePath;
    Start(scenario);
    PickUnit();
    ClickAndWaitChecked(IDC_BLANK_FRAMES, true);
    ClickAndWaitChecked(IDC_FLYWHEEL, true);
    LeaveFieldWith("77");
    ASSERT_TRUE(WaitForCount("tx F0 2C 4D 63 4D F7", 1));
    // The keyboard moves the slider; its redraw notifies the window, which sends the level.
    const int start = SliderPosition();
    PostMessageW(Control(app, IDC_BRIGHTNESS), WM_KEYDOWN, VK_RIGHT, 0);
    PostMessageW(Control(app, IDC_BRIGHTNESS), WM_KEYUP, VK_RIGHT, 0);
    char level[32];
    std::snprintf(level, sizeof level, "tx F0 2C 4D 66 %02X F7", start + 1);
    ASSERT_TRUE(WaitForCount(level, 1)) << "the unit never took brightness " << start + 1;

    // Re-selection: the ports close and open again, and the unit reports what it holds.
    ASSERT_TRUE(PickPort(app, "tavi"));
    ASSERT_TRUE(WaitForTranscript(app, "open out", 2));
    ASSERT_TRUE(WaitForCount("tx F0 2C 4D 63 4D F7", 2));
    ASSERT_TRUE(WaitForCount("tx F0 2C 4D 65 01 F7", 2));
    ASSERT_TRUE(WaitForCount("tx F0 2C 4D 69 01 F7", 2));
    ASSERT_TRUE(WaitForCount(level, 2));

    // Restart: a new program and a freshly plugged unit that reads its state file.
    StopApp(app);
    Start(scenario);
    PickUnit();
    EXPECT_FALSE(IsChecked(app, IDC_BLANK_ZERO));
    EXPECT_TRUE(IsChecked(app, IDC_BLANK_FRAMES));
    EXPECT_FALSE(IsChecked(app, IDC_NO_STATIONARY_LTC));
    EXPECT_TRUE(IsChecked(app, IDC_FLYWHEEL));
    EXPECT_EQ(ControlText(app, IDC_MMC_ID), "077");
    EXPECT_TRUE(WaitUntil([&] { return SliderPosition() == start + 1; }));
}

} // namespace
