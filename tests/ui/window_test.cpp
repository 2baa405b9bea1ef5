// The main window as a user meets it: start-up, choosing the port, the status line, the update
// from start to end, the warnings, help and the keys that must not close the window. Each case
// starts tavi-setup.exe afresh with a scenario for the simulated unit.
#include "tests/ui/ui_harness.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include "firmware/update_worker.h"
#include "ui/ids.h"

namespace {

using Texts = std::vector<std::string>;

const int UNIT_CONTROLS[] = {IDC_UPDATE,   IDC_BLANK_ZERO, IDC_BLANK_FRAMES, IDC_NO_STATIONARY_LTC,
                             IDC_FLYWHEEL, IDC_MMC_ID,     IDC_MMC_SPIN,     IDC_BRIGHTNESS};

const char UPDATE_HELP[] =
    "To program new firmware 2.1 you must boot tavi in update mode:\n\nStep 1:\nHold down both "
    "keys while connecting the unit to the USB port of your computer.\nStep 2:\nSelect device "
    "tavi (Win7) / USB Audio Device (WinXP) below the picture.\nStep 3:\nPress Update firmware "
    "button.";

// A whole update against the stand-in takes a few seconds; this bound is far above that.
constexpr unsigned UPDATE_WAIT_MS = 120000;
// The stand-in's clock prints three decimals.
constexpr double MIN_PAUSE_MS = 50.0 - 0.001;

class Window : public ::testing::Test {
  protected:
    void TearDown() override { StopApp(app); }

    void Start(const char* scenario) { ASSERT_TRUE(StartApp(app, scenario)) << scenario; }

    // Reads and dismisses the box the program shows.
    void ExpectBox(const char* caption, const char* text) {
        MessageBoxView box;
        ASSERT_TRUE(WaitForMessageBox(app, box)) << "no message box: " << text;
        EXPECT_EQ(box.caption, caption);
        EXPECT_EQ(box.text, text);
        EXPECT_TRUE(DismissMessageBox(box));
    }

    Texts Events(const std::string& prefix) {
        Texts texts;
        for (const TranscriptEvent& e : TranscriptEvents(app, prefix)) {
            texts.push_back(e.event);
        }
        return texts;
    }
    int Progress() { return static_cast<int>(Ask(app, IDC_PROGRESS, PBM_GETPOS)); }

