#include "ui/settings_controls.h"

#include <commctrl.h>

#include <cstdio>

#include "midi/port_link.h"
#include "protocol/device_state.h"
#include "protocol/messages.h"
#include "ui/ids.h"
#include "ui/main_window.h"
#include "ui/mmc_id_text.h"

namespace {

// The four check boxes, in the order of the Option values they stand for.
constexpr int kOptionBoxes[OPTION_COUNT] = {IDC_BLANK_ZERO, IDC_BLANK_FRAMES, IDC_NO_STATIONARY_LTC,
                                            IDC_FLYWHEEL};

constexpr int kSettingControls[] = {IDC_BLANK_ZERO, IDC_BLANK_FRAMES, IDC_NO_STATIONARY_LTC,
                                    IDC_FLYWHEEL,   IDC_MMC_ID,       IDC_MMC_SPIN,
                                    IDC_BRIGHTNESS};

const char kSettingsHelp[] =
    "Firmware 2.1 must be installed to enable the following settings:\n\n\n"
    "Blank leading zero of the time code display, i.e.  1:00:00:00 instead of 01:00:00:00.\n\n"
    "Blank frames when running. Running time code will be displayed without frames i.e. "
    "01:00:00.\n\n"
    "Disable stationary LTC output.\n"
    "Stationary LTC time code (not incrementing) is used to indicate an exact position.\n"
    "Some LTC readers may not interpret stationary time code and produce errors.\n\n"
    "Infinite flywheel.\n"
    "When the time code input signal disappears during time code translation,\n"
    "the Infinte flywheel option continues re-generation until a new valid time code will be "
    "detected.\n\n"
    "MIDI Machine Control ID serves to address MMC machines individually in addition to ID 127 "
    "(broadcast).\n\n"
    "Brightness slider sets time code display and status LED brightness.\n\n"
    "All settings are stored non volatile.";

// What the window shows and last sent. Window thread only.
struct SettingsState {
    uint8_t mmcId = 0;              // last ID shown and sent, or reported by the unit
    uint8_t lastBrightnessSent = 0; // changes only when a brightness goes out
    bool locked = false;            // an update is running: hands off the unit
};
SettingsState Settings;

// --- The sink: runs on the MIDI input thread, so it only posts. ---

void PostOptionReported(void* context, Option option, bool on) {
    PostMessageW(static_cast<HWND>(context), WM_APP_OPTION_REPORTED, static_cast<WPARAM>(option),
                 on ? 1 : 0);
}

void PostMmcIdReported(void* context, int id) {
    // No ID travels as a value above 126, which the window side reads as "none".
    const WPARAM value = (id >= 0 && id <= MMC_ID_MAX) ? static_cast<WPARAM>(id) : 0xFF;
    PostMessageW(static_cast<HWND>(context), WM_APP_MMC_ID_REPORTED, value, 0);
}

void PostBrightnessReported(void* context, uint8_t level) {
    PostMessageW(static_cast<HWND>(context), WM_APP_BRIGHTNESS_REPORTED, level, 0);
}

SettingsSink WindowSink = {nullptr, PostOptionReported, PostMmcIdReported, PostBrightnessReported};

// --- Sending ---

void SendSetting(const uint8_t* bytes, size_t length) {
    SendSysEx(bytes, length);
    Sleep(SETTINGS_PAUSE_MS);
}

void ShowMmcId(HWND dialog, uint8_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "%03u", static_cast<unsigned>(id));
    SetDlgItemTextA(dialog, IDC_MMC_ID, text);
}

void SetSpinPosition(HWND dialog, uint8_t id) {
    SendDlgItemMessageW(dialog, IDC_MMC_SPIN, UDM_SETPOS32, 0, id);
}

// Takes the ID as current, shows it and sends it. Sent even when unchanged: the unit may have
// missed the last one, and a rejected text must visibly fall back to what the unit holds.
void ApplyMmcId(HWND dialog, uint8_t id) {
    Settings.mmcId = id;
    ShowMmcId(dialog, id);
    SetSpinPosition(dialog, id);
    uint8_t message[SET_MESSAGE_LENGTH];
    if (BuildMmcIdSet(id, message) == 0) {
        SendSetting(message, sizeof message);
    }
}

// --- User events ---

int OptionOfBox(int control) {
    for (int option = 0; option < OPTION_COUNT; ++option) {
        if (kOptionBoxes[option] == control) {
            return option;
        }
    }
    return -1;
}

void OnOptionClicked(HWND dialog, int control, Option option) {
    // The automatic box has already toggled itself: send what it shows now.
    const bool on = IsDlgButtonChecked(dialog, control) == BST_CHECKED;
    const SysExMessage& message = OptionMessage(option, on);
    SendSetting(message.bytes, message.length);
}

void OnMmcIdFieldDone(HWND dialog) {
    // One character more than an ID needs: a fourth one is read and ignored.
    char text[MMC_ID_TEXT_READ + 1] = {};
    GetDlgItemTextA(dialog, IDC_MMC_ID, text, sizeof text);
    ApplyMmcId(dialog, MmcIdFromText(text, Settings.mmcId));
}

