// The settings controls inside the real dialog template, in this process: replies go in through
// the reply parser (as the MIDI input thread hands them over), user actions as the controls' own
// messages, and what would go to the unit is recorded by the SendSysEx below.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "midi/port_link.h"
#include "protocol/reply_parser.h"
#include "ui/ids.h"
#include "ui/settings_controls.h"

namespace {

using Texts = std::vector<std::string>;

struct SentMessage {
    double ms; // when SendSysEx was called, on a monotonic clock
    std::string bytes;
};
std::vector<SentMessage> sent;

double NowMs() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

} // namespace

// Stands in for the port link: records every message with the time it was handed over.
void SendSysEx(const uint8_t* bytes, size_t length) {
    std::string hex;
    for (size_t i = 0; i < length; ++i) {
        char two[4];
        std::snprintf(two, sizeof two, i > 0 ? " %02X" : "%02X", bytes[i]);
        hex += two;
    }
    sent.push_back({NowMs(), hex});
}

namespace {

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

// Taking a top-level window off the screen costs Wine two seconds without a window manager, so
// each test's dialog is the real template made a child of one host window that stays up.
HWND CreateMainDialogAsChild() {
    static HWND host =
        CreateWindowExW(0, L"Static", L"settings test host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                        400, 700, nullptr, nullptr, nullptr, nullptr);
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(IDD_MAIN), MAKEINTRESOURCEW(5));
    if (!found || !host) {
        return nullptr;
    }
    std::vector<DWORD> copy((SizeofResource(self, found) + 3) / 4);
    std::memcpy(copy.data(), LockResource(LoadResource(self, found)), SizeofResource(self, found));
    // DLGTEMPLATEEX: version and signature, help id, extended style, then the style.
    copy[3] &= ~static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                   DS_MODALFRAME | DS_CENTER);
    copy[3] |= WS_CHILD | WS_VISIBLE;
    return CreateDialogIndirectParamW(self, reinterpret_cast<const DLGTEMPLATE*>(copy.data()), host,
                                      TestDialogProc, 0);
}

class SettingsWindow : public testing::Test {
  protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX classes = {sizeof classes,
                                        ICC_BAR_CLASSES | ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS};
        ASSERT_TRUE(InitCommonControlsEx(&classes));
        dialog = CreateMainDialogAsChild();
        ASSERT_NE(nullptr, dialog);
        UpdateWindow(dialog);
        Pump();
        sent.clear();
    }
    void TearDown() override {
        InstallSettingsSink(TheDevice, nullptr);
        DestroyWindow(dialog);
        Pump();
    }

    HWND Control(int id) const { return GetDlgItem(dialog, id); }
    bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }
    LRESULT Ask(int id, UINT message) const { return SendMessageW(Control(id), message, 0, 0); }
    std::string FieldText() const {
        char text[16] = {};
        GetDlgItemTextA(dialog, IDC_MMC_ID, text, sizeof text);
        return text;
    }
    Texts SentBytes() const {
        Texts texts;
        for (const SentMessage& m : sent) {
            texts.push_back(m.bytes);
        }
        return texts;
    }

    // A setting reply as the receive path hands it to the parser; what that posted is then
    // carried out, as the window's message loop would.
    void Reply(uint8_t command, uint8_t value) {
        const uint8_t bytes[] = {0xF0, 0x2C, 0x4D, command, value, 0xF7};
        ASSERT_EQ(1, ReplyParser(TheDevice, bytes, sizeof bytes));
        Pump();
    }
    void EnableAllByReplies() {
        for (uint8_t command : {0x62, 0x65, 0x63, 0x68, 0x69, 0x66}) {
            Reply(command, command == 0x66 ? 0x03 : command == 0x63 ? 0x2A : 0x00);
        }
        RepaintSlider();
        sent.clear();
    }

    // The user types text into the MMC ID field and then clicks elsewhere.
    void LeaveFieldWith(const char* text) {
        SetDlgItemTextA(dialog, IDC_MMC_ID, text);
        SendMessageW(Control(IDC_MMC_ID), WM_KILLFOCUS, 0, 0);
        Pump();
    }
    // One mouse click on the upper or lower arrow of the up-down control.
    void ClickArrow(bool up) {
        RECT area;
        GetClientRect(Control(IDC_MMC_SPIN), &area);
        const LPARAM point = MAKELPARAM(area.right / 2, up ? area.bottom / 4 : area.bottom * 3 / 4);
        SendMessageW(Control(IDC_MMC_SPIN), WM_LBUTTONDOWN, MK_LBUTTON, point);
        SendMessageW(Control(IDC_MMC_SPIN), WM_LBUTTONUP, 0, point);
        Pump();
    }
    // The slider draws itself, which notifies the window (custom drawing).
    void RepaintSlider() {
        RedrawWindow(Control(IDC_BRIGHTNESS), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        Pump();
    }

    HWND dialog = nullptr;
};