    UiApp app;
};

TEST_F(Window, StartsQuietOpensNothingWithoutAChoiceAndEnterAndEscDoNotCloseIt) {
    Start("normal");
    EXPECT_EQ(ControlText(app, IDC_DEVICE_TEXT), "");
    EXPECT_EQ(ControlText(app, IDC_UPDATE_TEXT), "");
    EXPECT_EQ(Progress(), 0);
    EXPECT_TRUE(PortListEntries(app).empty());
    for (int id : {IDC_PORT_LIST, IDC_HELP_UPDATE, IDC_HELP_SETTINGS}) {
        EXPECT_TRUE(ControlEnabled(app, id)) << "control " << id;
    }
    for (int id : UNIT_CONTROLS) {
        EXPECT_FALSE(ControlEnabled(app, id)) << "control " << id;
    }
    // The arrows stop at 126 (high word: minimum 0): 127 would ask the unit, not set it.
    EXPECT_EQ(Ask(app, IDC_MMC_SPIN, UDM_GETRANGE), 126);
    // No timer runs before the list is first opened: two ticks' time brings no status line.
    EXPECT_FALSE(WaitUntil([&] { return !ControlText(app, IDC_DEVICE_TEXT).empty(); }, 1100));
    // Closing the list without a choice opens nothing, and the next tick empties the list.
    ASSERT_TRUE(OpenPortList(app));
    EXPECT_EQ(PortListEntries(app), (Texts{"Other", "tavi"}));
    ASSERT_TRUE(ClosePortList(app));
    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "tavi not found"));
    EXPECT_TRUE(WaitUntil([&] { return PortListEntries(app).empty(); }));
    EXPECT_EQ(Events("open ").size() + Events("rx ").size(), 0u) << "without a port chosen";

    PressKey(app, VK_ESCAPE);
    PressKey(app, VK_RETURN);
    // Posted after the keys: once the box shows, the keys have been handled.
    Click(app, IDC_HELP_UPDATE);
    ExpectBox("Help", UPDATE_HELP);
    EXPECT_FALSE(WaitForExit(app, 300)) << "the window closed on Enter or Esc";
    PostMessageW(app.dialog, WM_CLOSE, 0, 0);
    DWORD exitCode = 99;
    ASSERT_TRUE(WaitForExit(app, UI_WAIT_MS, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(Window, PickingTheUnitOpensBothPortsAndSendsSevenMessages50MsApart) {
    Start("normal");
    ASSERT_TRUE(PickPort(app, "tavi"));
    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "Firmware 2.1"));
    EXPECT_EQ(Events("open "), (Texts{"open out 1", "open in 1"}));

    const char* expected[] = {"rx F0 2C 4D 52 7F F7", "rx F0 2C 4D 55 7F F7",
                              "rx F0 2C 4D 53 7F F7", "rx F0 2C 4D 58 7F F7",
                              "rx F0 2C 4D 59 7F F7", "rx F0 2C 4D 56 7F F7",
                              "rx F0 2C 4D 10 F7"};
    const std::vector<TranscriptEvent> sent = TranscriptEvents(app, "rx F0");
    ASSERT_GE(sent.size(), 7u);
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(sent[i].event, expected[i]) << "message " << i;
        EXPECT_TRUE(i == 0 || sent[i].ms - sent[i - 1].ms >= MIN_PAUSE_MS) << "message " << i;
    }

    // Closing the window closes the input first, then the output.
    PostMessageW(app.dialog, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitForExit(app, UI_WAIT_MS));
    EXPECT_EQ(Events("close "), (Texts{"close in", "close out"}));
}

TEST_F(Window, StatusLineShowsWhatTheUnitReported) {
    struct Row {
        const char* scenario;
        const char* port;
        const char* status;
        bool updateEnabled;
    };
    const Row rows[] = {
        {"normal", "tavi", "Firmware 2.1", false},
        {"normal;version=3337", "tavi", "Firmware 3.7", false},
        {"normal;version=327F", "tavi", "Invalid firmware", false},
        {"update", "tavi", "tavi in update mode", true},
        // An output whose input belongs to something else: nobody answers.
        {"normal", "Other", "tavi not found", false},
        // Answers 700 ms late: the first tick finds none, but the ports stay open for them.
        {"normal;delay=700", "tavi", "Firmware 2.1", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.scenario) + " " + row.port);
        Start(row.scenario);
        ASSERT_TRUE(PickPort(app, row.port));
        ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, row.status))
            << "shows: " << ControlText(app, IDC_DEVICE_TEXT);
        // The button follows the mode at every tick: it stays as it is over the next one.
        EXPECT_TRUE(WaitForEnabled(app, IDC_UPDATE, row.updateEnabled));
        EXPECT_FALSE(WaitForEnabled(app, IDC_UPDATE, !row.updateEnabled, 600));
    }
}

