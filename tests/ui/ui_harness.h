// Drives the real program as a user would: starts tavi-setup.exe as a process of its own
// against the stand-in winmm.dll, finds its window, and works it through window messages
// (open and pick from the port list, press buttons, read texts, answer message boxes). What
// went over the simulated MIDI cable is read back from the stand-in's transcript file.
//
// Every wait is bounded; a wait that runs out returns false so the test can say what it
// was waiting for.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Generous bound for anything the program does by itself: a Wine process start, a status tick.
constexpr unsigned UI_WAIT_MS = 10000;

struct UiApp {
    PROCESS_INFORMATION process{};
    HWND dialog = nullptr;
    std::string transcriptPath; // Windows path of the stand-in's transcript
    bool running = false;
};

// Starts tavi-setup.exe (beside this test program) with TAVI_SIM=scenario and a fresh
// transcript, and waits until its window is shown and idle. Returns false (and leaves nothing
// running) when the window did not appear.
bool StartApp(UiApp& app, const std::string& scenario);

// The two halves of StartApp, for a program that shows something before its window: starts
// program (a file beside this test program) without waiting, then waits for the main window.
bool LaunchApp(UiApp& app, const std::string& scenario, const wchar_t* program);
bool WaitForMainWindow(UiApp& app);

// Ends the program outright (a test that is about closing posts WM_CLOSE and waits with
// WaitForExit first). Safe to call twice.
void StopApp(UiApp& app);

// True once the process has ended within timeoutMs; its exit code then goes to exitCode.
bool WaitForExit(UiApp& app, unsigned timeoutMs, DWORD* exitCode = nullptr);

// Polls condition every 20 ms until it holds or timeoutMs has passed.
bool WaitUntil(const std::function<bool()>& condition, unsigned timeoutMs = UI_WAIT_MS);

HWND Control(const UiApp& app, int id);
std::string WindowText(HWND window);
std::string ControlText(const UiApp& app, int id);
bool ControlEnabled(const UiApp& app, int id);
bool WaitForControlText(const UiApp& app, int id, const std::string& text,
                        unsigned timeoutMs = UI_WAIT_MS);
bool WaitForEnabled(const UiApp& app, int id, bool enabled, unsigned timeoutMs = UI_WAIT_MS);
int ProgressPosition(const UiApp& app);
bool IsChecked(const UiApp& app, int id);

// The port list.
std::vector<std::string> PortListEntries(const UiApp& app);
// Opens the drop-down (the program then refills the list) and waits until it is open.
bool OpenPortList(const UiApp& app);
// Only asks for the drop-down, for when the program answers it with a message box first.
void RequestPortList(const UiApp& app);
bool WaitForPortListOpen(const UiApp& app);
// Selects position index in the open drop-down and closes it: the program's close-up.
bool ChooseInOpenList(const UiApp& app, int index);
// Closes the open drop-down without a choice.
bool CloseOpenList(const UiApp& app);
// Opens the list, picks the entry named name, closes the list. False when there is no such
// entry (the list is then closed without a choice).
bool PickPort(const UiApp& app, const std::string& name);

// Presses a push button or check box as a click would (posted BM_CLICK). A click on a
// disabled button does nothing, as on screen.
void Click(const UiApp& app, int id);
// Posts a key press (down and up) to the control that has the focus, or to the dialog.
void PressKey(const UiApp& app, WPARAM virtualKey);

// A message box of the program's, owned by its window.
struct MessageBoxView {
    HWND box = nullptr;
    std::string caption;
    std::string text;
};
// Finds a shown message box of the program's; false when there is none.
bool FindMessageBox(const UiApp& app, MessageBoxView& view);
bool WaitForMessageBox(const UiApp& app, MessageBoxView& view, unsigned timeoutMs = UI_WAIT_MS);
// Presses its OK button and waits until it is gone.
bool DismissMessageBox(const MessageBoxView& view, unsigned timeoutMs = UI_WAIT_MS);

// The transcript: "<ms> <event>" lines.
struct TranscriptEvent {
    double ms;
    std::string event;
};
std::vector<TranscriptEvent> ReadTranscript(const UiApp& app);
// Events that begin with prefix, in order ("rx F0 2C 4D", "open ", ...).
std::vector<TranscriptEvent> TranscriptEvents(const UiApp& app, const std::string& prefix);
bool WaitForTranscript(const UiApp& app, const std::string& prefix, size_t count = 1,
                       unsigned timeoutMs = UI_WAIT_MS);
