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
    path.resize(path.find_last_of(L"\\/") + 1);
    return path + L"tavi-setup.exe";
}

class Resources : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        program = LoadLibraryExW(ProgramPath().c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite() { FreeLibrary(program); }

    void SetUp() override { ASSERT_NE(program, nullptr) << "tavi-setup.exe not found"; }

    // The bytes of one resource; empty when there is none.
    static std::vector<uint8_t> Bytes(LPCWSTR name, LPCWSTR type) {
        HRSRC found = FindResourceW(program, name, type);
        if (found == nullptr) {
            return {};
        }
        const uint8_t* bytes =
            static_cast<const uint8_t*>(LockResource(LoadResource(program, found)));
        return std::vector<uint8_t>(bytes, bytes + SizeofResource(program, found));
    }

    static HMODULE program;
};
HMODULE Resources::program = nullptr;

// Reads a DLGTEMPLATEEX: the fields are packed WORDs, with strings and ordinals in line.
struct TemplateReader {
    const uint8_t* at;

    uint16_t Word() {
        uint16_t value;
        std::memcpy(&value, at, 2);
        at += 2;
        return value;
    }
    uint32_t Dword() { return Word() | static_cast<uint32_t>(Word()) << 16; }
    int16_t Short() { return static_cast<int16_t>(Word()); }
    std::string String() {
        std::string text;
        for (uint16_t c = Word(); c != 0; c = Word()) {
            text += static_cast<char>(c);
        }
        return text;
    }
    // A name or ordinal: ordinals come back as "#n".
    std::string NameOrOrdinal() {
        uint16_t first;
        std::memcpy(&first, at, 2);
        if (first == 0xFFFF) {
            Word();
            return "#" + std::to_string(Word());
        }
        return String();
    }
    void AlignDword(const uint8_t* base) {
        while ((at - base) % 4 != 0) {
            ++at;
        }
    }
};

struct TemplateItem {
    uint32_t style;
    int x, y, cx, cy;
    int id;
    std::string windowClass;
    std::string title;
};

