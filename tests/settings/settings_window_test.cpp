// The settings controls inside the real dialog template, in this process: replies go in through
// the reply parser (as the MIDI input thread hands them over), user actions go in as the
// controls' own mouse, keyboard and focus messages, and what would go to the unit is recorded
// by a stand-in SendSysEx.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "protocol/reply_parser.h"
#include "tests/settings/recording_link.h"
#include "ui/ids.h"
#include "ui/settings_controls.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::string>;

constexpr int kAllSettings[] = {IDC_BLANK_ZERO, IDC_BLANK_FRAMES, IDC_NO_STATIONARY_LTC,
                                IDC_FLYWHEEL,   IDC_MMC_ID,       IDC_MMC_SPIN,
                                IDC_BRIGHTNESS};

INT_PTR CALLBACK TestDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        // What the main window does at creation for these controls.
        SendDlgItemMessageW(dialog, IDC_MMC_SPIN, UDM_SETRANGE32, 0, 126);
        SettingsControlsCreated(dialog);
        return TRUE;
    }
    return SettingsControlsMessage(dialog, message, wParam, lParam) ? TRUE : FALSE;
}

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

template <typename Condition> bool PumpUntil(Condition done, DWORD limitMs = 3000) {
    const ULONGLONG end = GetTickCount64() + limitMs;
    for (;;) {
        Pump();
        if (done()) {
            return true;
        }
        if (GetTickCount64() >= end) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// Taking a top-level window off the screen costs Wine two seconds without a window manager, so
// each test's dialog lives inside one host window that stays up for the whole run: the real
// template with its frame styles swapped for WS_CHILD. The controls are the same.
HWND HostWindow() {
    static HWND host = [] {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"SettingsTestHost";
        RegisterClassW(&windowClass);
        return CreateWindowExW(0, L"SettingsTestHost", L"settings test host",
                               WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 700, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    }();
    return host;
}

HWND CreateMainDialogAsChild() {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(IDD_MAIN), RT_DIALOG);
    if (!found || !HostWindow()) {
        return nullptr;
    }
    const DWORD size = SizeofResource(self, found);
    const void* bytes = LockResource(LoadResource(self, found));
    std::vector<DWORD> copy((size + 3) / 4);
    std::memcpy(copy.data(), bytes, size);
    // DLGTEMPLATEEX: version, signature, help id, extended style, then the style.
    DWORD& style = copy[3];
    style &= ~static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                 DS_MODALFRAME | DS_CENTER);
    style |= WS_CHILD | WS_VISIBLE;
    HWND dialog = CreateDialogIndirectParamW(
        self, reinterpret_cast<const DLGTEMPLATE*>(copy.data()), HostWindow(), TestDialogProc, 0);
    if (dialog) {
        UpdateWindow(dialog);
    }
    return dialog;
}

class SettingsWindow : public testing::Test {
  protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX classes = {sizeof classes,
                                        ICC_BAR_CLASSES | ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS};
        ASSERT_TRUE(InitCommonControlsEx(&classes));
        dialog = CreateMainDialogAsChild();
        ASSERT_NE(nullptr, dialog);
        Pump();
        ClearSent();
    }
    void TearDown() override {
        InstallSettingsSink(TheDevice, nullptr);
        if (dialog) {
            DestroyWindow(dialog);
        }
        Pump();
    }

    HWND Control(int id) const { return GetDlgItem(dialog, id); }
    bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }

    // A reply as the receive path hands it to the parser; its posted effect is then carried
    // out, as the window's message loop would.
    void Reply(const Bytes& bytes) {
        ASSERT_EQ(1, ReplyParser(TheDevice, bytes.data(), bytes.size()));
        Pump();
    }

    std::string FieldText() const {
        char text[16] = {};
        GetDlgItemTextA(dialog, IDC_MMC_ID, text, sizeof text);
        return text;
    }
    int SpinPosition() const {
        return static_cast<int>(SendMessageW(Control(IDC_MMC_SPIN), UDM_GETPOS32, 0, 0));
    }
    int SliderPosition() const {
        return static_cast<int>(SendMessageW(Control(IDC_BRIGHTNESS), TBM_GETPOS, 0, 0));
    }

    // The user types text into the MMC ID field and then clicks elsewhere.
    void LeaveFieldWith(const char* text) {
        SetDlgItemTextA(dialog, IDC_MMC_ID, text);
        SendMessageW(Control(IDC_MMC_ID), WM_KILLFOCUS, 0, 0);
        Pump();
    }

    // One mouse click on the upper (up = true) or lower arrow of the up-down control.
    void ClickArrow(bool up) {
        HWND spin = Control(IDC_MMC_SPIN);
        RECT area;
        GetClientRect(spin, &area);
        const LPARAM point = MAKELPARAM(area.right / 2, up ? area.bottom / 4 : area.bottom * 3 / 4);
        SendMessageW(spin, WM_LBUTTONDOWN, MK_LBUTTON, point);
        SendMessageW(spin, WM_LBUTTONUP, 0, point);
        Pump();
    }

    void ClickBox(int id) {
        SendMessageW(Control(id), BM_CLICK, 0, 0);
        Pump();
    }

    // The slider draws itself, which notifies the window (custom drawing).
    void RepaintSlider() {
        RedrawWindow(Control(IDC_BRIGHTNESS), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        Pump();
    }

    void EnableAllByReplies() {
        Reply({0xF0, 0x2C, 0x4D, 0x62, 0x00, 0xF7});
        Reply({0xF0, 0x2C, 0x4D, 0x65, 0x00, 0xF7});
        Reply({0xF0, 0x2C, 0x4D, 0x63, 0x2A, 0xF7});
        Reply({0xF0, 0x2C, 0x4D, 0x68, 0x00, 0xF7});
        Reply({0xF0, 0x2C, 0x4D, 0x69, 0x00, 0xF7});
        Reply({0xF0, 0x2C, 0x4D, 0x66, 0x03, 0xF7});
        RepaintSlider();
        ClearSent();
    }

    HWND dialog = nullptr;
};

