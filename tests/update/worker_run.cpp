#include "worker_run.h"

#include <mmsystem.h>

#include <cstring>
#include <set>
#include <utility>

#include "firmware/update_worker.h"
#include "midi/port_link.h"
#include "firmware/update_worker.h"
#include "ui/ids.h"

namespace {

WorkerRun* current = nullptr;
LARGE_INTEGER frequency;
LARGE_INTEGER startCount;

uint64_t MicrosecondsSinceStart() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>((now.QuadPart - startCount.QuadPart) * 1000000 /
                                 frequency.QuadPart);
}

void Record(EventKind kind, int value, const std::string& text = "",
            const std::string& caption = "") {
    if (!current) {
        return;
    }
    if (current->done) {
        ++current->eventsAfterDone;
    }
    current->events.push_back({kind, value, text, caption, MicrosecondsSinceStart()});
}

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const int value = static_cast<int>(lParam);
    if (message == WM_COMMAND && current && LOWORD(wParam) == CMD_UPDATE_STATUS) {
        Record(EventKind::Status, value);
    } else if (message == WM_COMMAND && current && LOWORD(wParam) == CMD_UPDATE_PROGRESS) {
        Record(EventKind::Progress, value);
    } else if (message == WM_COMMAND && current && LOWORD(wParam) == CMD_UPDATE_DONE) {
        Record(EventKind::Done, value);
        current->done = true;
        current->seconds = static_cast<double>(MicrosecondsSinceStart()) / 1e6;
    } else if (message == WM_CLOSE) {
        Record(EventKind::Close, 0); // recorded, not obeyed: the test owns the window
    } else {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return 0;
}

HWND CreateTargetWindow() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = TargetProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "UpdateWorkerTestTarget";
        RegisterClassA(&wc);
        registered = true;
    }
    // A hidden top-level window: it can own the worker's message boxes.
    return CreateWindowA("UpdateWorkerTestTarget", "target", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                         nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

bool ClassIs(HWND window, const char* name) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    return _stricmp(className, name) == 0;
}

// A visible dialog of this process not seen before: a box the worker shows.
BOOL CALLBACK FindBox(HWND window, LPARAM param) {
    auto& search = *reinterpret_cast<std::pair<std::set<HWND>*, HWND>*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !ClassIs(window, "#32770") ||
        !IsWindowVisible(window) || search.first->count(window) != 0) {
        return TRUE;
    }
    search.second = window;
    return FALSE;
}

BOOL CALLBACK FindBoxText(HWND child, LPARAM param) {
    char buffer[256] = {};
    if (!ClassIs(child, "Static") || GetWindowTextA(child, buffer, sizeof buffer) == 0) {
        return TRUE;
    }
    *reinterpret_cast<std::string*>(param) = buffer;
    return FALSE;
}

// Reads and dismisses a message box the worker shows, if there is one now.
void AnswerMessageBox(std::set<HWND>& seen) {
    std::pair<std::set<HWND>*, HWND> search{&seen, nullptr};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    const HWND box = search.second;
    if (!box) {
        return;
    }
    seen.insert(box);
    char caption[64] = {};
    GetWindowTextA(box, caption, sizeof caption);
    std::string text;
    EnumChildWindows(box, FindBoxText, reinterpret_cast<LPARAM>(&text));
    Record(EventKind::Message, 0, text, caption);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
}

// Looking for a box walks every top-level window, which costs the worker's own system calls
// time under Wine; a person answers a box after some tens of milliseconds anyway.
constexpr ULONGLONG kBoxLookMs = 20;

void PumpFor(DWORD ms, std::set<HWND>& seen, bool untilDone) {
    const ULONGLONG end = GetTickCount64() + ms;
    ULONGLONG nextLook = 0;
    while (GetTickCount64() < end && !(untilDone && current->done)) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (GetTickCount64() >= nextLook) {
            AnswerMessageBox(seen);
            nextLook = GetTickCount64() + kBoxLookMs;
        }
    }
}

} // namespace

int ConfigureUnit(SimApi& api, const char* scenario) {
    if (SimLoadApi(&api) != 0) {
        return -1;
    }
    return api.configure(scenario);
}

int OpenUnitPorts() {
    const unsigned outputs = midiOutGetNumDevs();
    for (unsigned output = 0; output < outputs; ++output) {
        MIDIOUTCAPSA caps{};
        if (midiOutGetDevCapsA(output, &caps, sizeof caps) != MMSYSERR_NOERROR ||
            strncmp(caps.szPname, "tavi", 4) != 0) {
            continue;
        }
        const int input = FindInputForOutput(output);
        if (input < 0 || OpenOutputPort(output) != 0 ||
            OpenInputPort(static_cast<unsigned>(input)) != 0) {
            CloseUnitPorts(); // closing what is not open does nothing
            return -1;
        }
        return 0;
    }
    return -1;
}

void CloseUnitPorts() {
    CloseInputPort();
    CloseOutputPort();
}

void RunWorkerToEnd(const FirmwareImage* image, DWORD boundMs, WorkerRun& run) {
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&startCount);
    current = &run;
    HWND window = CreateTargetWindow();
    std::set<HWND> seen;
    SetUpdateTarget(window, image);
    run.started = StartUpdateWorker();
    if (run.started == 0) {
        PumpFor(boundMs, seen, true);
        // Whatever the worker might still post after done would arrive by now.
        PumpFor(200, seen, false);
    }
    current = nullptr;
    DestroyWindow(window);
}