TEST_F(Window, ABusyPortIsReportedWhileTheTimerGoesOnBehindTheBox) {
    struct Row {
        const char* scenario;
        const char* warning;
        Texts opened; // before the failure; closed again before the warning
    };
    const Row rows[] = {
        {"normal;busy_out=1",
         "Selected MIDI output not available.\nPort is probably used by an other application.",
         {}},
        {"normal;busy_in=1",
         "Selected MIDI input not available.\nPort is probably used by an other application.",
         {"open out 1"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        Start(row.scenario);
        ASSERT_TRUE(PickPort(app, "tavi"));
        MessageBoxView box;
        ASSERT_TRUE(WaitForMessageBox(app, box));
        EXPECT_EQ(box.caption, "Warning");
        EXPECT_EQ(box.text, row.warning);
        // The timer was restarted before the box: the status line changes behind it.
        EXPECT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "tavi not found"));
        EXPECT_TRUE(WaitUntil([&] { return PortListEntries(app).empty(); }));
        EXPECT_TRUE(DismissMessageBox(box));
        EXPECT_EQ(Events("open "), row.opened);
        EXPECT_EQ(Events("close out").size(), row.opened.size());
        EXPECT_EQ(Events("rx F0"), Texts{}) << "queries sent over a half-open link";
    }
}

TEST_F(Window, WithoutMidiOutputsTheListSaysSoAndItsOnlyEntryOpensNothing) {
    Start("no_ports=1");
    OpenPortList(app, false);
    ExpectBox("Warning", "No MIDI outputs available");
    ASSERT_TRUE(WaitUntil([&] { return PortListOpen(app) && !PortListEntries(app).empty(); }));
    EXPECT_EQ(PortListEntries(app), Texts{"No MIDI outputs available"});
    ASSERT_TRUE(ClosePortList(app, 0));
    EXPECT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "tavi not found"));
    EXPECT_EQ(Events("open "), Texts{});
}

TEST_F(Window, UnpluggingAnIdleUnitDisablesItsControlsAndEmptiesTheList) {
    Start("normal;unplug_after=2500");
    ASSERT_TRUE(PickPort(app, "tavi"));
    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "Firmware 2.1"));
    // The unit's setting replies made its controls usable.
    ASSERT_TRUE(WaitForEnabled(app, IDC_BLANK_ZERO, true));
    ASSERT_TRUE(WaitForEnabled(app, IDC_BRIGHTNESS, true));

    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "tavi not found"));
    for (int id : UNIT_CONTROLS) {
        EXPECT_FALSE(ControlEnabled(app, id)) << "control " << id;
    }
    EXPECT_TRUE(PortListEntries(app).empty());
    EXPECT_TRUE(WaitForTranscript(app, "close out"));
    EXPECT_FALSE(Events("close in").empty());
}

TEST_F(Window, WorkerCommandsSetTheLinesAndUpdateWithoutPortsSaysNotConnected) {
    Start("update");
    // Each status is followed by an unknown code (5) and 0, which must leave it standing.
    const std::pair<int, const char*> statuses[] = {
        {1, "Preparing"},       {2, "Erasing"},
        {3, "Writing"},         {4, "Programming successful"},
        {6, "Timeout error"},   {7, "Checksum error"},
        {9, "Invalid firmware"}};
    for (const auto& status : statuses) {
        for (int code : {status.first, 5, 0}) {
            PostMessageW(app.dialog, WM_COMMAND, MAKEWPARAM(CMD_UPDATE_STATUS, 0), code);
        }
        PostMessageW(app.dialog, WM_COMMAND, MAKEWPARAM(CMD_UPDATE_PROGRESS, 0), status.first * 10);
        EXPECT_TRUE(WaitUntil([&] { return Progress() == status.first * 10; }));
        EXPECT_EQ(ControlText(app, IDC_UPDATE_TEXT), status.second) << "code " << status.first;
    }

    // The button is disabled until a unit in update mode is seen, but its command can still
    // arrive when the link is lost between two ticks: sent here as the button would send it.
    PostMessageW(app.dialog, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(app, IDC_UPDATE)));
    ExpectBox("Warning", "tavi not connected");
    EXPECT_EQ(Progress(), 0) << "the bar left standing goes back to 0 on the button";
    EXPECT_TRUE(ControlEnabled(app, IDC_PORT_LIST));
    EXPECT_EQ(Events("open "), Texts{});
}

