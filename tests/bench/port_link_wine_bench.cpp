// Figures, never a verdict: 1,000 cycles of the port link opening the unit's ports, one
// request and its reply, and closing; the process's handles and private memory, and the time.
#include <cstdio>
#include "midi/port_link.h"
#include "protocol/device_state.h"
#include "tests/standin/stand_in.h"

// Wine answers 0 for a process's handle count and private bytes: the valid handle values are
// counted and the committed private pages summed instead.
static void PrintFootprint(const char* when) {
    unsigned handles = 0;
    size_t bytes = 0;
    for (uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        handles += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0;
    }
    MEMORY_BASIC_INFORMATION r;
    for (const char* at = nullptr; VirtualQuery(at, &r, sizeof r) &&
                                   at < static_cast<const char*>(r.BaseAddress) + r.RegionSize;
         at = static_cast<const char*>(r.BaseAddress) + r.RegionSize) {
        bytes += r.State == MEM_COMMIT && r.Type == MEM_PRIVATE ? r.RegionSize : 0;
    }
    printf("%s: %u handles, %zu private bytes\n", when, handles, bytes);
}

int main() {
    StandIn sim;
    int failed = !sim.Configure("normal");
    LARGE_INTEGER start;
    for (int i = 0; i < 1050; ++i) {
        if (i == 50) { // past the first-use allocations of every layer
            PrintFootprint("after 50 open/request/close cycles");
            QueryPerformanceCounter(&start);
        }
        ClearReplyCode(TheDevice);
        failed += OpenOutputPort(1) != 0 || OpenInputPort(1) != 0;
        SendSysEx(MessageTable[MSG_STATUS_REQUEST].bytes, MessageTable[MSG_STATUS_REQUEST].length);
        failed += !WaitUntil([] { return LoadReplyCode(TheDevice) == REPLY_RUNNING; });
        CloseInputPort();
        CloseOutputPort();
        sim.api.clearTranscript(); // the stand-in keeps it in memory
    }
    PrintFootprint("after 1,000 more");
    printf("%.3f ms a cycle, %d failed\n", MsSince(start) / 1000, failed);
    return failed == 0 ? 0 : 1;
}
