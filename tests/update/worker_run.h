// Runs the real update worker thread under Wine against the stand-in unit and collects what it
// posts to its window, in order, together with the message boxes it shows (which the test
// thread finds, reads and dismisses, as a person would).
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "firmware/image.h"
#include "sim/standin/sim_control.h"
#include "virtual_run.h"

// Loads the stand-in's control functions and sets the scenario. 0, or -1 (then the test must
// stop: the loaded winmm is not the stand-in, or the text was refused).
int ConfigureUnit(SimApi& api, const char* scenario);

// Opens the unit's output (the first whose name begins with "tavi") and the input that
// belongs to it, as the window does on port selection. 0, or -1.
int OpenUnitPorts();
void CloseUnitPorts();

struct WorkerRun {
    int started = -1;                // StartUpdateWorker's result
    bool done = false;               // CMD_UPDATE_DONE arrived within the bound
    double seconds = 0;              // from the start to CMD_UPDATE_DONE
    std::vector<UpdateEvent> events; // Message events are the boxes, with their texts
    unsigned eventsAfterDone = 0;    // anything posted after CMD_UPDATE_DONE (must stay 0)
};

// Starts the worker with image, pumps the window's messages until CMD_UPDATE_DONE or boundMs,
// then a little longer to catch anything posted after it. Call on one thread only.
void RunWorkerToEnd(const FirmwareImage* image, DWORD boundMs, WorkerRun& run);
