// The program's entry: register the common controls the dialog uses, show it, and end.
#include <windows.h>
#include <commctrl.h>

#include "ui/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
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
        MessageBoxA(nullptr, "The main window could not be created.", "Error", MB_OK);
        return 1;
    }
    return static_cast<int>(result);
}
