// The program's entry: register the common controls the dialog uses, show it, and end.
#include <windows.h>
#include <commctrl.h>

#include "tavi_version.h"
#include "ui/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    // Other programs may share the unit's ports on newer Windows, but two copies of this one
    // must never both talk to it, one perhaps in the middle of an update: a second start shows
    // the first. The mutex lives as long as this process, in this session's namespace.
    CreateMutexA(nullptr, FALSE, "Local\\tavi-setup-one-instance");
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        if (HWND running = FindWindowA(MAKEINTATOM(32770), TAVI_CAPTION)) {
            ShowWindow(running, IsIconic(running) ? SW_RESTORE : SW_SHOW);
            SetForegroundWindow(running);
        }
        return 0;
    }
    // The template uses the progress bar, the slider and the up-down arrows; their classes
    // exist only once registered.
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS;
    InitCommonControlsEx(&controls);

    const INT_PTR result = RunMainWindow(instance);
    if (result == -1) {
        // Only a damaged program file or an exhausted system gets here: say so rather than
        // vanish without a trace.
        ShowBox(nullptr, "The main window could not be created.", "Error");
        return 1;
    }
    return static_cast<int>(result);
}
