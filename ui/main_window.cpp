// Creation, closing, the help box and the routing of the window's events.
#include "ui/main_window.h"

#include <commctrl.h>

#include "firmware/update_worker.h"
#include "midi/port_link.h"
#include "protocol/device_state.h"
#include "ui/ids.h"
#include "ui/settings_controls.h"

WindowState TheWindow{nullptr, nullptr, {nullptr, nullptr, nullptr}, false, NOTHING_SHOWN};

namespace {

constexpr int kDesignDpi = 96; // the setting the picture was drawn for

const char kUpdateHelp[] =
    "To program new firmware 2.1 you must boot tavi in update mode:\n\n"
    "Step 1:\n"
    "Hold down both keys while connecting the unit to the USB port of your computer.\n"
    "Step 2:\n"
    "Select device tavi (Win7) / USB Audio Device (WinXP) below the picture.\n"
    "Step 3:\n"
    "Press Update firmware button.";

// The image lives in the program's own resources, so the pointer stays valid for the run.
void LocateFirmwareImage(HWND dialog) {
    HRSRC found = FindResourceA(TheWindow.instance, "FirmwareFile", "BINTYPE");
    HGLOBAL loaded = found ? LoadResource(TheWindow.instance, found) : nullptr;
    if (loaded == nullptr) {
        ShowBox(dialog, "hResLoad", "Warning");
        return;
    }
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr) {
        ShowBox(dialog, "lpResLock", "Warning");
        return;
    }
    TheWindow.image = MakeFirmwareImage(static_cast<const uint8_t*>(bytes),
                                        SizeofResource(TheWindow.instance, found));
    TheWindow.imageFound = true;
}

BOOL CALLBACK FindPicture(HWND child, LPARAM result) {
    char className[16] = {};
    GetClassNameA(child, className, sizeof(className));
    const LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
    if (lstrcmpiA(className, "Static") == 0 && (style & SS_TYPEMASK) == SS_BITMAP) {
        *reinterpret_cast<HWND*>(result) = child;
        return FALSE;
    }
    return TRUE;
}