TEST_F(SettingsWindow, EachReplyEnablesOnlyItsOwnControlsAndAnMmcIdOf127ChangesNoId) {
    // An option is on for 01 only, and a reply is not sent back.
    Reply(0x69, 0x01);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, IDC_FLYWHEEL));
    Reply(0x69, 0x02);
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(dialog, IDC_FLYWHEEL));
    EXPECT_EQ(Texts{}, SentBytes());

    struct Row {
        uint8_t command, value;
        std::vector<int> enabled;
    };
    const Row rows[] = {
        {0x62, 0x01, {IDC_BLANK_ZERO}},           {0x65, 0x00, {IDC_BLANK_FRAMES}},
        {0x63, 0x05, {IDC_MMC_ID, IDC_MMC_SPIN}}, {0x63, 0x7F, {IDC_MMC_ID, IDC_MMC_SPIN}},
        {0x68, 0x01, {IDC_NO_STATIONARY_LTC}},    {0x69, 0x00, {IDC_FLYWHEEL}},
        {0x66, 0x07, {IDC_BRIGHTNESS}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "reply " << std::hex << int(row.command) << " " << int(row.value));
        DisableSettingsControls(dialog);
        Reply(row.command, row.value);
        for (int id : kAllSettings) {
            const bool expected = std::count(row.enabled.begin(), row.enabled.end(), id) == 1;
            EXPECT_EQ(expected, Enabled(id)) << "control " << id;
        }
    }
    // The reported 127 (no ID) left the 5 reported before, which a rejected text falls back to.
    EXPECT_EQ(5, Ask(IDC_MMC_SPIN, UDM_GETPOS32));
    sent.clear();
    LeaveFieldWith("x");
    EXPECT_EQ("005", FieldText());
    EXPECT_EQ(Texts{"F0 2C 4D 53 05 F7"}, SentBytes());
}

// Each row follows the one before: the unit reported 42, and a rejected text shows and sends
// the last accepted ID again. Every send is followed by its 50 ms pause.
TEST_F(SettingsWindow, MmcIdFieldShowsThreeDigitsAndSendsTheIdOrThePreviousOneAgain) {
    struct Step {
        const char* typed;
        const char* shown;
        const char* sent;
    };
    const Step steps[] = {
        {"127", "042", "F0 2C 4D 53 2A F7"},  {"5", "005", "F0 2C 4D 53 05 F7"},
        {"126", "126", "F0 2C 4D 53 7E F7"},  {"127", "126", "F0 2C 4D 53 7E F7"},
        {"1234", "123", "F0 2C 4D 53 7B F7"}, {"150", "123", "F0 2C 4D 53 7B F7"},
        {"199", "123", "F0 2C 4D 53 7B F7"},  {"200", "123", "F0 2C 4D 53 7B F7"},
        {"1a", "123", "F0 2C 4D 53 7B F7"},   {"x", "123", "F0 2C 4D 53 7B F7"},
        {"", "123", "F0 2C 4D 53 7B F7"},     {"0", "000", "F0 2C 4D 53 00 F7"},
        {"99", "099", "F0 2C 4D 53 63 F7"},
    };
    Reply(0x63, 0x2A);
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(std::string("typed \"") + steps[i].typed + "\"");
        LeaveFieldWith(steps[i].typed);
        ASSERT_EQ(sent.size(), i + 1);
        EXPECT_EQ(sent.back().bytes, steps[i].sent);
        EXPECT_EQ(FieldText(), steps[i].shown);
        EXPECT_EQ(Ask(IDC_MMC_SPIN, UDM_GETPOS32), std::stoi(steps[i].shown));
        EXPECT_TRUE(i == 0 || sent[i].ms - sent[i - 1].ms >= 50.0);
    }
}

