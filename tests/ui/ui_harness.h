// Drives the real program as a user would: starts tavi-setup.exe as a process of its own
// against the stand-in winmm.dll, finds its window and works it through window messages. What
// went over the simulated MIDI cable is read back from the stand-in's transcript file.
// Every wait is bounded; a wait that runs out returns false.
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
};

// Starts program (beside this test program) with TAVI_SIM=scenario and a fresh transcript and,
// unless told not to, waits for its window (false, with nothing left running, if none came).
bool StartApp(UiApp& app, const std::string& scenario, const wchar_t* program = L"tavi-setup.exe",
              bool waitForWindow = true);
bool WaitForMainWindow(UiApp& app);
// Ends the program outright; safe to call twice.
void StopApp(UiApp& app);
// True once the process has ended within timeoutMs; its exit code then goes to exitCode.
bool WaitForExit(UiApp& app, unsigned timeoutMs, DWORD* exitCode = nullptr);
// Polls condition every 20 ms until it holds or timeoutMs has passed.
bool WaitUntil(const std::function<bool()>& condition, unsigned timeoutMs = UI_WAIT_MS);

HWND Control(const UiApp& app, int id);
// A control's answer to a query without arguments (PBM_GETPOS, BM_GETCHECK, TBM_GETPOS...).
LRESULT Ask(const UiApp& app, int id, UINT message);
std::string WindowText(HWND window);
std::string ControlText(const UiApp& app, int id);
bool ControlEnabled(const UiApp& app, int id);
bool WaitForControlText(const UiApp& app, int id, const std::string& text,
                        unsigned timeoutMs = UI_WAIT_MS);
bool WaitForEnabled(const UiApp& app, int id, bool enabled, unsigned timeoutMs = UI_WAIT_MS);

// The port list. Opening asks for the drop-down (the program then refills the list) and, unless
// told not to (the program may answer with a message box first), waits until it is open.
std::vector<std::string> PortListEntries(const UiApp& app);
bool PortListOpen(const UiApp& app);
bool OpenPortList(const UiApp& app, bool wait = true);
// Closes the open drop-down, having selected position choice first unless it is -1.
bool ClosePortList(const UiApp& app, int choice = -1);
// Opens the list, picks the entry named name and closes it; false when there is none.
bool PickPort(const UiApp& app, const std::string& name);

// A click as the user makes it (posted BM_CLICK: does nothing on a disabled button).
void Click(const UiApp& app, int id);
// A key press (down and up) posted to the control that has the focus.
void PressKey(const UiApp& app, WPARAM virtualKey);

// A message box of the program's.
struct MessageBoxView {
    HWND box = nullptr;
    std::string caption;
    std::string text;
};
bool WaitForMessageBox(const UiApp& app, MessageBoxView& view, unsigned timeoutMs = UI_WAIT_MS);
// Presses its OK button and waits until it is gone.
bool DismissMessageBox(const MessageBoxView& view);

// The transcript's "<ms> <event>" lines whose event begins with prefix, in order.
struct TranscriptEvent {
    double ms;
    std::string event;
};
std::vector<TranscriptEvent> TranscriptEvents(const UiApp& app, const std::string& prefix);
bool WaitForTranscript(const UiApp& app, const std::string& prefix, size_t count = 1,
                       unsigned timeoutMs = UI_WAIT_MS);