std::string ClassName(const std::string& name) {
    // The resource compiler stores the standard classes as ordinals.
    if (name == "#128")
        return "button";
    if (name == "#129")
        return "edit";
    if (name == "#130")
        return "static";
    if (name == "#133")
        return "combobox";
    std::string lower;
    for (char c : name) {
        lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

struct ExpectedControl {
    int id;
    const char* windowClass;
    const char* title;
    int x, y, cx, cy;
    uint32_t typeMask; // the type bits (low nibble or more) and their value
    uint32_t type;
    uint32_t required; // further bits that must be set
    uint32_t absent;   // bits that must not be set
};

constexpr int NONE = 0xFFFF;
constexpr uint32_t BUTTON_TYPE = 0x0F;
constexpr uint32_t COMBO_TYPE = 0x03;
constexpr uint32_t STATIC_TYPE = SS_TYPEMASK;

// The window from top to bottom of the template, which is the Tab order.
const ExpectedControl LAYOUT[] = {
    {IDC_PORT_LIST, "combobox", "", 3, 49, 133, 90, COMBO_TYPE, CBS_DROPDOWN,
     CBS_HASSTRINGS | WS_VSCROLL, CBS_SORT | WS_TABSTOP | WS_DISABLED},
    {IDC_UPDATE, "button", "Update firmware", 3, 81, 112, 12, BUTTON_TYPE, BS_PUSHBUTTON,
     WS_TABSTOP, 0},
    {IDC_PROGRESS, "msctls_progress32", "", 3, 114, 133, 7, 0, 0, 0, WS_DISABLED},
    {IDC_UPDATE_TEXT, "static", "", 6, 98, 108, 8, STATIC_TYPE, SS_CENTER, 0, WS_DISABLED},
    {IDC_DEVICE_TEXT, "static", "", 4, 68, 111, 12, STATIC_TYPE, SS_CENTER, 0, WS_DISABLED},
    {NONE, "static", "#113", 3, 3, 133, 43, STATIC_TYPE, SS_BITMAP, 0, 0},
    {IDC_BLANK_ZERO, "button", "Blank leading zero", 12, 135, 100, 8, BUTTON_TYPE, BS_AUTOCHECKBOX,
     WS_DISABLED, 0},
    {IDC_BLANK_FRAMES, "button", "Blank frames when running", 12, 147, 101, 8, BUTTON_TYPE,
     BS_AUTOCHECKBOX, WS_DISABLED, 0},
    {IDC_MMC_ID, "edit", "", 9, 203, 21, 14, 0, 0,
     WS_BORDER | ES_CENTER | ES_NUMBER | ES_NOHIDESEL | WS_DISABLED, ES_AUTOHSCROLL | WS_TABSTOP},
    {IDC_BRIGHTNESS, "msctls_trackbar32", "", 6, 233, 125, 15, 0, 0,
     TBS_BOTH | TBS_NOTICKS | WS_TABSTOP | WS_DISABLED, TBS_VERT},
    {IDC_MMC_SPIN, "msctls_updown32", "", 34, 203, 11, 14, 0, 0,
     UDS_ARROWKEYS | UDS_ALIGNRIGHT | WS_TABSTOP | WS_DISABLED, UDS_SETBUDDYINT | UDS_AUTOBUDDY},
    {IDC_NO_STATIONARY_LTC, "button", "Disable stationary LTC output", 12, 159, 110, 8, BUTTON_TYPE,
     BS_AUTOCHECKBOX, WS_DISABLED, 0},
    {NONE, "button", "Brightness", 3, 222, 133, 29, BUTTON_TYPE, BS_GROUPBOX, 0, 0},
    {NONE, "button", "MIDI Machine Control ID", 3, 190, 133, 32, BUTTON_TYPE, BS_GROUPBOX, 0, 0},
    {IDC_HELP_UPDATE, "button", "?", 120, 81, 15, 12, BUTTON_TYPE, BS_PUSHBUTTON, WS_TABSTOP,
     WS_DISABLED},
    {IDC_HELP_SETTINGS, "button", "?", 120, 135, 15, 12, BUTTON_TYPE, BS_PUSHBUTTON, WS_TABSTOP,
     WS_DISABLED},
    {IDC_FLYWHEEL, "button", "Infinite flywheel", 12, 171, 67, 8, BUTTON_TYPE, BS_AUTOCHECKBOX,
     WS_DISABLED, 0},
};

TEST_F(Resources, MainDialogTemplateHasTheWindowAndEveryControlInTabOrder) {
    const std::vector<uint8_t> bytes = Bytes(MAKEINTRESOURCEW(IDD_MAIN), MAKEINTRESOURCEW(5));
    ASSERT_FALSE(bytes.empty()) << "no dialog " << IDD_MAIN;
    TemplateReader read{bytes.data()};
    ASSERT_EQ(read.Word(), 1) << "not an extended template";
    ASSERT_EQ(read.Word(), 0xFFFF);
    read.Dword(); // help id
    read.Dword(); // extended style
    const uint32_t style = read.Dword();
    const uint16_t count = read.Word();
    EXPECT_EQ(read.Short(), 0);
    EXPECT_EQ(read.Short(), 0);
    EXPECT_EQ(read.Short(), 139) << "width";
    EXPECT_EQ(read.Short(), 257) << "height";
    EXPECT_EQ(read.NameOrOrdinal(), "") << "menu";
    EXPECT_EQ(read.NameOrOrdinal(), "") << "class";
    EXPECT_EQ(read.String(), " tavi setup 2.1");
    const uint32_t wanted = DS_MODALFRAME | DS_CENTER | DS_SHELLFONT | DS_3DLOOK | WS_POPUP |
                            WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    EXPECT_EQ(style & wanted, wanted);
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0u) << "no maximise box, no sizing";
    EXPECT_EQ(read.Word(), 8) << "point size";
    read.Word(); // weight
    read.Word(); // italic, charset
    EXPECT_EQ(read.String(), "Ms Shell Dlg 2");

    ASSERT_EQ(count, sizeof(LAYOUT) / sizeof(LAYOUT[0]));
    for (const ExpectedControl& want : LAYOUT) {
        read.AlignDword(bytes.data());
        TemplateItem item;
        read.Dword(); // help id
        read.Dword(); // extended style
        item.style = read.Dword();
        item.x = read.Short();
        item.y = read.Short();
        item.cx = read.Short();
        item.cy = read.Short();
        item.id = static_cast<int>(read.Dword() & 0xFFFF);
        item.windowClass = ClassName(read.NameOrOrdinal());
        item.title = read.NameOrOrdinal();
        read.at += read.Word(); // creation data

        SCOPED_TRACE(std::string("control ") + std::to_string(want.id) + " \"" + want.title + "\"");
        EXPECT_EQ(item.id, want.id);
        EXPECT_EQ(item.windowClass, want.windowClass);
        EXPECT_EQ(item.title, want.title);
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
        EXPECT_EQ(item.style & (WS_CHILD | WS_VISIBLE),
                  static_cast<uint32_t>(WS_CHILD | WS_VISIBLE));
        EXPECT_EQ(item.style & want.typeMask, want.type);
        EXPECT_EQ(item.style & want.required, want.required);
        EXPECT_EQ(item.style & want.absent, 0u);
        if (item.windowClass == "button") {
            EXPECT_NE(item.style & BUTTON_TYPE, static_cast<uint32_t>(BS_DEFPUSHBUTTON))
                << "no button is the default button";
        }
    }
}

TEST_F(Resources, IconGroupHoldsSevenImagesOfTheApplicationIcon) {
    const std::vector<uint8_t> group = Bytes(MAKEINTRESOURCEW(IDI_APP), MAKEINTRESOURCEW(14));
    ASSERT_GE(group.size(), 6u);
    TemplateReader read{group.data()};
    read.Word();
    EXPECT_EQ(read.Word(), 1) << "icon type";
    const uint16_t count = read.Word();
    ASSERT_EQ(count, 7);
    ASSERT_EQ(group.size(), 6u + 14u * count);
    std::vector<std::string> images;
    for (int i = 0; i < count; ++i) {
        const int width = read.at[0] == 0 ? 256 : read.at[0];
        const int height = read.at[1] == 0 ? 256 : read.at[1];
        read.at += 6; // width, height, colours, reserved, planes
        const int bits = read.Word();
        read.Dword(); // size
        read.Word();  // image id
        images.push_back(std::to_string(width) + "x" + std::to_string(height) + "x" +
                         std::to_string(bits));
    }
    EXPECT_EQ(images, (std::vector<std::string>{"16x16x8", "32x32x8", "48x48x8", "16x16x32",
                                                "32x32x32", "48x48x32", "256x256x32"}));
    // The platform can make an icon of every size the window asks for.
    for (int size : {16, 32, 48, 256}) {
        HANDLE icon = LoadImageW(program, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, size, size, 0);
        EXPECT_NE(icon, nullptr) << size;
        DestroyIcon(static_cast<HICON>(icon));
    }
}

TEST_F(Resources, FrontPanelIs200By70At24Bits) {
    const std::vector<uint8_t> bitmap =
        Bytes(MAKEINTRESOURCEW(IDB_FRONT_PANEL), MAKEINTRESOURCEW(2));
    ASSERT_GE(bitmap.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    std::memcpy(&header, bitmap.data(), sizeof(header));
    EXPECT_EQ(header.biWidth, 200);
    EXPECT_EQ(header.biHeight, 70);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(bitmap.size(), sizeof(header) + 200u * 3u * 70u);
}

TEST_F(Resources, FirmwareImageIsEmbeddedUnchanged) {
    const std::vector<uint8_t> image = Bytes(L"FirmwareFile", L"BINTYPE");
    ASSERT_EQ(image.size(), kTestImageSize);
    EXPECT_EQ(std::memcmp(image.data(), kTestImage, kTestImageSize), 0);
}

TEST_F(Resources, ManifestRunsAsInvokerWithCommonControls6AndDpiAwareness) {
    const std::vector<uint8_t> bytes = Bytes(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    const std::string manifest(bytes.begin(), bytes.end());
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    EXPECT_NE(manifest.find("<dpiAware>true</dpiAware>"), std::string::npos);
    EXPECT_NE(manifest.find("supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\""),
              std::string::npos)
        << "Windows 10 not listed";
}

TEST_F(Resources, VersionIs21WithProductAndFileDescriptions) {
    const std::wstring path = ProgramPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<uint8_t> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020001u);
    for (const wchar_t* key : {L"\\StringFileInfo\\040904b0\\ProductName",
                               L"\\StringFileInfo\\040904b0\\FileDescription",
                               L"\\StringFileInfo\\040904b0\\ProductVersion"}) {
        wchar_t* text = nullptr;
        EXPECT_TRUE(VerQueryValueW(info.data(), key, reinterpret_cast<void**>(&text), &length));
        EXPECT_GT(length, 1u);
    }
    wchar_t* version = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\ProductVersion",
                               reinterpret_cast<void**>(&version), &length));
    EXPECT_EQ(std::wstring(version), L"2.1");
}

} // namespace