TEST_F(SettingsWindow, ArrowsSendForEveryNotificationButNeverTheQueryValue) {
    Reply(0x63, 0x05);
    // Each click brings the new position, then the end of scrolling: both send.
    ClickArrow(true);
    EXPECT_EQ("006", FieldText());
    ClickArrow(false);
    ClickArrow(false);
    EXPECT_EQ("004", FieldText());
    EXPECT_EQ((Texts{"F0 2C 4D 53 06 F7", "F0 2C 4D 53 06 F7", "F0 2C 4D 53 05 F7",
                     "F0 2C 4D 53 05 F7", "F0 2C 4D 53 04 F7", "F0 2C 4D 53 04 F7"}),
              SentBytes());

    Reply(0x63, 0x7E);
    sent.clear();
    ClickArrow(true); // already at the top of 0..126
    EXPECT_EQ("126", FieldText());
    for (const std::string& bytes : SentBytes()) {
        EXPECT_EQ("F0 2C 4D 53 7E F7", bytes);
    }
}

TEST_F(SettingsWindow, BrightnessReplyMovesTheSliderAndTheNextNotificationSendsItOnce) {
    // Sent back because it differs from the last level sent (0, then 7); above 15 is held at 15.
    const std::pair<uint8_t, const char*> rows[] = {{0x07, "F0 2C 4D 56 07 F7"},
                                                    {0x14, "F0 2C 4D 56 0F F7"}};
    for (const auto& row : rows) {
        sent.clear();
        Reply(0x66, row.first);
        EXPECT_TRUE(Enabled(IDC_BRIGHTNESS));
        EXPECT_EQ(std::min<int>(row.first, 15), Ask(IDC_BRIGHTNESS, TBM_GETPOS));
        RepaintSlider();
        RepaintSlider();
        EXPECT_EQ(Texts{row.second}, SentBytes());
    }
}

TEST_F(SettingsWindow, ClickingABoxTwiceSendsOnThenOffAtLeast50MsApart) {
    struct Box {
        int id;
        const char* on;
        const char* off;
    };
    const Box boxes[] = {
        {IDC_BLANK_ZERO, "F0 2C 4D 52 01 F7", "F0 2C 4D 52 00 F7"},
        {IDC_BLANK_FRAMES, "F0 2C 4D 55 01 F7", "F0 2C 4D 55 00 F7"},
        {IDC_NO_STATIONARY_LTC, "F0 2C 4D 58 01 F7", "F0 2C 4D 58 00 F7"},
        {IDC_FLYWHEEL, "F0 2C 4D 59 01 F7", "F0 2C 4D 59 00 F7"},
    };
    EnableAllByReplies();
    for (const Box& box : boxes) {
        SCOPED_TRACE(box.on);
        sent.clear();
        for (UINT checked : {BST_CHECKED, BST_UNCHECKED}) {
            SendMessageW(Control(box.id), BM_CLICK, 0, 0);
            Pump();
            EXPECT_EQ(checked, IsDlgButtonChecked(dialog, box.id));
        }
        ASSERT_EQ((Texts{box.on, box.off}), SentBytes());
        EXPECT_GE(sent[1].ms - sent[0].ms, 50.0);
    }
}

TEST_F(SettingsWindow, WhileAnUpdateRunsTheControlsStayDisabledAndSendNothing) {
    EnableAllByReplies();
    LockSettingsControls(dialog, true);
    // Whatever still reaches the window goes nowhere.
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_FLYWHEEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(IDC_FLYWHEEL)));
    LeaveFieldWith("9");
    SendMessageW(dialog, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0),
                 reinterpret_cast<LPARAM>(Control(IDC_MMC_SPIN)));
    Reply(0x66, 0x0C);
    RepaintSlider();
    EXPECT_EQ(Texts{}, SentBytes());

    // Replies still show what the unit said, but enable nothing.
    Reply(0x63, 0x09);
    Reply(0x62, 0x01);
    EXPECT_EQ("009", FieldText());
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, IDC_BLANK_ZERO));
    EXPECT_EQ(12, Ask(IDC_BRIGHTNESS, TBM_GETPOS));
    for (int id : kAllSettings) {
        EXPECT_FALSE(Enabled(id)) << "control " << id;
    }
    LockSettingsControls(dialog, false);
    EXPECT_FALSE(Enabled(IDC_BLANK_ZERO)) << "unlocking alone must not enable";
    Reply(0x62, 0x01);
    EXPECT_TRUE(Enabled(IDC_BLANK_ZERO));
}

} // namespace
