#include "tests/ui/ui_harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "ui/ids.h"

namespace {

std::string Narrow(const std::wstring& text) {
    std::string out(text.size() * 4, '\0');
    out.resize(static_cast<size_t>(
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0],
                            static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}

struct DialogSearch {
    DWORD pid;
    std::vector<HWND> found;
};

// Every shown dialog-class window of the program: its main window and its message boxes.
std::vector<HWND> DialogsOf(const UiApp& app) {
    DialogSearch search{app.process.dwProcessId, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<DialogSearch*>(param);
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (pid == s->pid && std::wstring(name) == L"#32770" && IsWindowVisible(window)) {
                s->found.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND PortList(const UiApp& app) {
    return Control(app, IDC_PORT_LIST);
}

} // namespace

bool WaitUntil(const std::function<bool()>& condition, unsigned timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

bool StartApp(UiApp& app, const std::string& scenario, const wchar_t* program, bool waitForWindow) {
    StopApp(app);
    app = UiApp{};
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    static unsigned serial = 0;
    app.transcriptPath = std::string(folder) + "tavi-ui-" + std::to_string(GetCurrentProcessId()) +
                         "-" + std::to_string(++serial) + ".log";
    DeleteFileA(app.transcriptPath.c_str());
    // The child inherits the environment; the stand-in reads both names once, when loaded.
    SetEnvironmentVariableA("TAVI_SIM", scenario.c_str());
    SetEnvironmentVariableA("TAVI_SIM_LOG", app.transcriptPath.c_str());

    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + program;
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &app.process)) {
        std::fprintf(stderr, "cannot start %s: error %lu\n", Narrow(path).c_str(), GetLastError());
        return false;
    }
    if (waitForWindow && !WaitForMainWindow(app)) {
        StopApp(app);
        return false;
    }
    return true;
}

bool WaitForMainWindow(UiApp& app) {
    WaitForInputIdle(app.process.hProcess, UI_WAIT_MS);
    const bool shown = WaitUntil([&] {
        for (HWND window : DialogsOf(app)) {
            if (WindowText(window) == " tavi setup 2.1") {
                app.dialog = window;
            }
        }
        return app.dialog != nullptr;
    });
    if (!shown) {
        std::fprintf(stderr, "the main window did not appear\n");
    }
    return shown;
}

bool WaitForExit(UiApp& app, unsigned timeoutMs, DWORD* exitCode) {
    if (app.process.hProcess == nullptr) {
        return true;
    }
    const bool ended = WaitForSingleObject(app.process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (ended && exitCode != nullptr) {
        GetExitCodeProcess(app.process.hProcess, exitCode);
    }
    return ended;
}

void StopApp(UiApp& app) {
    if (app.process.hProcess == nullptr) {
        return;
    }
    // Ended outright: a closing window costs two seconds under Wine without a window manager,
    // and the tests that are about closing wait for the exit first.
    TerminateProcess(app.process.hProcess, 1);
    WaitForSingleObject(app.process.hProcess, 5000);
    CloseHandle(app.process.hThread);
    CloseHandle(app.process.hProcess);
    app.process = {};
    app.dialog = nullptr;
}

HWND Control(const UiApp& app, int id) {
    return GetDlgItem(app.dialog, id);
}

LRESULT Ask(const UiApp& app, int id, UINT message) {
    return SendMessageW(Control(app, id), message, 0, 0);
}

std::string WindowText(HWND window) {
    // The wide message is marshalled across processes correctly; the narrow one is not always.
    std::wstring text(static_cast<size_t>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0)) + 1, 0);
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

std::vector<std::string> PortListEntries(const UiApp& app) {
    std::vector<std::string> entries;
    const LRESULT count = SendMessageW(PortList(app), CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(PortList(app), CB_GETLBTEXTLEN, i, 0);
        std::wstring text(length > 0 ? static_cast<size_t>(length) + 1 : 1, L'\0');
        const LRESULT got =
            SendMessageW(PortList(app), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(got > 0 ? static_cast<size_t>(got) : 0);
        entries.push_back(Narrow(text));
    }
    return entries;
}

bool PortListOpen(const UiApp& app) {
    return SendMessageW(PortList(app), CB_GETDROPPEDSTATE, 0, 0) != 0;
}

bool OpenPortList(const UiApp& app, bool wait) {
    // Posted, not sent: a sent message would wait for a message box the program shows.
    PostMessageW(PortList(app), CB_SHOWDROPDOWN, TRUE, 0);
    return !wait || WaitUntil([&] { return PortListOpen(app); });
}

bool ClosePortList(const UiApp& app, int choice) {
    if (choice >= 0) {
        SendMessageW(PortList(app), CB_SETCURSEL, static_cast<WPARAM>(choice), 0);
    }
    // Posted: the close-up opens the ports, sends seven messages 50 ms apart, may show a box.
    PostMessageW(PortList(app), CB_SHOWDROPDOWN, FALSE, 0);
    return WaitUntil([&] { return !PortListOpen(app); });
}

bool PickPort(const UiApp& app, const std::string& name) {
    if (!OpenPortList(app)) {
        return false;
    }
    const std::vector<std::string> entries = PortListEntries(app);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i] == name) {
            return ClosePortList(app, static_cast<int>(i));
        }
    }
    ClosePortList(app);
    return false;
}

void Click(const UiApp& app, int id) {
    PostMessageW(Control(app, id), BM_CLICK, 0, 0);
}

void PressKey(const UiApp& app, WPARAM key) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(app.process.dwThreadId, &info);
    HWND target = info.hwndFocus != nullptr ? info.hwndFocus : app.dialog;
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC))
                        << 16;
    PostMessageW(target, WM_KEYDOWN, key, 1 | scan);
    PostMessageW(target, WM_KEYUP, key, 1 | scan | (3LL << 30));
}

bool WaitForMessageBox(const UiApp& app, MessageBoxView& view, unsigned timeoutMs) {
    return WaitUntil(
        [&] {
            for (HWND window : DialogsOf(app)) {
                if (window == app.dialog) {
                    continue;
                }
                view = {window, WindowText(window), {}};
                // The text is the longest static; some versions store its line breaks as \r\n.
                for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
                    std::string text = WindowText(c);
                    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
                    wchar_t name[16] = {};
                    GetClassNameW(c, name, 16);
                    if (lstrcmpiW(name, L"Static") == 0 && text.size() > view.text.size()) {
                        view.text = text;
                    }
                }
                return true;
            }
            return false;
        },
        timeoutMs);
}

bool DismissMessageBox(const MessageBoxView& view) {
    PostMessageW(view.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(view.box, IDOK)));
    return WaitUntil([&] { return !IsWindow(view.box) || !IsWindowVisible(view.box); });
}

std::vector<TranscriptEvent> TranscriptEvents(const UiApp& app, const std::string& prefix) {
    std::ifstream file(app.transcriptPath, std::ios::binary);
    std::vector<TranscriptEvent> events;
    std::string line;
    // A line still being written (no end of line yet) is left for the next read.
    while (std::getline(file, line) && !file.eof()) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const size_t space = line.find(' ');
        if (space != std::string::npos && line.compare(space + 1, prefix.size(), prefix) == 0) {
            events.push_back({std::atof(line.c_str()), line.substr(space + 1)});
        }
    }
    return events;
}

bool WaitForTranscript(const UiApp& app, const std::string& prefix, size_t count,
                       unsigned timeoutMs) {
    return WaitUntil([&] { return TranscriptEvents(app, prefix).size() >= count; }, timeoutMs);
}
