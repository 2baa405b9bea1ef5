// The update worker thread under Wine against the stand-in unit: real ports, replies on the
// driver's thread, and what the worker posts to its window and the boxes it shows, in order.
#include "tests/standin/stand_in.h"
#include <algorithm>
#include <sstream>
#include <gtest/gtest.h>
#include "firmware/update_sequence.h"
#include "firmware/update_worker.h"
#include "midi/port_link.h"

// The worker's boxes are modal; here each is answered at once and passed to the window's
// queue behind what the worker posted before it. (The window tests show the real ones.)
static int WINAPI ShowBox(HWND window, LPCSTR text, LPCSTR caption, UINT) {
    PostMessageA(window, WM_APP, reinterpret_cast<WPARAM>(text), reinterpret_cast<LPARAM>(caption));
    return IDOK;
}
// Each post notes the processor time its thread (the worker's, but for the test's boxes) has
// used so far; the worker posts after every record, and done last.
static double workerCpuMs = 0;
static BOOL WINAPI Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    FILETIME t[4];
    GetThreadTimes(GetCurrentThread(), &t[0], &t[1], &t[2], &t[3]);
    workerCpuMs = (double(t[2].dwLowDateTime) + t[3].dwLowDateTime) / 1e4; // kernel + user
    static const auto post = reinterpret_cast<decltype(&PostMessageA)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "PostMessageA")));
    return post(window, message, wParam, lParam);
}
// The worker's calls of MessageBoxA and PostMessageA go through these pointers, not user32's.
extern "C" {
decltype(&MessageBoxA) __imp_MessageBoxA = ShowBox;
decltype(&PostMessageA) __imp_PostMessageA = Post;
}

// The image the program ships, from this test's resources, where it lies as in the program's.
static FirmwareImage ShippedImage() {
    HRSRC found = FindResourceA(nullptr, "FirmwareFile", "BINTYPE");
    const void* bytes = found ? LockResource(LoadResource(nullptr, found)) : nullptr;
    return MakeFirmwareImage(static_cast<const uint8_t*>(bytes),
                             found ? SizeofResource(nullptr, found) : 0);
}

// Figures of a full update, from the transcript's times: how long the worker takes from the
// unit's acceptance to the next record, and the time per record against the unit's own.
static void PrintUpdateFigures(const StandIn& sim, unsigned unitMs, double wallMs, double cpuMs) {
    std::string text(size_t(sim.api.readTranscript(nullptr, 0)) + 1, '\0');
    sim.api.readTranscript(&text[0], int(text.size()));
    std::vector<double> reactions, records;
    double accepted = -1;
    for (std::istringstream lines(text.c_str()); std::getline(lines, text);) {
        const double at = std::atof(text.c_str());
        const std::string event = text.substr(text.find(' ') + 1);
        if (event.rfind("rx F0 2C 4D 30", 0) == 0) {
            (void)(accepted >= 0 && (reactions.push_back(at - accepted), true));
            records.push_back(at);
        }
        accepted = event.rfind("tx F0 2C 4D 40", 0) == 0 ? at : -1;
    }
    std::sort(reactions.begin(), reactions.end());
    if (reactions.empty()) {
        return;
    }
    const double perRecord = (records.back() - records.front()) / double(records.size() - 1);
    printf("[ figures  ] full update at a %u ms unit: %.2f s, the worker at %.1f%% of one core; "
           "acceptance to next record median %.3f ms, 99th percentile %.3f ms; %.3f ms per "
           "record, %.3f x the unit's %u ms\n",
           unitMs, wallMs / 1000, cpuMs * 100 / wallMs, reactions[reactions.size() / 2],
           reactions[reactions.size() * 99 / 100], perRecord, perRecord / unitMs, unitMs);
}

struct WorkerRun {
    std::string posted; // "status N", "progress", "Caption: text" for a box, "close", "done"
    std::vector<int> progress;
    double timeoutMs = 0;         // from the start until the timeout status, if one came
    double wallMs = 0, cpuMs = 0; // from the start until done
};

