// The update worker thread against the stand-in unit: real ports, replies on the driver's thread,
// real pauses. The one full update of the Wine suite, as a benchmark, and stray replies that
// must not cut a pause short. What it posts, and its waits and faults, have their rows natively
// in virtual time and in the window's table.
#include "tests/standin/stand_in.h"
#include <algorithm>
#include <gtest/gtest.h>
#include "firmware/update_sequence.h"
#include "firmware/update_worker.h"
#include "midi/pause.h"
#include "midi/port_link.h"

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
// The worker's boxes are modal; a failed run's is answered at once rather than left waiting.
decltype(&MessageBoxA) __imp_MessageBoxA = [](HWND, LPCSTR, LPCSTR, UINT) { return IDOK; };
decltype(&PostMessageA) __imp_PostMessageA = Post;
}

// The image the program ships, from this test's resources, where it lies as in the program's.
static FirmwareImage ShippedImage() {
    HRSRC found = FindResourceA(nullptr, "FirmwareFile", "BINTYPE");
    const void* bytes = found ? LockResource(LoadResource(nullptr, found)) : nullptr;
    return MakeFirmwareImage(static_cast<const uint8_t*>(bytes),
                             found ? SizeofResource(nullptr, found) : 0);
}

struct WorkerRun {
    int status = 0, records = 0; // the last status posted, and how many progress values came
    double wallMs = 0;           // from the start until done
};

// Opens the unit's ports as the window does and runs the worker until done, or two minutes; with
// strays, a reply no wait awaits comes about every 20 ms.
static WorkerRun RunWorker(const FirmwareImage& image, const StandIn* strays = nullptr) {
    WorkerRun run;
    HWND window =
        CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
    SetUpdateTarget(window, &image);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    bool running = OpenOutputPort(1) == 0 &&
                   OpenInputPort(static_cast<unsigned>(FindInputForOutput(1))) == 0 &&
                   StartUpdateWorker() == 0;
    for (const ULONGLONG end = GetTickCount64() + 120000; running && GetTickCount64() < end;) {
        const uint8_t stray[] = {0xF0, 0x2C, 0x4D, 0x70, 0xF7};
        (void)(strays && strays->api.inject(stray, sizeof stray, 0));
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            continue;
        }
        const unsigned command = msg.message == WM_COMMAND ? LOWORD(msg.wParam) : 0;
        run.records += command == CMD_UPDATE_PROGRESS;
        run.status = command == CMD_UPDATE_STATUS ? int(msg.lParam) : run.status;
        running = command != CMD_UPDATE_DONE;
        if (command == 0 && msg.message != WM_CLOSE) { // a failure's close is not obeyed here
            DispatchMessageA(&msg);
        }
    }
    run.wallMs = MsSince(start);
    CloseInputPort();
    CloseOutputPort();
    DestroyWindow(window);
    return run;
}

TEST(UpdateWorker, UpdatesTheUnitAndPrintsItsFigures) {
    StandIn sim;
    ASSERT_TRUE(sim.Configure("update;delay=2"));
    const WorkerRun run = RunWorker(ShippedImage());
    EXPECT_EQ(run.status, UPDATE_SUCCEEDED);
    EXPECT_EQ(run.records, 2357);
    // From the transcript's times: how long the worker takes from the unit's acceptance to the
    // next record, and the time per record against the unit's own.
    std::vector<double> reactions, records;
    double accepted = -1;
    for (const auto& [at, event] : sim.Timed()) {
        if (event.rfind("rx F0 2C 4D 30", 0) == 0) {
            (void)(accepted >= 0 && (reactions.push_back(at - accepted), true));
            records.push_back(at);
        }
        accepted = event.rfind("tx F0 2C 4D 40", 0) == 0 ? at : -1;
    }
    std::sort(reactions.begin(), reactions.end());
    ASSERT_GT(reactions.size(), 1u);
    const double perRecord = (records.back() - records.front()) / double(records.size() - 1);
    printf("[ figures  ] full update at a 2 ms unit: %.2f s, the worker at %.1f%% of one core; "
           "acceptance to next record median %.3f ms, 99th percentile %.3f ms; %.3f ms per "
           "record, %.3f x the unit's 2 ms\n",
           run.wallMs / 1000, workerCpuMs * 100 / run.wallMs, reactions[reactions.size() / 2],
           reactions[reactions.size() * 99 / 100], perRecord, perRecord / 2);
}

// A unit too late amid stray replies: the handshake gives up only after all its pauses. Nor
// does a pause without a wake event (the send's wait for its completion) end early.
TEST(UpdateWorker, StrayRepliesCutNoPauseShort) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    EXPECT_FALSE(PauseUntil(
        50, [](const void*) { return false; }, nullptr, nullptr));
    EXPECT_GE(MsSince(start), 50.0);
    StandIn sim;
    ASSERT_TRUE(sim.Configure("update;delay=1000"));
    const WorkerRun run = RunWorker(ShippedImage(), &sim);
    EXPECT_EQ(run.status, UPDATE_TIMEOUT);
    EXPECT_GE(run.wallMs, HANDSHAKE_PAUSES * HANDSHAKE_PAUSE_MS);
}