// --- Each control is enabled by its own reply only ---

struct EnablingCase {
    const char* name;
    Bytes reply;
    std::vector<int> enabled;
};

void PrintTo(const EnablingCase& c, std::ostream* out) {
    *out << c.name;
}

class SettingsEnabling : public SettingsWindow, public testing::WithParamInterface<EnablingCase> {};

TEST_P(SettingsEnabling, OnlyTheReportedSettingBecomesUsable) {
    for (int id : kAllSettings) {
        ASSERT_FALSE(Enabled(id)) << "control " << id << " enabled before any reply";
    }
    Reply(GetParam().reply);
    for (int id : kAllSettings) {
        const bool expected = std::find(GetParam().enabled.begin(), GetParam().enabled.end(), id) !=
                              GetParam().enabled.end();
        EXPECT_EQ(expected, Enabled(id)) << "control " << id;
    }
}

const EnablingCase kEnabling[] = {
    {"BlankZero", {0xF0, 0x2C, 0x4D, 0x62, 0x01, 0xF7}, {IDC_BLANK_ZERO}},
    {"BlankFrames", {0xF0, 0x2C, 0x4D, 0x65, 0x00, 0xF7}, {IDC_BLANK_FRAMES}},
    {"MmcId", {0xF0, 0x2C, 0x4D, 0x63, 0x05, 0xF7}, {IDC_MMC_ID, IDC_MMC_SPIN}},
    {"MmcIdNone", {0xF0, 0x2C, 0x4D, 0x63, 0x7F, 0xF7}, {IDC_MMC_ID, IDC_MMC_SPIN}},
    {"StationaryLtc", {0xF0, 0x2C, 0x4D, 0x68, 0x01, 0xF7}, {IDC_NO_STATIONARY_LTC}},
    {"Flywheel", {0xF0, 0x2C, 0x4D, 0x69, 0x00, 0xF7}, {IDC_FLYWHEEL}},
    {"Brightness", {0xF0, 0x2C, 0x4D, 0x66, 0x07, 0xF7}, {IDC_BRIGHTNESS}},
    {"Status", {0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31, 0xF7}, {}},
};
INSTANTIATE_TEST_SUITE_P(Replies, SettingsEnabling, testing::ValuesIn(kEnabling),
                         [](const testing::TestParamInfo<EnablingCase>& param) {
                             return std::string(param.param.name);
                         });