void OnSpinScrolled(HWND dialog) {
    BOOL failed = FALSE;
    LRESULT position = SendDlgItemMessageW(dialog, IDC_MMC_SPIN, UDM_GETPOS32, 0,
                                           reinterpret_cast<LPARAM>(&failed));
    // The range is 0..126, but a position outside it must never become 0x7F (a query) on the
    // wire, so it is pinned to the nearest end.
    if (position < 0) {
        position = 0;
    } else if (position > MMC_ID_MAX) {
        position = MMC_ID_MAX;
    }
    ApplyMmcId(dialog, static_cast<uint8_t>(position));
}

void OnSliderNotified(HWND dialog) {
    const LRESULT position = SendDlgItemMessageW(dialog, IDC_BRIGHTNESS, TBM_GETPOS, 0, 0);
    const uint8_t level = static_cast<uint8_t>(position & 0x0F);
    if (level == Settings.lastBrightnessSent) {
        return;
    }
    uint8_t message[SET_MESSAGE_LENGTH];
    if (BuildBrightnessSet(level, message) == 0) {
        SendSetting(message, sizeof message);
        Settings.lastBrightnessSent = level;
    }
}

// --- Replies from the unit, carried out on the window thread ---
// While an update runs the reply still updates what the control shows (the unit said so), but
// the control stays disabled: the update must not be disturbed by setting changes.

void OnOptionReported(HWND dialog, WPARAM option, LPARAM on) {
    if (option >= OPTION_COUNT) {
        return;
    }
    const int control = kOptionBoxes[option];
    CheckDlgButton(dialog, control, on ? BST_CHECKED : BST_UNCHECKED);
    if (!Settings.locked) {
        EnableWindow(GetDlgItem(dialog, control), TRUE);
    }
}

void OnMmcIdReported(HWND dialog, WPARAM id) {
    if (id <= MMC_ID_MAX) {
        Settings.mmcId = static_cast<uint8_t>(id);
        ShowMmcId(dialog, Settings.mmcId);
        SetSpinPosition(dialog, Settings.mmcId);
    }
    if (!Settings.locked) {
        EnableWindow(GetDlgItem(dialog, IDC_MMC_SPIN), TRUE);
        EnableWindow(GetDlgItem(dialog, IDC_MMC_ID), TRUE);
    }
}

void OnBrightnessReported(HWND dialog, WPARAM level) {
    // The level is not checked: the slider pins a larger one to 15 itself. Moving the slider
    // here sends nothing; its next notification sends the level back once, since it differs
    // from the last one sent.
    SendDlgItemMessageW(dialog, IDC_BRIGHTNESS, TBM_SETRANGE, TRUE, MAKELPARAM(0, BRIGHTNESS_MAX));
    SendDlgItemMessageW(dialog, IDC_BRIGHTNESS, TBM_SETPOS, TRUE, static_cast<LPARAM>(level));
    if (!Settings.locked) {
        EnableWindow(GetDlgItem(dialog, IDC_BRIGHTNESS), TRUE);
    }
}

bool OnCommand(HWND dialog, WPARAM wParam) {
    const int control = LOWORD(wParam);
    const int code = HIWORD(wParam);
    const int option = OptionOfBox(control);
    if (option >= 0) {
        if (code == BN_CLICKED && !Settings.locked) {
            OnOptionClicked(dialog, control, static_cast<Option>(option));
        }
        return true;
    }
    if (control == IDC_MMC_ID) {
        if ((code == EN_KILLFOCUS || code == EN_MAXTEXT) && !Settings.locked) {
            OnMmcIdFieldDone(dialog);
        }
        return true;
    }
    if (control == IDC_HELP_SETTINGS) {
        if (code == BN_CLICKED) {
            ShowBox(dialog, kSettingsHelp, "Help");
        }
        return true;
    }
    return false;
}

} // namespace

void SettingsControlsCreated(HWND dialog) {
    Settings = SettingsState{};
    WindowSink.context = dialog;
    InstallSettingsSink(TheDevice, &WindowSink);
}

bool SettingsControlsMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        return OnCommand(dialog, wParam);
    case WM_VSCROLL:
        if (lParam != 0 && GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == IDC_MMC_SPIN) {
            if (!Settings.locked) {
                OnSpinScrolled(dialog);
            }
            return true;
        }
        return false;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header == nullptr || header->idFrom != IDC_BRIGHTNESS) {
            return false;
        }
        if (!Settings.locked) {
            OnSliderNotified(dialog);
        }
        // Custom drawing asks for an answer: let the slider draw itself as usual.
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, CDRF_DODEFAULT);
        return true;
    }
    case WM_APP_OPTION_REPORTED:
        OnOptionReported(dialog, wParam, lParam);
        return true;
    case WM_APP_MMC_ID_REPORTED:
        OnMmcIdReported(dialog, wParam);
        return true;
    case WM_APP_BRIGHTNESS_REPORTED:
        OnBrightnessReported(dialog, wParam);
        return true;
    default:
        return false;
    }
}

void DisableSettingsControls(HWND dialog) {
    for (int control : kSettingControls) {
        EnableWindow(GetDlgItem(dialog, control), FALSE);
    }
}

void LockSettingsControls(HWND dialog, bool locked) {
    // The flag goes first: disabling the focused MMC ID field makes it lose the focus, and that
    // must not send anything once the update has begun.
    Settings.locked = locked;
    if (locked) {
        DisableSettingsControls(dialog);
    }
}
