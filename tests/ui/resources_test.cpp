// The resources built into tavi-setup.exe, read from the program file itself: the dialog
// template control by control (its order is the Tab order), the icon group, the front panel,
// the embedded firmware image, the manifest and the version.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_image.h"
#include "ui/ids.h"

namespace {

std::wstring ProgramPath() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"tavi-setup.exe";
}

HMODULE Program() {
    static HMODULE program = LoadLibraryExW(
        ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    return program;
}

// The bytes of one resource; empty when there is none.
std::vector<uint8_t> Resource(LPCWSTR name, LPCWSTR type) {
    HRSRC found = Program() ? FindResourceW(Program(), name, type) : nullptr;
    if (found == nullptr) {
        return {};
    }
    const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(Program(), found)));
    return std::vector<uint8_t>(bytes, bytes + SizeofResource(Program(), found));
}

// Reads packed WORDs with strings and ordinals in line, as in a DLGTEMPLATEEX.
struct Reader {
    const uint8_t* base;
    const uint8_t* at;

    uint16_t Word() {
        uint16_t value;
        std::memcpy(&value, at, 2);
        at += 2;
        return value;
    }
    uint32_t Dword() { return Word() | static_cast<uint32_t>(Word()) << 16; }
    int Short() { return static_cast<int16_t>(Word()); }
    std::string String() {
        std::string text;
        for (uint16_t c = Word(); c != 0; c = Word()) {
            text += static_cast<char>(c);
        }
        return text;
    }
    // Ordinals come back as "#n".
    std::string NameOrOrdinal() {
        if (at[0] == 0xFF && at[1] == 0xFF) {
            Word();
            return "#" + std::to_string(Word());
        }
        return String();
    }
};

// The resource compiler stores the standard classes as ordinals.
std::string ClassName(std::string name) {
    const char* const ordinals[][2] = {
        {"#128", "button"}, {"#129", "edit"}, {"#130", "static"}, {"#133", "combobox"}};
    for (const auto& ordinal : ordinals) {
        if (name == ordinal[0]) {
            return ordinal[1];
        }
    }
    for (char& c : name) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return name;
}

// The bits of a style that say which kind of its class a control is.
uint32_t TypeMask(const std::string& windowClass) {
    return windowClass == "button"     ? 0x0F
           : windowClass == "static"   ? SS_TYPEMASK
           : windowClass == "combobox" ? 0x03
                                       : 0;
}

struct Expected {
    int id;
    const char* windowClass;
    const char* title;
    int x, y, cx, cy;
    uint32_t type;     // the style's type bits
    uint32_t required; // further bits that must be set
    uint32_t absent;   // bits that must not be set
};

constexpr int NONE = 0xFFFF;