TEST_F(SettingsWindow, OptionReplySetsTheBoxOnlyForOn) {
    Reply({0xF0, 0x2C, 0x4D, 0x69, 0x01, 0xF7});
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, IDC_FLYWHEEL));
    Reply({0xF0, 0x2C, 0x4D, 0x69, 0x02, 0xF7});
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(dialog, IDC_FLYWHEEL));
    EXPECT_TRUE(Sent().empty()) << "a reply must not be sent back";
}

TEST_F(SettingsWindow, ReplyFromTheInputThreadReachesTheWindow) {
    std::thread input([] {
        const uint8_t reply[] = {0xF0, 0x2C, 0x4D, 0x63, 0x11, 0xF7};
        ReplyParser(TheDevice, reply, sizeof reply);
    });
    input.join();
    EXPECT_TRUE(PumpUntil([&] { return Enabled(IDC_MMC_ID); }));
    EXPECT_EQ("017", FieldText());
    EXPECT_EQ(17, SpinPosition());
}

// --- MMC ID ---

TEST_F(SettingsWindow, MmcIdReplyShowsThreeDigitsAndMovesTheArrows) {
    Reply({0xF0, 0x2C, 0x4D, 0x63, 0x05, 0xF7});
    EXPECT_EQ("005", FieldText());
    EXPECT_EQ(5, SpinPosition());
    Reply({0xF0, 0x2C, 0x4D, 0x63, 0x7E, 0xF7});
    EXPECT_EQ("126", FieldText());
    EXPECT_EQ(126, SpinPosition());
    EXPECT_TRUE(Sent().empty());
}

TEST_F(SettingsWindow, MmcIdReplyOf127EnablesWithoutChangingTheId) {
    Reply({0xF0, 0x2C, 0x4D, 0x63, 0x2A, 0xF7});
    DisableSettingsControls(dialog);
    Reply({0xF0, 0x2C, 0x4D, 0x63, 0x7F, 0xF7});
    EXPECT_TRUE(Enabled(IDC_MMC_ID));
    EXPECT_TRUE(Enabled(IDC_MMC_SPIN));
    EXPECT_EQ("042", FieldText());
    EXPECT_EQ(42, SpinPosition());
    // The ID kept is still the one sent when the field is left untouched.
    LeaveFieldWith("042");
    EXPECT_EQ(Texts{"F0 2C 4D 53 2A F7"}, SentBytes());
}

struct FieldCase {
    const char* typed;
    const char* shown;
    const char* sent;
};

void PrintTo(const FieldCase& c, std::ostream* out) {
    *out << '"' << c.typed << '"';
}

class MmcIdField : public SettingsWindow, public testing::WithParamInterface<FieldCase> {};

// The unit reported 42 before; the user types and leaves the field.
TEST_P(MmcIdField, ShowsAndSendsTheIdTheTextStandsFor) {
    Reply({0xF0, 0x2C, 0x4D, 0x63, 0x2A, 0xF7});
    LeaveFieldWith(GetParam().typed);
    EXPECT_EQ(GetParam().shown, FieldText());
    EXPECT_EQ(Texts{GetParam().sent}, SentBytes());
    EXPECT_EQ(std::stoi(GetParam().shown), SpinPosition());
}

const FieldCase kFieldCases[] = {
    {"5", "005", "F0 2C 4D 53 05 F7"},    {"0", "000", "F0 2C 4D 53 00 F7"},
    {"99", "099", "F0 2C 4D 53 63 F7"},   {"126", "126", "F0 2C 4D 53 7E F7"},
    {"1234", "123", "F0 2C 4D 53 7B F7"}, {"042", "042", "F0 2C 4D 53 2A F7"},
    {"127", "042", "F0 2C 4D 53 2A F7"},  {"150", "042", "F0 2C 4D 53 2A F7"},
    {"199", "042", "F0 2C 4D 53 2A F7"},  {"200", "042", "F0 2C 4D 53 2A F7"},
    {"1a", "042", "F0 2C 4D 53 2A F7"},   {"x", "042", "F0 2C 4D 53 2A F7"},
    {"", "042", "F0 2C 4D 53 2A F7"},
};
INSTANTIATE_TEST_SUITE_P(Typed, MmcIdField, testing::ValuesIn(kFieldCases));

