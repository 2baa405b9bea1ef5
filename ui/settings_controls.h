// The lower half of the main window: the unit's six settings.
#pragma once
#include <windows.h>

// Window messages that carry the settings sink's calls from the MIDI input thread (posted, never
// sent). wParam: the Option / the ID (a value above 126 means the unit reported none) / the
// level as the unit sent it; lParam: 1 on, 0 off for options.
#define WM_APP_OPTION_REPORTED (WM_APP + 1)
#define WM_APP_MMC_ID_REPORTED (WM_APP + 2)
#define WM_APP_BRIGHTNESS_REPORTED (WM_APP + 3)

// After each settings message the window waits this long, so the unit can take the setting in
// before the next message arrives.
constexpr DWORD SETTINGS_PAUSE_MS = 50;

// At window creation: installs the settings sink that posts to dialog.
void SettingsControlsCreated(HWND dialog);

// Handles what belongs to the settings controls; true when it did (then the dialog procedure
// returns TRUE; for the slider's WM_NOTIFY the answer is already in DWLP_MSGRESULT). For
// WM_COMMAND, WM_VSCROLL, WM_NOTIFY and the WM_APP_* messages above; WM_HSCROLL is left alone.
bool SettingsControlsMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Disables all settings controls (the unit is absent).
void DisableSettingsControls(HWND dialog);

// While locked (an update runs) the controls stay disabled, send nothing, and the unit's
// setting replies do not enable them.
void LockSettingsControls(HWND dialog, bool locked);