// The window from top to bottom of the template, which is the Tab order.
const Expected LAYOUT[] = {
    {IDC_PORT_LIST, "combobox", "", 3, 49, 133, 90, CBS_DROPDOWN, CBS_HASSTRINGS | WS_VSCROLL,
     CBS_SORT | WS_TABSTOP | WS_DISABLED},
    {IDC_UPDATE, "button", "Update firmware", 3, 81, 112, 12, BS_PUSHBUTTON, WS_TABSTOP, 0},
    {IDC_PROGRESS, "msctls_progress32", "", 3, 114, 133, 7, 0, 0, WS_DISABLED},
    {IDC_UPDATE_TEXT, "static", "", 6, 98, 108, 8, SS_CENTER, 0, WS_DISABLED},
    {IDC_DEVICE_TEXT, "static", "", 4, 68, 111, 12, SS_CENTER, 0, WS_DISABLED},
    {NONE, "static", "#113", 3, 3, 133, 43, SS_BITMAP, 0, 0},
    {IDC_BLANK_ZERO, "button", "Blank leading zero", 12, 135, 100, 8, BS_AUTOCHECKBOX, WS_DISABLED,
     0},
    {IDC_BLANK_FRAMES, "button", "Blank frames when running", 12, 147, 101, 8, BS_AUTOCHECKBOX,
     WS_DISABLED, 0},
    {IDC_MMC_ID, "edit", "", 9, 203, 21, 14, 0,
     WS_BORDER | ES_CENTER | ES_NUMBER | ES_NOHIDESEL | WS_DISABLED, ES_AUTOHSCROLL | WS_TABSTOP},
    {IDC_BRIGHTNESS, "msctls_trackbar32", "", 6, 233, 125, 15, 0,
     TBS_BOTH | TBS_NOTICKS | WS_TABSTOP | WS_DISABLED, TBS_VERT},
    {IDC_MMC_SPIN, "msctls_updown32", "", 34, 203, 11, 14, 0,
     UDS_ARROWKEYS | UDS_ALIGNRIGHT | WS_TABSTOP | WS_DISABLED, UDS_SETBUDDYINT | UDS_AUTOBUDDY},
    {IDC_NO_STATIONARY_LTC, "button", "Disable stationary LTC output", 12, 159, 110, 8,
     BS_AUTOCHECKBOX, WS_DISABLED, 0},
    {NONE, "button", "Brightness", 3, 222, 133, 29, BS_GROUPBOX, 0, 0},
    {NONE, "button", "MIDI Machine Control ID", 3, 190, 133, 32, BS_GROUPBOX, 0, 0},
    {IDC_HELP_UPDATE, "button", "?", 120, 81, 15, 12, BS_PUSHBUTTON, WS_TABSTOP, WS_DISABLED},
    {IDC_HELP_SETTINGS, "button", "?", 120, 135, 15, 12, BS_PUSHBUTTON, WS_TABSTOP, WS_DISABLED},
    {IDC_FLYWHEEL, "button", "Infinite flywheel", 12, 171, 67, 8, BS_AUTOCHECKBOX, WS_DISABLED, 0},
};

TEST(Resources, MainDialogTemplateHasTheWindowAndEveryControlInTabOrder) {
    const std::vector<uint8_t> bytes = Resource(MAKEINTRESOURCEW(IDD_MAIN), MAKEINTRESOURCEW(5));
    ASSERT_FALSE(bytes.empty()) << "no dialog " << IDD_MAIN << " in tavi-setup.exe";
    Reader read{bytes.data(), bytes.data()};
    ASSERT_EQ(read.Dword(), 0xFFFF0001u) << "not an extended template";
    read.Dword(); // help id
    read.Dword(); // extended style
    const uint32_t style = read.Dword();
    const uint16_t count = read.Word();
    EXPECT_EQ(std::vector<int>({read.Short(), read.Short(), read.Short(), read.Short()}),
              std::vector<int>({0, 0, 139, 257}));
    EXPECT_EQ(read.NameOrOrdinal(), "") << "menu";
    EXPECT_EQ(read.NameOrOrdinal(), "") << "class";
    EXPECT_EQ(read.String(), " tavi setup 2.1");
    const uint32_t wanted = DS_MODALFRAME | DS_CENTER | DS_SHELLFONT | DS_3DLOOK | WS_POPUP |
                            WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    EXPECT_EQ(style & wanted, wanted);
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0u) << "no maximise box, no sizing";
    EXPECT_EQ(read.Word(), 8) << "point size";
    read.Dword(); // weight, italic, charset
    EXPECT_EQ(read.String(), "Ms Shell Dlg 2");

    ASSERT_EQ(count, sizeof(LAYOUT) / sizeof(LAYOUT[0]));
    for (const Expected& want : LAYOUT) {
        SCOPED_TRACE(std::to_string(want.id) + " \"" + want.title + "\"");
        read.at += (read.base - read.at) & 3; // items start on a DWORD boundary
        read.Dword();                         // help id
        read.Dword();                         // extended style
        const uint32_t itemStyle = read.Dword();
        EXPECT_EQ(std::vector<int>({read.Short(), read.Short(), read.Short(), read.Short()}),
                  std::vector<int>({want.x, want.y, want.cx, want.cy}));
        EXPECT_EQ(static_cast<int>(read.Dword() & 0xFFFF), want.id);
        const std::string windowClass = ClassName(read.NameOrOrdinal());
        EXPECT_EQ(windowClass, want.windowClass);
        EXPECT_EQ(read.NameOrOrdinal(), want.title);
        read.at += read.Word(); // creation data

        EXPECT_EQ(itemStyle & (WS_CHILD | WS_VISIBLE),
                  static_cast<uint32_t>(WS_CHILD | WS_VISIBLE));
        EXPECT_EQ(itemStyle & TypeMask(windowClass), want.type);
        EXPECT_EQ(itemStyle & want.required, want.required);
        EXPECT_EQ(itemStyle & want.absent, 0u);
    }
}