// The front panel drawn at another size, smoothly: the platform's own stretching of a bitmap
// resource drops or repeats whole pixels, which breaks up the display's thin segments.
HBITMAP ScaleFrontPanel(int width, int height) {
    HBITMAP original =
        static_cast<HBITMAP>(LoadImageA(TheWindow.instance, MAKEINTRESOURCEA(IDB_FRONT_PANEL),
                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (original == nullptr) {
        return nullptr;
    }
    BITMAP size{};
    GetObjectA(original, sizeof(size), &size);
    HDC screen = GetDC(nullptr);
    HDC from = CreateCompatibleDC(screen);
    HDC to = CreateCompatibleDC(screen);
    HBITMAP scaled = CreateCompatibleBitmap(screen, width, height);
    const bool drawn = from != nullptr && to != nullptr && scaled != nullptr;
    if (drawn) {
        HGDIOBJ oldFrom = SelectObject(from, original);
        HGDIOBJ oldTo = SelectObject(to, scaled);
        SetStretchBltMode(to, HALFTONE);
        SetBrushOrgEx(to, 0, 0, nullptr);
        StretchBlt(to, 0, 0, width, height, from, 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
        SelectObject(from, oldFrom);
        SelectObject(to, oldTo);
    }
    if (to != nullptr) {
        DeleteDC(to);
    }
    if (from != nullptr) {
        DeleteDC(from);
    }
    ReleaseDC(nullptr, screen);
    DeleteObject(original);
    if (!drawn && scaled != nullptr) {
        DeleteObject(scaled);
        scaled = nullptr;
    }
    return scaled;
}

// The picture control takes the bitmap's own 200 x 70 pixels, which is what it shows at 96 dpi,
// pixel for pixel: its frame, in the template's rounded units, may miss that by a pixel, and
// smoothing it into such a frame would blur the display's thin segments. At other settings the
// dialog grows with its font while a bitmap keeps its pixels, so the picture is scaled smoothly to
// its frame; otherwise it would leave a gap or run under the port list.
void FitPictureToFrame(HWND dialog) {
    HWND picture = nullptr;
    EnumChildWindows(dialog, FindPicture, reinterpret_cast<LPARAM>(&picture));
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (picture == nullptr || dpi == kDesignDpi) {
        return;
    }
    // Mapped as the dialog maps its controls: position and size each on their own.
    RECT frame{3, 3, 133, 43};
    MapDialogRect(dialog, &frame);
    const int width = frame.right;
    const int height = frame.bottom;
    HBITMAP scaled = ScaleFrontPanel(width, height);
    if (scaled == nullptr) {
        return; // the unscaled picture is still better than none
    }
    // The scaled bitmap lives as long as the window, which is as long as the program; the one
    // it replaces is the control's to give back and ours to delete.
    const LRESULT replaced =
        SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(scaled));
    if (replaced != 0 && reinterpret_cast<HBITMAP>(replaced) != scaled) {
        DeleteObject(reinterpret_cast<HBITMAP>(replaced));
    }
    SetWindowPos(picture, nullptr, frame.left, frame.top, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void OnCreate(HWND dialog) {
    HANDLE icon =
        LoadImageA(TheWindow.instance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE);
    if (icon != nullptr) {
        SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    }
    TheWindow.window = dialog;
    TheWindow.lastShownMode = NOTHING_SHOWN;
    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    LocateFirmwareImage(dialog);
    SetUpdateTarget(dialog, TheWindow.imageFound ? &TheWindow.image : nullptr);
    EnableWindow(GetDlgItem(dialog, IDC_UPDATE), FALSE);
    SendDlgItemMessageA(dialog, IDC_MMC_SPIN, UDM_SETRANGE32, 0, MMC_ID_MAX);
    SettingsControlsCreated(dialog);
    FitPictureToFrame(dialog);
}

void OnClose(HWND dialog) {
    ForgetUnit();
    // The firmware image is not released: a running update worker may still be reading it.
    EndDialog(dialog, 0);
}

void OnCommand(HWND dialog, unsigned id, unsigned notification, LPARAM value) {
    if (OnWorkerCommand(dialog, id, value)) {
        return;
    }
    switch (id) {
    case IDC_PORT_LIST:
        if (notification == CBN_DROPDOWN) {
            OnPortListDropDown(dialog);
        } else if (notification == CBN_CLOSEUP) {
            OnPortListCloseUp(dialog);
        }
        break;
    case IDC_UPDATE:
        if (notification == BN_CLICKED) {
            OnUpdateFirmware(dialog);
        }
        break;
    case IDC_HELP_UPDATE:
        if (notification == BN_CLICKED) {
            ShowBox(dialog, kUpdateHelp, "Help");
        }
        break;
    default:
        // Everything else is ignored, IDOK and IDCANCEL included: Enter and Esc must not
        // close the window.
        break;
    }
}

bool IsSettingsRouted(UINT message) {
    return message == WM_COMMAND || message == WM_VSCROLL || message == WM_NOTIFY ||
           (message >= WM_APP && message <= 0xBFFF);
}

} // namespace

void ShowBox(HWND window, const char* text, const char* caption) {
    MessageBoxA(window, text, caption, MB_OK);
}

void ForgetUnit() {
    CloseInputPort();
    CloseOutputPort();
    TheDevice.DeviceMode.store(Absent);
    TheWindow.lastShownMode = NOTHING_SHOWN;
}

void StartStatusTimer(HWND dialog) {
    SetTimer(dialog, STATUS_TIMER, STATUS_TIMER_MS, nullptr);
}

void StopStatusTimer(HWND dialog) {
    KillTimer(dialog, STATUS_TIMER);
}

INT_PTR CALLBACK MainWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (IsSettingsRouted(message) && SettingsControlsMessage(dialog, message, wParam, lParam)) {
        return TRUE;
    }
    switch (message) {
    case WM_INITDIALOG:
        OnCreate(dialog);
        return TRUE;
    case WM_COMMAND:
        OnCommand(dialog, LOWORD(wParam), HIWORD(wParam), lParam);
        return TRUE;
    case WM_TIMER:
        if (wParam == STATUS_TIMER) {
            OnStatusTick(dialog);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        OnClose(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR RunMainWindow(HINSTANCE instance) {
    TheWindow.instance = instance;
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainWindowProc, 0);
}