// Opens the unit's ports as the window does and runs the worker until done or boundMs; with
// strays, a reply no wait awaits comes about every 20 ms.
static WorkerRun RunWorker(const FirmwareImage& image, DWORD boundMs, const StandIn* strays) {
    WorkerRun run;
    HWND window =
        CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
    SetUpdateTarget(window, &image);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    auto note = [&](const std::string& e) { run.posted += (run.posted.empty() ? "" : ", ") + e; };
    bool running = OpenOutputPort(1) == 0 &&
                   OpenInputPort(static_cast<unsigned>(FindInputForOutput(1))) == 0 &&
                   StartUpdateWorker() == 0;
    for (const ULONGLONG end = GetTickCount64() + boundMs; running && GetTickCount64() < end;) {
        const uint8_t stray[] = {0xF0, 0x2C, 0x4D, 0x70, 0xF7};
        (void)(strays && strays->api.inject(stray, sizeof stray, 0));
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            continue;
        }
        const unsigned command = msg.message == WM_COMMAND ? LOWORD(msg.wParam) : 0;
        const int value = static_cast<int>(msg.lParam);
        if (msg.message == WM_APP) {
            note(std::string(reinterpret_cast<LPCSTR>(msg.lParam)) + ": " +
                 reinterpret_cast<LPCSTR>(msg.wParam));
        } else if (msg.message == WM_CLOSE) {
            note("close"); // noted, not obeyed: the test owns the window
        } else if (command == CMD_UPDATE_PROGRESS) {
            if (run.posted.rfind("progress") + 8 != run.posted.size()) { // once for a stretch
                note("progress");
            }
            run.progress.push_back(value);
        } else if (command == CMD_UPDATE_STATUS) {
            note("status " + std::to_string(value));
            run.timeoutMs = value == UPDATE_TIMEOUT ? MsSince(start) : run.timeoutMs;
        } else if (command == CMD_UPDATE_DONE) {
            note("done");
            running = false;
            run.wallMs = MsSince(start);
            run.cpuMs = workerCpuMs;
        } else {
            DispatchMessageA(&msg);
        }
    }
    CloseInputPort();
    CloseOutputPort();
    DestroyWindow(window);
    return run;
}

TEST(UpdateWorker, PostsItsCommandsInOrderWithDoneLast) {
    const struct {
        const char* scenario;
        DWORD boundMs;
        unsigned records; // each answered by its progress
        const char* posted;
        bool strays = false;
    } cases[] = {
        // The one full update of the Wine suite, with a unit that takes 2 ms for each answer.
        {"update;delay=2", 120000, 2357, "status 1, status 2, status 3, progress, status 4, done"},
        // Nothing is sent while erasing: the wait itself sees the unit gone, well within 30 s.
        {"update;erase=2000;unplug_erase=1", 30000, 0,
         "status 1, status 2, status 6, Warning: Programming failed, close, done"},
        // Too late amid stray replies: the handshake gives up after all its pauses, none cut short.
        {"update;delay=1000", 30000, 0,
         "status 1, status 6, Warning: Programming failed, close, done", true},
    };
    for (const auto& c : cases) {
        StandIn sim;
        ASSERT_TRUE(sim.Configure(c.scenario));
        const WorkerRun run = RunWorker(ShippedImage(), c.boundMs, c.strays ? &sim : nullptr);
        EXPECT_EQ(run.posted, c.posted) << c.scenario;
        EXPECT_EQ(run.progress.size(), c.records) << c.scenario;
        EXPECT_TRUE(std::is_sorted(run.progress.begin(), run.progress.end()));
        EXPECT_TRUE(run.timeoutMs == 0 || run.timeoutMs >= HANDSHAKE_PAUSES * HANDSHAKE_PAUSE_MS);
        if (c.records > 0) {
            PrintUpdateFigures(sim, 2, run.wallMs, run.cpuMs);
        }
    }
}