TEST_F(SettingsWindow, MmcIdRejectedTextFallsBackToTheLastAcceptedId) {
    Reply({0xF0, 0x2C, 0x4D, 0x63, 0x2A, 0xF7});
    LeaveFieldWith("5");
    LeaveFieldWith("150");
    EXPECT_EQ("005", FieldText());
    EXPECT_EQ((Texts{"F0 2C 4D 53 05 F7", "F0 2C 4D 53 05 F7"}), SentBytes());
}

TEST_F(SettingsWindow, MmcIdTypedPastTheFieldWidthIsTakenAtOnce) {
    Reply({0xF0, 0x2C, 0x4D, 0x63, 0x00, 0xF7});
    HWND field = Control(IDC_MMC_ID);
    SetWindowTextA(field, "");
    // Narrow field, no horizontal scrolling: it reports that the text is too long before any
    // focus change.
    for (char c : std::string("11111111")) {
        SendMessageW(field, WM_CHAR, static_cast<WPARAM>(c), 0);
        Pump();
        if (!Sent().empty()) {
            break;
        }
    }
    ASSERT_FALSE(Sent().empty()) << "the field never reported that its text was too long";
    EXPECT_EQ(Texts{"F0 2C 4D 53 6F F7"}, SentBytes()); // 111
    EXPECT_EQ("111", FieldText());
}

TEST_F(SettingsWindow, ArrowsSendForEveryNotification) {
    Reply({0xF0, 0x2C, 0x4D, 0x63, 0x05, 0xF7});
    ClickArrow(true);
    EXPECT_EQ("006", FieldText());
    // The new position, then the end of scrolling: both send, with no test for a change.
    EXPECT_EQ((Texts{"F0 2C 4D 53 06 F7", "F0 2C 4D 53 06 F7"}), SentBytes());
    ClearSent();
    ClickArrow(false);
    ClickArrow(false);
    EXPECT_EQ("004", FieldText());
    EXPECT_EQ(
        (Texts{"F0 2C 4D 53 05 F7", "F0 2C 4D 53 05 F7", "F0 2C 4D 53 04 F7", "F0 2C 4D 53 04 F7"}),
        SentBytes());
}

TEST_F(SettingsWindow, ArrowsNeverSendTheQueryValue) {
    Reply({0xF0, 0x2C, 0x4D, 0x63, 0x7E, 0xF7});
    ClickArrow(true); // already at the top of 0..126
    EXPECT_EQ("126", FieldText());
    for (const std::string& sent : SentBytes()) {
        EXPECT_EQ("F0 2C 4D 53 7E F7", sent);
    }
    // Even with a wider range than the window sets, the position is pinned to 126.
    ClearSent();
    SendMessageW(Control(IDC_MMC_SPIN), UDM_SETRANGE32, 0, 200);
    SendMessageW(Control(IDC_MMC_SPIN), UDM_SETPOS32, 0, 127);
    SendMessageW(dialog, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0),
                 reinterpret_cast<LPARAM>(Control(IDC_MMC_SPIN)));
    EXPECT_EQ(Texts{"F0 2C 4D 53 7E F7"}, SentBytes());
    EXPECT_EQ("126", FieldText());
}

// --- Brightness ---

TEST_F(SettingsWindow, BrightnessReplyMovesTheSliderAndIsSentBackOnce) {
    Reply({0xF0, 0x2C, 0x4D, 0x66, 0x07, 0xF7});
    EXPECT_TRUE(Enabled(IDC_BRIGHTNESS));
    EXPECT_EQ(7, SliderPosition());
    RepaintSlider();
    RepaintSlider();
    // The last level sent was 0, so the first notification after the move sends 7, once.
    EXPECT_EQ(Texts{"F0 2C 4D 56 07 F7"}, SentBytes());
}

