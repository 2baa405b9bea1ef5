#include "tests/ui/ui_harness.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "ui/ids.h"

namespace {

const wchar_t WINDOW_CAPTION[] = L" tavi setup 2.1";

std::wstring ProgramPath(const wchar_t* program) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    path.resize(path.find_last_of(L"\\/") + 1);
    return path + program;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

DWORD ProcessOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

struct DialogSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    if (ProcessOf(window) != search->pid || ClassOf(window) != L"#32770" ||
        !IsWindowVisible(window)) {
        return TRUE;
    }
    wchar_t caption[64] = {};
    GetWindowTextW(window, caption, 64);
    if (std::wstring(caption) == WINDOW_CAPTION) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct BoxSearch {
    DWORD pid;
    HWND dialog;
    HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<BoxSearch*>(param);
    if (window == search->dialog || ProcessOf(window) != search->pid ||
        ClassOf(window) != L"#32770" || !IsWindowVisible(window)) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

BOOL CALLBACK LongestStaticText(HWND child, LPARAM param) {
    auto* text = reinterpret_cast<std::string*>(param);
    if (ClassOf(child) == L"Static") {
        std::string here = WindowText(child);
        if (here.size() > text->size()) {
            *text = here;
        }
    }
    return TRUE;
}

std::string ReadWholeFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string content;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        content.append(buffer, got);
    }
    CloseHandle(file);
    return content;
}

std::string FreshTranscriptPath() {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    static unsigned serial = 0;
    char name[MAX_PATH + 64] = {};
    std::snprintf(name, sizeof(name), "%stavi-ui-%lu-%u.log", folder, GetCurrentProcessId(),
                  ++serial);
    DeleteFileA(name);
    return name;
}

} // namespace

bool WaitUntil(const std::function<bool()>& condition, unsigned timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(20);
    }
}

bool LaunchApp(UiApp& app, const std::string& scenario, const wchar_t* programName) {
    StopApp(app);
    app = UiApp{};
    app.transcriptPath = FreshTranscriptPath();
    // The child inherits the environment; the stand-in reads both names once, when loaded.
    SetEnvironmentVariableA("TAVI_SIM", scenario.c_str());
    SetEnvironmentVariableA("TAVI_SIM_LOG", app.transcriptPath.c_str());

    std::wstring program = ProgramPath(programName);
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &app.process)) {
        std::fprintf(stderr, "cannot start %s: error %lu\n", Narrow(program).c_str(),
                     GetLastError());
        return false;
    }
    app.running = true;
    return true;
}

bool WaitForMainWindow(UiApp& app) {
    WaitForInputIdle(app.process.hProcess, UI_WAIT_MS);
    DialogSearch search{app.process.dwProcessId, nullptr};
    const bool shown = WaitUntil([&] {
        search.found = nullptr;
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    });
    if (!shown) {
        std::fprintf(stderr, "the main window did not appear\n");
        return false;
    }
    app.dialog = search.found;
    return true;
}

bool StartApp(UiApp& app, const std::string& scenario) {
    if (!LaunchApp(app, scenario, L"tavi-setup.exe")) {
        return false;
    }
    if (!WaitForMainWindow(app)) {
        StopApp(app);
        return false;
    }
    return true;
}

