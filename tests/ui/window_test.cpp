// The main window as a user meets it: start-up, choosing the port, the status line, the
// update from start to end, the warnings, help and the keys that must not close the window.
// Each case starts tavi-setup.exe afresh with a scenario for the simulated unit.
#include "tests/ui/ui_harness.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include "ui/ids.h"

namespace {

const int SETTINGS_CONTROLS[] = {IDC_BLANK_ZERO, IDC_BLANK_FRAMES, IDC_NO_STATIONARY_LTC,
                                 IDC_FLYWHEEL,   IDC_MMC_ID,       IDC_MMC_SPIN,
                                 IDC_BRIGHTNESS};

const char UPDATE_HELP[] =
    "To program new firmware 2.1 you must boot tavi in update mode:\n\nStep 1:\nHold down both "
    "keys while connecting the unit to the USB port of your computer.\nStep 2:\nSelect device "
    "tavi (Win7) / USB Audio Device (WinXP) below the picture.\nStep 3:\nPress Update firmware "
    "button.";

// An update of the whole stand-in image takes a few seconds; this bound is far above that.
constexpr unsigned UPDATE_WAIT_MS = 120000;

// The drop-down notification arrives first; the 50 ms pauses of the opening messages are
// measured on the stand-in's clock, which prints three decimals.
constexpr double PAUSE_MS = 50.0;
constexpr double CLOCK_GRAIN_MS = 0.001;

class Window : public ::testing::Test {
  protected:
    void TearDown() override { StopApp(app); }

    void Start(const std::string& scenario) { ASSERT_TRUE(StartApp(app, scenario)) << scenario; }

    // Reads and dismisses the box the program is showing; fails the test when there is none.
    MessageBoxView ExpectBox(const char* caption, const std::string& text) {
        MessageBoxView box;
        EXPECT_TRUE(WaitForMessageBox(app, box)) << "no message box: " << text;
        EXPECT_EQ(box.caption, caption);
        EXPECT_EQ(box.text, text);
        return box;
    }

    bool NoEventsLike(const std::string& prefix) { return TranscriptEvents(app, prefix).empty(); }

    UiApp app;
};

TEST_F(Window, StartsQuietWithEverythingThatNeedsTheUnitDisabled) {
    Start("normal");
    EXPECT_EQ(WindowText(app.dialog), " tavi setup 2.1");
    EXPECT_EQ(ControlText(app, IDC_DEVICE_TEXT), "");
    EXPECT_EQ(ControlText(app, IDC_UPDATE_TEXT), "");
    EXPECT_EQ(ProgressPosition(app), 0);
    EXPECT_TRUE(PortListEntries(app).empty());
    EXPECT_FALSE(ControlEnabled(app, IDC_UPDATE));
    EXPECT_TRUE(ControlEnabled(app, IDC_PORT_LIST));
    EXPECT_TRUE(ControlEnabled(app, IDC_HELP_UPDATE));
    EXPECT_TRUE(ControlEnabled(app, IDC_HELP_SETTINGS));
    for (int id : SETTINGS_CONTROLS) {
        EXPECT_FALSE(ControlEnabled(app, id)) << "control " << id;
    }
    const int range =
        static_cast<int>(SendMessageW(Control(app, IDC_MMC_SPIN), UDM_GETRANGE, 0, 0));
    EXPECT_EQ(LOWORD(range), 126) << "up-down maximum";
    EXPECT_EQ(HIWORD(range), 0) << "up-down minimum";

    // No timer runs before the list is first opened: two ticks' time brings no status line.
    EXPECT_FALSE(WaitUntil([&] { return !ControlText(app, IDC_DEVICE_TEXT).empty(); }, 1100));
    EXPECT_TRUE(NoEventsLike("open ")) << "a port was opened before the user chose one";
    EXPECT_TRUE(NoEventsLike("rx ")) << "something was sent before the user chose a port";
}

TEST_F(Window, EnterAndEscDoNotCloseAndUpdateHelpSaysHowToStartUpdateMode) {
    Start("normal");
    PressKey(app, VK_ESCAPE);
    PressKey(app, VK_RETURN);
    // Posted after the keys, so by the time the box shows the keys have been handled.
    Click(app, IDC_HELP_UPDATE);
    MessageBoxView box = ExpectBox("Help", UPDATE_HELP);
    EXPECT_TRUE(IsWindow(app.dialog));
    EXPECT_TRUE(DismissMessageBox(box));
    EXPECT_TRUE(IsWindow(app.dialog));
    EXPECT_FALSE(WaitForExit(app, 300)) << "the window closed on Enter or Esc";

    PostMessageW(app.dialog, WM_CLOSE, 0, 0);
    DWORD exitCode = 99;
    ASSERT_TRUE(WaitForExit(app, UI_WAIT_MS, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(Window, PickingTheUnitOpensBothPortsAndAsksSettingsThenStatus50MsApart) {
    Start("normal");
    ASSERT_TRUE(PickPort(app, "tavi"));
    EXPECT_EQ(PortListEntries(app), (std::vector<std::string>{"Other", "tavi"}));
    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "Firmware 2.1"));
    EXPECT_FALSE(ControlEnabled(app, IDC_UPDATE));

    const std::vector<TranscriptEvent> opened = TranscriptEvents(app, "open ");
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].event, "open out 1");
    EXPECT_EQ(opened[1].event, "open in 1");