TEST_F(SettingsWindow, BrightnessAbove15IsHeldAt15) {
    Reply({0xF0, 0x2C, 0x4D, 0x66, 0x14, 0xF7});
    EXPECT_EQ(15, SliderPosition());
    RepaintSlider();
    EXPECT_EQ(Texts{"F0 2C 4D 56 0F F7"}, SentBytes());
}

TEST_F(SettingsWindow, SliderMovedWithTheKeyboardSendsTheNewLevel) {
    EnableAllByReplies(); // brightness 3, sent back already
    SendMessageW(Control(IDC_BRIGHTNESS), WM_KEYDOWN, VK_RIGHT, 0);
    SendMessageW(Control(IDC_BRIGHTNESS), WM_KEYUP, VK_RIGHT, 0);
    Pump();
    RepaintSlider();
    EXPECT_EQ(4, SliderPosition());
    EXPECT_EQ(Texts{"F0 2C 4D 56 04 F7"}, SentBytes());
}

TEST_F(SettingsWindow, SliderScrollMessagesAloneSendNothing) {
    EnableAllByReplies();
    SendMessageW(Control(IDC_BRIGHTNESS), TBM_SETPOS, FALSE, 9); // no redraw, no notification
    SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 9),
                 reinterpret_cast<LPARAM>(Control(IDC_BRIGHTNESS)));
    EXPECT_TRUE(Sent().empty());
    RepaintSlider();
    EXPECT_EQ(Texts{"F0 2C 4D 56 09 F7"}, SentBytes());
}

// --- Check boxes ---

struct BoxCase {
    int id;
    const char* on;
    const char* off;
};

void PrintTo(const BoxCase& c, std::ostream* out) {
    *out << "box " << c.id;
}

class OptionBox : public SettingsWindow, public testing::WithParamInterface<BoxCase> {};

TEST_P(OptionBox, TwoClicksSendOnThenOffAtLeast50msApart) {
    EnableAllByReplies();
    ClickBox(GetParam().id);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, GetParam().id));
    ClickBox(GetParam().id);
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(dialog, GetParam().id));
    ASSERT_EQ((Texts{GetParam().on, GetParam().off}), SentBytes());
    EXPECT_GE(Sent()[1].ms - Sent()[0].ms, 50.0);
}

const BoxCase kBoxes[] = {
    {IDC_BLANK_ZERO, "F0 2C 4D 52 01 F7", "F0 2C 4D 52 00 F7"},
    {IDC_BLANK_FRAMES, "F0 2C 4D 55 01 F7", "F0 2C 4D 55 00 F7"},
    {IDC_NO_STATIONARY_LTC, "F0 2C 4D 58 01 F7", "F0 2C 4D 58 00 F7"},
    {IDC_FLYWHEEL, "F0 2C 4D 59 01 F7", "F0 2C 4D 59 00 F7"},
};
INSTANTIATE_TEST_SUITE_P(Boxes, OptionBox, testing::ValuesIn(kBoxes));

TEST_F(SettingsWindow, EverySendIsFollowedByItsPause) {
    EnableAllByReplies();
    LeaveFieldWith("7");
    LeaveFieldWith("8");
    ClickArrow(true);
    ASSERT_EQ(4u, Sent().size());
    for (size_t i = 1; i < Sent().size(); ++i) {
        EXPECT_GE(Sent()[i].ms - Sent()[i - 1].ms, 50.0) << "between sends " << i - 1 << ", " << i;
    }
}

// --- Absent unit and running update ---

TEST_F(SettingsWindow, AbsentUnitDisablesEverySetting) {
    EnableAllByReplies();
    DisableSettingsControls(dialog);
    for (int id : kAllSettings) {
        EXPECT_FALSE(Enabled(id)) << "control " << id;
    }
}

