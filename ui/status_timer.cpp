// The half-second look at the unit: is the link still there, and what did the unit last say
// about itself. The status line is redrawn only when the mode changed.
#include "ui/main_window.h"

#include "midi/port_link.h"
#include "protocol/device_state.h"
#include "ui/ids.h"
#include "ui/settings_controls.h"

namespace {

void ShowNormal(HWND dialog) {
    const uint8_t major = TheDevice.FirmwareVersion[0].load();
    const uint8_t minor = TheDevice.FirmwareVersion[1].load();
    if (major == VERSION_INVALID || minor == VERSION_INVALID) {
        SetDlgItemTextA(dialog, IDC_DEVICE_TEXT, "Invalid firmware");
        return;
    }
    char text[] = "Firmware  . ";
    text[9] = static_cast<char>(major);
    text[11] = static_cast<char>(minor);
    SetDlgItemTextA(dialog, IDC_DEVICE_TEXT, text);
}

void ShowAbsent(HWND dialog) {
    SetDlgItemTextA(dialog, IDC_DEVICE_TEXT, "tavi not found");
    EnableWindow(GetDlgItem(dialog, IDC_UPDATE), FALSE);
    DisableSettingsControls(dialog);
    SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_RESETCONTENT, 0, 0);
}

} // namespace

void OnStatusTick(HWND dialog) {
    // Stopped while the tick runs, so that a slow close cannot make ticks pile up.
    StopStatusTimer(dialog);

    // Starting the input again is harmless on a live port and fails on a lost one (or on none).
    // Some drivers keep answering for a unit that is gone; its ports then leave the lists.
    if (IsLostLinkCode(ProbeInputPort()) || !PortsStillListed()) {
        ForgetUnit();
    }

    const uint8_t mode = LoadDeviceMode(TheDevice);
    const bool changed = mode != TheWindow.lastShownMode;
    switch (mode) {
    case Normal:
        if (changed) {
            ShowNormal(dialog);
        }
        EnableWindow(GetDlgItem(dialog, IDC_UPDATE), FALSE);
        break;
    case Update:
        if (changed) {
            SetDlgItemTextA(dialog, IDC_DEVICE_TEXT, "tavi in update mode");
        }
        EnableWindow(GetDlgItem(dialog, IDC_UPDATE), TRUE);
        break;
    default:
        if (changed) {
            ShowAbsent(dialog);
        }
        break;
    }
    TheWindow.lastShownMode = mode;
    StartStatusTimer(dialog);
}