    const std::vector<TranscriptEvent> sent = TranscriptEvents(app, "rx F0");
    const char* expected[] = {
        "rx F0 2C 4D 52 7F F7", "rx F0 2C 4D 55 7F F7", "rx F0 2C 4D 53 7F F7",
        "rx F0 2C 4D 58 7F F7", "rx F0 2C 4D 59 7F F7", "rx F0 2C 4D 56 7F F7",
        "rx F0 2C 4D 10 F7",
    };
    ASSERT_GE(sent.size(), 7u);
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(sent[i].event, expected[i]) << "message " << i;
        if (i > 0) {
            EXPECT_GE(sent[i].ms - sent[i - 1].ms, PAUSE_MS - CLOCK_GRAIN_MS)
                << "messages " << i - 1 << " and " << i << " too close";
        }
    }

    // Closing the window closes the input first, then the output.
    PostMessageW(app.dialog, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitForExit(app, UI_WAIT_MS));
    const std::vector<TranscriptEvent> closed = TranscriptEvents(app, "close ");
    ASSERT_EQ(closed.size(), 2u);
    EXPECT_EQ(closed[0].event, "close in");
    EXPECT_EQ(closed[1].event, "close out");
}

struct StatusCase {
    const char* scenario;
    const char* port;
    const char* status;
    bool updateEnabled;
};

class StatusLine : public Window, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusLine, ShowsWhatTheUnitReported) {
    const StatusCase& c = GetParam();
    Start(c.scenario);
    ASSERT_TRUE(PickPort(app, c.port));
    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, c.status))
        << "shows: " << ControlText(app, IDC_DEVICE_TEXT);
    // The button follows the mode at every tick: it stays as it is over the next one.
    EXPECT_TRUE(WaitForEnabled(app, IDC_UPDATE, c.updateEnabled));
    EXPECT_FALSE(WaitForEnabled(app, IDC_UPDATE, !c.updateEnabled, 600));
}

INSTANTIATE_TEST_SUITE_P(
    Units, StatusLine,
    ::testing::Values(StatusCase{"normal", "tavi", "Firmware 2.1", false},
                      StatusCase{"normal;version=3337", "tavi", "Firmware 3.7", false},
                      StatusCase{"normal;version=327F", "tavi", "Invalid firmware", false},
                      StatusCase{"update", "tavi", "tavi in update mode", true},
                      // An output whose input belongs to something else: nobody answers.
                      StatusCase{"normal", "Other", "tavi not found", false}));

TEST_F(Window, ClosingTheListWithoutAChoiceOpensNothingAndTheNextTickEmptiesIt) {
    Start("normal");
    ASSERT_TRUE(OpenPortList(app));
    EXPECT_EQ(PortListEntries(app), (std::vector<std::string>{"Other", "tavi"}));
    ASSERT_TRUE(CloseOpenList(app));
    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "tavi not found"));
    EXPECT_TRUE(WaitUntil([&] { return PortListEntries(app).empty(); }));
    EXPECT_TRUE(NoEventsLike("open "));
    EXPECT_TRUE(NoEventsLike("rx "));
}

struct BusyCase {
    const char* scenario;
    const char* warning;
    const char* opened; // what the transcript shows opened before the failure, or ""
};

class BusyPort : public Window, public ::testing::WithParamInterface<BusyCase> {};

TEST_P(BusyPort, WarnsWhileTheTimerGoesOnBehindTheBox) {
    const BusyCase& c = GetParam();
    Start(c.scenario);
    ASSERT_TRUE(PickPort(app, "tavi"));
    MessageBoxView box;
    ASSERT_TRUE(WaitForMessageBox(app, box));
    EXPECT_EQ(box.caption, "Warning");
    EXPECT_EQ(box.text, c.warning);
    // The timer was restarted before the box: the status line changes behind it.
    EXPECT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "tavi not found"));
    EXPECT_TRUE(WaitUntil([&] { return PortListEntries(app).empty(); }));
    EXPECT_TRUE(DismissMessageBox(box));

    const std::vector<TranscriptEvent> opened = TranscriptEvents(app, "open ");
    if (*c.opened) {
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0].event, c.opened);
        // What was opened is closed again before the warning.
        const std::vector<TranscriptEvent> closed = TranscriptEvents(app, "close out");
        ASSERT_EQ(closed.size(), 1u);
    } else {
        EXPECT_TRUE(opened.empty());
    }
    EXPECT_TRUE(NoEventsLike("rx F0")) << "queries sent over a half-open link";
}

