// The update worker thread: runs the update sequence against the open ports and reports to
// the main window only by posted commands (CMD_UPDATE_STATUS, CMD_UPDATE_PROGRESS, then
// CMD_UPDATE_DONE last) and by message boxes it owns.
#pragma once
#include <windows.h>

#include "firmware/image.h"

// Commands the worker posts to the window (WM_COMMAND, value in lParam).
constexpr unsigned CMD_UPDATE_DONE = 1096;
constexpr unsigned CMD_UPDATE_STATUS = 1097;
constexpr unsigned CMD_UPDATE_PROGRESS = 1098;

// Stores the window the worker reports to and the image it sends (nullptr when the image
// could not be located). The window calls this at creation; the image must live for the run.
void SetUpdateTarget(HWND window, const FirmwareImage* image);

// Starts the worker as a new thread. 0 when it started; -1 when the thread could not be
// created (then nothing is posted, and the caller must re-enable what it disabled).
int StartUpdateWorker();