TEST_F(Window, AFullUpdateEndsInSuccessThenTheUnitShowsItsNewFirmware) {
    Start("update");
    ASSERT_TRUE(PickPort(app, "tavi"));
    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "tavi in update mode"));
    ASSERT_TRUE(WaitForEnabled(app, IDC_UPDATE, true));
    Click(app, IDC_UPDATE);

    // While the worker runs nobody else may touch the link.
    ASSERT_TRUE(WaitForEnabled(app, IDC_PORT_LIST, false));
    EXPECT_FALSE(ControlEnabled(app, IDC_UPDATE));
    EXPECT_TRUE(WaitForControlText(app, IDC_UPDATE_TEXT, "Writing"));

    ASSERT_TRUE(WaitForControlText(app, IDC_UPDATE_TEXT, "Programming successful", UPDATE_WAIT_MS))
        << "stopped at: " << ControlText(app, IDC_UPDATE_TEXT);
    EXPECT_EQ(Progress(), 99);
    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "tavi not found"));
    EXPECT_TRUE(ControlEnabled(app, IDC_PORT_LIST));
    EXPECT_FALSE(ControlEnabled(app, IDC_UPDATE));
    EXPECT_TRUE(PortListEntries(app).empty());
    MessageBoxView box;
    EXPECT_FALSE(WaitForMessageBox(app, box, 0)) << "unexpected box: " << box.text;
    // The whole image went over, then the finish request.
    EXPECT_EQ(Events("rx F0 2C 4D 30").size(), 2357u);
    EXPECT_FALSE(Events("rx F0 2C 4D 50 F7").empty());

    // The unit restarts with its new firmware; the update line and bar keep their last values.
    ASSERT_TRUE(PickPort(app, "tavi"));
    EXPECT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "Firmware 2.1"));
    EXPECT_EQ(ControlText(app, IDC_UPDATE_TEXT), "Programming successful");
    EXPECT_EQ(Progress(), 99);
}

TEST_F(Window, WithoutItsFirmwareImageTheProgramWarnsStartsAndRefusesToUpdate) {
    ASSERT_TRUE(StartApp(app, "update", L"tavi-setup-without-image.exe", false));
    // The warning comes while the window is being created, before it is shown.
    ExpectBox("Warning", "hResLoad");
    ASSERT_TRUE(WaitForMainWindow(app));
    ASSERT_TRUE(PickPort(app, "tavi"));
    ASSERT_TRUE(WaitForEnabled(app, IDC_UPDATE, true));
    Click(app, IDC_UPDATE);
    // Nothing to send: the run ends as with a damaged image, before the erase request or a
    // single record reaches the unit, and the window closes only after the second box.
    ExpectBox("Error", "Data file corrupted");
    ExpectBox("Warning", "Programming failed");
    EXPECT_TRUE(WaitForExit(app, UI_WAIT_MS)) << "the window stayed open";
    EXPECT_EQ(Events("rx F0 2C 4D 12").size() + Events("rx F0 2C 4D 30").size(), 0u);
}

TEST_F(Window, AFailedUpdateSaysSoAndClosesTheWindow) {
    Start("update;reject=10x3");
    ASSERT_TRUE(PickPort(app, "tavi"));
    ASSERT_TRUE(WaitForEnabled(app, IDC_UPDATE, true));
    Click(app, IDC_UPDATE);
    MessageBoxView box;
    ASSERT_TRUE(WaitForMessageBox(app, box, UPDATE_WAIT_MS));
    EXPECT_EQ(box.caption, "Warning");
    EXPECT_EQ(box.text, "Programming failed");
    EXPECT_EQ(ControlText(app, IDC_UPDATE_TEXT), "Checksum error");
    ASSERT_TRUE(DismissMessageBox(box));
    DWORD exitCode = 99;
    ASSERT_TRUE(WaitForExit(app, UI_WAIT_MS, &exitCode)) << "the window stayed open";
    EXPECT_EQ(exitCode, 0u);
}

} // namespace