TEST_F(SettingsWindow, LockedControlsStayDisabledAndSendNothing) {
    EnableAllByReplies();
    LockSettingsControls(dialog, true);
    for (int id : kAllSettings) {
        EXPECT_FALSE(Enabled(id)) << "control " << id;
    }
    // Whatever still reaches the window while the update runs goes nowhere.
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_FLYWHEEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(IDC_FLYWHEEL)));
    LeaveFieldWith("9");
    SendMessageW(dialog, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0),
                 reinterpret_cast<LPARAM>(Control(IDC_MMC_SPIN)));
    Reply({0xF0, 0x2C, 0x4D, 0x66, 0x0C, 0xF7});
    RepaintSlider();
    EXPECT_TRUE(Sent().empty());

    // Replies still show what the unit said, but enable nothing.
    Reply({0xF0, 0x2C, 0x4D, 0x63, 0x09, 0xF7});
    Reply({0xF0, 0x2C, 0x4D, 0x62, 0x01, 0xF7});
    EXPECT_EQ("009", FieldText());
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, IDC_BLANK_ZERO));
    EXPECT_EQ(12, SliderPosition());
    for (int id : kAllSettings) {
        EXPECT_FALSE(Enabled(id)) << "control " << id;
    }

    LockSettingsControls(dialog, false);
    EXPECT_FALSE(Enabled(IDC_BLANK_ZERO)) << "unlocking alone must not enable";
    Reply({0xF0, 0x2C, 0x4D, 0x62, 0x01, 0xF7});
    EXPECT_TRUE(Enabled(IDC_BLANK_ZERO));
}

// --- Help ---

struct FoundBox {
    std::wstring caption;
    std::wstring text;
};

BOOL CALLBACK LongestStatic(HWND child, LPARAM found) {
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    if (lstrcmpiW(cls, L"Static") == 0) {
        std::wstring text(GetWindowTextLengthW(child) + 1, L'\0');
        text.resize(GetWindowTextW(child, &text[0], static_cast<int>(text.size())));
        auto* box = reinterpret_cast<FoundBox*>(found);
        if (text.size() > box->text.size()) {
            box->text = text;
        }
    }
    return TRUE;
}

TEST_F(SettingsWindow, SettingsHelpShowsItsTextUnderHelp) {
    FoundBox box;
    DWORD windowThread = GetCurrentThreadId();
    // The box is modal: another thread reads it and answers OK.
    std::thread reader([&] {
        const ULONGLONG end = GetTickCount64() + 5000;
        while (GetTickCount64() < end) {
            HWND found = nullptr;
            EnumThreadWindows(
                windowThread,
                [](HWND w, LPARAM out) -> BOOL {
                    wchar_t cls[16] = {};
                    GetClassNameW(w, cls, 16);
                    if (lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(w)) {
                        *reinterpret_cast<HWND*>(out) = w;
                        return FALSE;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&found));
            if (found && found != GetAncestor(found, GA_ROOT)) {
                found = nullptr;
            }
            if (found) {
                wchar_t caption[64] = {};
                GetWindowTextW(found, caption, 64);
                if (lstrcmpW(caption, L" tavi setup 2.1") != 0) {
                    box.caption = caption;
                    EnumChildWindows(found, LongestStatic, reinterpret_cast<LPARAM>(&box));
                    PostMessageW(found, WM_COMMAND, IDOK, 0);
                    return;
                }
            }
            Sleep(20);
        }
    });
    SendMessageW(Control(IDC_HELP_SETTINGS), BM_CLICK, 0, 0);
    reader.join();
    EXPECT_EQ(L"Help", box.caption);
    const std::wstring expected =
        L"Firmware 2.1 must be installed to enable the following settings:\n\n\n"
        L"Blank leading zero of the time code display, i.e.  1:00:00:00 instead of "
        L"01:00:00:00.\n\n"
        L"Blank frames when running. Running time code will be displayed without frames i.e. "
        L"01:00:00.\n\n"
        L"Disable stationary LTC output.\n"
        L"Stationary LTC time code (not incrementing) is used to indicate an exact position.\n"
        L"Some LTC readers may not interpret stationary time code and produce errors.\n\n"
        L"Infinite flywheel.\n"
        L"When the time code input signal disappears during time code translation,\n"
        L"the Infinte flywheel option continues re-generation until a new valid time code will "
        L"be detected.\n\n"
        L"MIDI Machine Control ID serves to address MMC machines individually in addition to ID "
        L"127 (broadcast).\n\n"
        L"Brightness slider sets time code display and status LED brightness.\n\n"
        L"All settings are stored non volatile.";
    EXPECT_EQ(expected, box.text);
    EXPECT_TRUE(Sent().empty());
}

} // namespace