INSTANTIATE_TEST_SUITE_P(
    Ports, BusyPort,
    ::testing::Values(BusyCase{"normal;busy_out=1",
                               "Selected MIDI output not available.\nPort is probably used by "
                               "an other application.",
                               ""},
                      BusyCase{"normal;busy_in=1",
                               "Selected MIDI input not available.\nPort is probably used by an "
                               "other application.",
                               "open out 1"}));

TEST_F(Window, WithoutMidiOutputsTheListSaysSoAndItsOnlyEntryOpensNothing) {
    Start("no_ports=1");
    RequestPortList(app);
    MessageBoxView box = ExpectBox("Warning", "No MIDI outputs available");
    EXPECT_TRUE(DismissMessageBox(box));
    ASSERT_TRUE(WaitForPortListOpen(app));
    ASSERT_TRUE(WaitUntil([&] { return PortListEntries(app).size() == 1; }));
    EXPECT_EQ(PortListEntries(app)[0], "No MIDI outputs available");
    ASSERT_TRUE(ChooseInOpenList(app, 0));
    EXPECT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "tavi not found"));
    EXPECT_TRUE(NoEventsLike("open "));
}

TEST_F(Window, UnpluggingAnIdleUnitDisablesItsControlsAndEmptiesTheList) {
    Start("normal;unplug_after=2500");
    ASSERT_TRUE(PickPort(app, "tavi"));
    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "Firmware 2.1"));
    // The unit's setting replies made its controls usable.
    ASSERT_TRUE(WaitForEnabled(app, IDC_BLANK_ZERO, true));
    ASSERT_TRUE(WaitForEnabled(app, IDC_BRIGHTNESS, true));

    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "tavi not found"));
    for (int id : SETTINGS_CONTROLS) {
        EXPECT_FALSE(ControlEnabled(app, id)) << "control " << id;
    }
    EXPECT_FALSE(ControlEnabled(app, IDC_UPDATE));
    EXPECT_TRUE(PortListEntries(app).empty());
    EXPECT_TRUE(WaitForTranscript(app, "close out"));
    EXPECT_FALSE(TranscriptEvents(app, "close in").empty());
}

TEST_F(Window, AStatusReplySlowerThanTheFirstTickShowsTheUnitOneTickLater) {
    // The unit answers every request 700 ms late: the first tick, 500 ms after the seventh
    // message, finds no status yet, while the ports stay open for the late reply.
    Start("normal;delay=700");
    ASSERT_TRUE(PickPort(app, "tavi"));
    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "tavi not found"));
    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "Firmware 2.1"));
    EXPECT_TRUE(NoEventsLike("close ")) << "the link was closed while the unit was answering";
}

TEST_F(Window, ChoosingWithTheKeyboardWhileTheListIsClosedOpensNothing) {
    Start("normal");
    ASSERT_TRUE(PickPort(app, "tavi"));
    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "Firmware 2.1"));
    HWND list = Control(app, IDC_PORT_LIST);
    HWND field = FindWindowExW(list, nullptr, L"Edit", nullptr);
    ASSERT_NE(field, nullptr);
    PostMessageW(field, WM_KEYDOWN, VK_UP, 1);
    PostMessageW(field, WM_KEYUP, VK_UP, 1 | (3LL << 30));
    ASSERT_TRUE(WaitUntil([&] { return SendMessageW(list, CB_GETCURSEL, 0, 0) == 0; }))
        << "the key did not reach the list";
    // Over the next tick the unit stays shown and nothing is opened or closed.
    EXPECT_FALSE(
        WaitUntil([&] { return ControlText(app, IDC_DEVICE_TEXT) != "Firmware 2.1"; }, 600));
    EXPECT_EQ(TranscriptEvents(app, "open ").size(), 2u);
    EXPECT_TRUE(NoEventsLike("close "));
}

struct WorkerStatus {
    LPARAM code;
    const char* text; // nullptr: the line keeps what it showed
};

