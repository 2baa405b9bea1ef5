// The Update firmware button, and the commands the update worker posts back.
#include "ui/main_window.h"

#include <commctrl.h>

#include "firmware/update_sequence.h"
#include "firmware/update_worker.h"
#include "midi/port_link.h"
#include "ui/ids.h"
#include "ui/settings_controls.h"

namespace {

const char kWorkerNotStarted[] = "The update could not be started.\n"
                                 "Close other programs and press Update firmware again.";

// During an update the worker alone talks to the unit: no port change, no second run, no
// settings sends between its records.
void LockForUpdate(HWND dialog, bool locked) {
    EnableWindow(GetDlgItem(dialog, IDC_PORT_LIST), !locked);
    LockSettingsControls(dialog, locked);
}

} // namespace

void OnUpdateFirmware(HWND dialog) {
    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    if (!PortsOpen()) {
        ShowBox(dialog, "tavi not connected", "Warning");
        return;
    }
    StopStatusTimer(dialog);
    EnableWindow(GetDlgItem(dialog, IDC_UPDATE), FALSE);
    LockForUpdate(dialog, true);
    if (StartUpdateWorker() != 0) {
        // Nothing was sent: undo the lock and let the next tick show the unit again, which
        // enables the button once more if the unit is still waiting in update mode.
        LockForUpdate(dialog, false);
        StartStatusTimer(dialog);
        ShowBox(dialog, kWorkerNotStarted, "Warning");
    }
}

bool OnWorkerCommand(HWND dialog, unsigned command, LPARAM value) {
    switch (command) {
    case CMD_UPDATE_STATUS: {
        const char* text = UpdateStatusText(static_cast<int>(value));
        if (text != nullptr) {
            SetDlgItemTextA(dialog, IDC_UPDATE_TEXT, text);
        }
        return true;
    }
    case CMD_UPDATE_PROGRESS:
        SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, static_cast<uint16_t>(value), 0);
        return true;
    case CMD_UPDATE_DONE:
        ForgetUnit();
        LockForUpdate(dialog, false);
        StartStatusTimer(dialog);
        return true;
    default:
        return false;
    }
}