bool WaitForExit(UiApp& app, unsigned timeoutMs, DWORD* exitCode) {
    if (!app.running) {
        return true;
    }
    if (WaitForSingleObject(app.process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    if (exitCode != nullptr) {
        GetExitCodeProcess(app.process.hProcess, exitCode);
    }
    return true;
}

void StopApp(UiApp& app) {
    if (!app.running) {
        return;
    }
    // The program is ended outright: how it closes is tested where it matters, and a closing
    // window costs two seconds under Wine without a window manager (it waits for one to
    // withdraw the window).
    if (WaitForSingleObject(app.process.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(app.process.hProcess, 1);
        WaitForSingleObject(app.process.hProcess, 5000);
    }
    CloseHandle(app.process.hThread);
    CloseHandle(app.process.hProcess);
    app.running = false;
    app.dialog = nullptr;
}

HWND Control(const UiApp& app, int id) {
    return GetDlgItem(app.dialog, id);
}

std::string WindowText(HWND window) {
    // The wide message is marshalled across processes correctly; the narrow one is not always.
    const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got =
        SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return Narrow(text);
}

std::string ControlText(const UiApp& app, int id) {
    return WindowText(Control(app, id));
}

bool ControlEnabled(const UiApp& app, int id) {
    return IsWindowEnabled(Control(app, id)) != FALSE;
}

bool WaitForControlText(const UiApp& app, int id, const std::string& text, unsigned timeoutMs) {
    return WaitUntil([&] { return ControlText(app, id) == text; }, timeoutMs);
}

bool WaitForEnabled(const UiApp& app, int id, bool enabled, unsigned timeoutMs) {
    return WaitUntil([&] { return ControlEnabled(app, id) == enabled; }, timeoutMs);
}

int ProgressPosition(const UiApp& app) {
    return static_cast<int>(SendMessageW(Control(app, IDC_PROGRESS), PBM_GETPOS, 0, 0));
}

bool IsChecked(const UiApp& app, int id) {
    return SendMessageW(Control(app, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

namespace {
HWND PortList(const UiApp& app) {
    return Control(app, IDC_PORT_LIST);
}
bool DroppedDown(const UiApp& app) {
    return SendMessageW(PortList(app), CB_GETDROPPEDSTATE, 0, 0) != 0;
}
} // namespace

std::vector<std::string> PortListEntries(const UiApp& app) {
    std::vector<std::string> entries;
    HWND list = PortList(app);
    const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, i, 0);
        if (length < 0) {
            entries.emplace_back();
            continue;
        }
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        const LRESULT got = SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(got > 0 ? static_cast<size_t>(got) : 0);
        entries.push_back(Narrow(text));
    }
    return entries;
}

void RequestPortList(const UiApp& app) {
    // Posted, not sent: the program may answer the drop-down with a message box, and a sent
    // message would wait for that box.
    PostMessageW(PortList(app), CB_SHOWDROPDOWN, TRUE, 0);
}

bool WaitForPortListOpen(const UiApp& app) {
    return WaitUntil([&] { return DroppedDown(app); });
}

bool OpenPortList(const UiApp& app) {
    RequestPortList(app);
    return WaitForPortListOpen(app);
}

bool ChooseInOpenList(const UiApp& app, int index) {
    SendMessageW(PortList(app), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    return CloseOpenList(app);
}

bool CloseOpenList(const UiApp& app) {
    // Posted: the close-up opens the ports and sends seven messages 50 ms apart, and may end in
    // a message box.
    PostMessageW(PortList(app), CB_SHOWDROPDOWN, FALSE, 0);
    return WaitUntil([&] { return !DroppedDown(app); });
}

bool PickPort(const UiApp& app, const std::string& name) {
    if (!OpenPortList(app)) {
        return false;
    }
    const std::vector<std::string> entries = PortListEntries(app);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i] == name) {
            return ChooseInOpenList(app, static_cast<int>(i));
        }
    }
    CloseOpenList(app);
    return false;
}

void Click(const UiApp& app, int id) {
    PostMessageW(Control(app, id), BM_CLICK, 0, 0);
}

void PressKey(const UiApp& app, WPARAM virtualKey) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    HWND target = app.dialog;
    if (GetGUIThreadInfo(app.process.dwThreadId, &info) && info.hwndFocus != nullptr) {
        target = info.hwndFocus;
    }
    const UINT scan = MapVirtualKeyW(static_cast<UINT>(virtualKey), MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, virtualKey, 1 | (static_cast<LPARAM>(scan) << 16));
    PostMessageW(target, WM_KEYUP, virtualKey, 1 | (static_cast<LPARAM>(scan) << 16) | (3LL << 30));
}

bool FindMessageBox(const UiApp& app, MessageBoxView& view) {
    BoxSearch search{app.process.dwProcessId, app.dialog, nullptr};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) {
        return false;
    }
    view.box = search.found;
    view.caption = WindowText(search.found);
    view.text.clear();
    EnumChildWindows(search.found, LongestStaticText, reinterpret_cast<LPARAM>(&view.text));
    // Message boxes show line breaks as typed, but some versions store them as \r\n.
    std::string plain;
    for (char c : view.text) {
        if (c != '\r') {
            plain += c;
        }
    }
    view.text = plain;
    return true;
}

bool WaitForMessageBox(const UiApp& app, MessageBoxView& view, unsigned timeoutMs) {
    return WaitUntil([&] { return FindMessageBox(app, view); }, timeoutMs);
}

bool DismissMessageBox(const MessageBoxView& view, unsigned timeoutMs) {
    PostMessageW(view.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(view.box, IDOK)));
    return WaitUntil([&] { return !IsWindow(view.box) || !IsWindowVisible(view.box); }, timeoutMs);
}

std::vector<TranscriptEvent> ReadTranscript(const UiApp& app) {
    std::vector<TranscriptEvent> events;
    std::string content = ReadWholeFile(app.transcriptPath);
    // A line still being written is left for the next read.
    content.resize(content.rfind('\n') == std::string::npos ? 0 : content.rfind('\n') + 1);
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const size_t space = line.find(' ');
        if (space == std::string::npos) {
            continue;
        }
        TranscriptEvent event;
        event.ms = std::atof(line.substr(0, space).c_str());
        event.event = line.substr(space + 1);
        events.push_back(event);
    }
    return events;
}

std::vector<TranscriptEvent> TranscriptEvents(const UiApp& app, const std::string& prefix) {
    std::vector<TranscriptEvent> matching;
    for (const TranscriptEvent& event : ReadTranscript(app)) {
        if (event.event.compare(0, prefix.size(), prefix) == 0) {
            matching.push_back(event);
        }
    }
    return matching;
}

bool WaitForTranscript(const UiApp& app, const std::string& prefix, size_t count,
                       unsigned timeoutMs) {
    return WaitUntil([&] { return TranscriptEvents(app, prefix).size() >= count; }, timeoutMs);
}