TEST_F(Window, WorkerCommandsSetStatusLineAndProgressAndDoneReleasesThePorts) {
    Start("normal");
    ASSERT_TRUE(PickPort(app, "tavi"));
    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "Firmware 2.1"));
    auto post = [&](int command, LPARAM value) {
        PostMessageW(app.dialog, WM_COMMAND, MAKEWPARAM(command, 0), value);
    };
    // Each status is followed by an unknown code (5), which must leave it standing.
    const WorkerStatus statuses[] = {
        {1, "Preparing"},        {2, "Erasing"},
        {3, "Writing"},          {4, "Programming successful"},
        {6, "Timeout error"},    {7, "Checksum error"},
        {9, "Invalid firmware"},
    };
    for (const WorkerStatus& status : statuses) {
        post(CMD_UPDATE_STATUS, status.code);
        post(CMD_UPDATE_STATUS, 5);
        post(CMD_UPDATE_STATUS, 0);
        post(CMD_UPDATE_PROGRESS, status.code * 10);
        EXPECT_TRUE(WaitUntil([&] { return ProgressPosition(app) == status.code * 10; }));
        EXPECT_EQ(ControlText(app, IDC_UPDATE_TEXT), status.text) << "code " << status.code;
    }

    post(CMD_UPDATE_DONE, 0);
    ASSERT_TRUE(WaitForTranscript(app, "close out"));
    const std::vector<TranscriptEvent> closed = TranscriptEvents(app, "close ");
    ASSERT_EQ(closed.size(), 2u);
    EXPECT_EQ(closed[0].event, "close in");
    EXPECT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "tavi not found"));
    EXPECT_TRUE(ControlEnabled(app, IDC_PORT_LIST));
    EXPECT_TRUE(WaitUntil([&] { return PortListEntries(app).empty(); }));
}

TEST_F(Window, UpdateWithoutOpenPortsSaysTheUnitIsNotConnected) {
    Start("update");
    // A bar left standing by an earlier run goes back to 0 when the button is pressed.
    PostMessageW(app.dialog, WM_COMMAND, MAKEWPARAM(CMD_UPDATE_PROGRESS, 0), 42);
    ASSERT_TRUE(WaitUntil([&] { return ProgressPosition(app) == 42; }));
    // The button is disabled until a unit in update mode is seen; its command can still
    // arrive when the link is lost between two ticks. Sent here as the button would send it.
    PostMessageW(app.dialog, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(app, IDC_UPDATE)));
    MessageBoxView box = ExpectBox("Warning", "tavi not connected");
    EXPECT_TRUE(DismissMessageBox(box));
    EXPECT_EQ(ProgressPosition(app), 0);
    EXPECT_TRUE(ControlEnabled(app, IDC_PORT_LIST));
    EXPECT_TRUE(NoEventsLike("open "));
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
    EXPECT_EQ(ProgressPosition(app), 99);
    ASSERT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "tavi not found"));
    EXPECT_TRUE(ControlEnabled(app, IDC_PORT_LIST));
    EXPECT_FALSE(ControlEnabled(app, IDC_UPDATE));
    EXPECT_TRUE(PortListEntries(app).empty());
    MessageBoxView box;
    EXPECT_FALSE(FindMessageBox(app, box)) << "unexpected box: " << box.text;

    // The whole image went over, then the finish request.
    EXPECT_EQ(TranscriptEvents(app, "rx F0 2C 4D 30").size(), 2357u);
    EXPECT_FALSE(TranscriptEvents(app, "rx F0 2C 4D 50 F7").empty());

    // The unit restarts with its new firmware; the status line and progress bar keep their
    // last values until the next update.
    ASSERT_TRUE(PickPort(app, "tavi"));
    EXPECT_TRUE(WaitForControlText(app, IDC_DEVICE_TEXT, "Firmware 2.1"));
    EXPECT_EQ(ControlText(app, IDC_UPDATE_TEXT), "Programming successful");
    EXPECT_EQ(ProgressPosition(app), 99);
}

TEST_F(Window, WithoutItsFirmwareImageTheProgramWarnsStartsAndRefusesToUpdate) {
    ASSERT_TRUE(LaunchApp(app, "update", L"tavi-setup-without-image.exe"));
    // The warning comes while the window is being created, before it is shown.
    MessageBoxView box = ExpectBox("Warning", "hResLoad");
    ASSERT_TRUE(DismissMessageBox(box));
    ASSERT_TRUE(WaitForMainWindow(app));
    ASSERT_TRUE(PickPort(app, "tavi"));
    ASSERT_TRUE(WaitForEnabled(app, IDC_UPDATE, true));
    Click(app, IDC_UPDATE);
    // With no image there is nothing to send: the run ends as with a damaged image, before a
    // single record or the erase request reaches the unit.
    box = ExpectBox("Error", "Data file corrupted");
    ASSERT_TRUE(DismissMessageBox(box));
    // The window is asked to close only after the second box, so the user sees both.
    box = ExpectBox("Warning", "Programming failed");
    ASSERT_TRUE(DismissMessageBox(box));
    EXPECT_TRUE(WaitForExit(app, UI_WAIT_MS)) << "the window stayed open";
    EXPECT_TRUE(NoEventsLike("rx F0 2C 4D 12"));
    EXPECT_TRUE(NoEventsLike("rx F0 2C 4D 30"));
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