TEST(Resources, IconGroupHoldsSevenImagesOfTheApplicationIcon) {
    const std::vector<uint8_t> group = Resource(MAKEINTRESOURCEW(IDI_APP), MAKEINTRESOURCEW(14));
    ASSERT_GE(group.size(), 6u);
    Reader read{group.data(), group.data()};
    read.Word();
    EXPECT_EQ(read.Word(), 1) << "icon type";
    const uint16_t count = read.Word();
    ASSERT_EQ(group.size(), 6u + 14u * count);
    std::vector<std::string> images;
    for (int i = 0; i < count; ++i, read.at += 14) {
        // Width and height bytes (0 stands for 256), then the bit count at offset 6.
        images.push_back(std::to_string(read.at[0] ? read.at[0] : 256) + "x" +
                         std::to_string(read.at[1] ? read.at[1] : 256) + "x" +
                         std::to_string(read.at[6]));
    }
    EXPECT_EQ(images, (std::vector<std::string>{"16x16x8", "32x32x8", "48x48x8", "16x16x32",
                                                "32x32x32", "48x48x32", "256x256x32"}));
    // The platform can make an icon of every size the window asks for.
    for (int size : {16, 32, 48, 256}) {
        HANDLE icon = LoadImageW(Program(), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, size, size, 0);
        EXPECT_NE(icon, nullptr) << size;
        DestroyIcon(static_cast<HICON>(icon));
    }
}

TEST(Resources, FrontPanelIs200By70At24BitsAndTheFirmwareImageIsEmbeddedUnchanged) {
    const std::vector<uint8_t> bitmap =
        Resource(MAKEINTRESOURCEW(IDB_FRONT_PANEL), MAKEINTRESOURCEW(2));
    BITMAPINFOHEADER header{};
    ASSERT_EQ(bitmap.size(), sizeof(header) + 200u * 3u * 70u);
    std::memcpy(&header, bitmap.data(), sizeof(header));
    EXPECT_EQ(header.biWidth, 200);
    EXPECT_EQ(header.biHeight, 70);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));

    const std::vector<uint8_t> image = Resource(L"FirmwareFile", L"BINTYPE");
    ASSERT_EQ(image.size(), kTestImageSize);
    EXPECT_EQ(std::memcmp(image.data(), kTestImage, kTestImageSize), 0);
}

TEST(Resources, ManifestRunsAsInvokerWithCommonControls6AndDpiAwareness) {
    const std::vector<uint8_t> bytes = Resource(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    const std::string manifest(bytes.begin(), bytes.end());
    for (const char* part :
         {"level=\"asInvoker\"", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
          "<dpiAware>true</dpiAware>",
          // Windows 10
          "supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\""}) {
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    }
}

TEST(Resources, VersionIs21WithProductAndFileDescriptions) {
    const std::wstring path = ProgramPath();
    DWORD ignored = 0;
    std::vector<uint8_t> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020001u);
    for (const wchar_t* key : {L"ProductName", L"FileDescription", L"ProductVersion"}) {
        wchar_t* text = nullptr;
        const std::wstring name = std::wstring(L"\\StringFileInfo\\040904b0\\") + key;
        ASSERT_TRUE(
            VerQueryValueW(info.data(), name.c_str(), reinterpret_cast<void**>(&text), &length));
        EXPECT_GT(length, 1u);
        EXPECT_TRUE(std::wstring(key) != L"ProductVersion" || std::wstring(text) == L"2.1");
    }
}

} // namespace
