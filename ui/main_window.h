// The main window: one modal dialog from the template IDD_MAIN, and everything it does.
#pragma once
#include <windows.h>

#include <cstdint>

#include "firmware/image.h"

// What the window remembers between its events. One record for the whole run.
struct WindowState {
    HWND window;         // set at creation; the worker and the settings sink post to it
    HINSTANCE instance;  // for loading resources
    FirmwareImage image; // located once at creation and never released
    bool imageFound;
    uint8_t
        lastShownMode; // the DeviceMode the status line last showed; NOTHING_SHOWN forces a redraw
};

constexpr uint8_t NOTHING_SHOWN = 99;

extern WindowState TheWindow;

// The dialog procedure of IDD_MAIN.
INT_PTR CALLBACK MainWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the window modally; returns its result once it has closed (0), or -1 when it could
// not be created.
INT_PTR RunMainWindow(HINSTANCE instance);

// A modal box owned by window (none: the desktop): one OK button, no icon. Every box of the
// window goes through here.
void ShowBox(HWND window, const char* text, const char* caption);

// Forgets the unit: closes both ports, takes the mode as Absent and makes the next tick redraw
// the status line. For a lost unit, the end of an update and a new choice of port.
void ForgetUnit();

void StartStatusTimer(HWND dialog);
void StopStatusTimer(HWND dialog);

// Port selection (port_selection.cpp).
void OnPortListDropDown(HWND dialog);
void OnPortListCloseUp(HWND dialog);

// The half-second look at the unit (status_timer.cpp).
void OnStatusTick(HWND dialog);

// The update: the button, and what the worker posts back (update_commands.cpp).
void OnUpdateFirmware(HWND dialog);
// True when command was one of the worker's commands.
bool OnWorkerCommand(HWND dialog, unsigned command, LPARAM value);
