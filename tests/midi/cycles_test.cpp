// Many open/send/close cycles leave no handles or memory behind.
#include "tests/midi/sim_fixture.h"

#include <cstdio>

namespace {

// Wine answers 0 for the process's private bytes and handle count: the committed private pages
// are summed and, where needed, the valid handle values counted instead.
size_t PrivateBytes() {
    size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* address = nullptr;
         VirtualQuery(address, &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            total += region.RegionSize;
        }
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address) {
            break;
        }
        address = next;
    }
    return total;
}

unsigned long HandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) {
        return count;
    }
    unsigned long valid = 0;
    for (uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        valid += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0;
    }
    return valid;
}

using Cycles = PortLinkTest;

TEST_F(Cycles, AThousandOpenSendCloseCyclesLeaveNothingBehind) {
    Configure("normal");
    auto cycle = [&](int i) {
        ASSERT_EQ(OpenOutputPort(1), 0) << "cycle " << i;
        ASSERT_EQ(OpenInputPort(1), 0) << "cycle " << i;
        ClearReplyCode(TheDevice);
        SendSysEx(kStatusRequest, sizeof kStatusRequest);
        ASSERT_TRUE(WaitUntil([] { return LoadReplyCode(TheDevice) == 0x21; })) << "cycle " << i;
        CloseInputPort();
        CloseOutputPort();
        ASSERT_FALSE(PortsOpen());
        sim.clearTranscript(); // the stand-in keeps its transcript in memory
    };
    for (int i = 0; i < 50; ++i) { // warm-up: first-use allocations of every layer
        cycle(i);
    }
    const unsigned long handlesBefore = HandleCount();
    const size_t bytesBefore = PrivateBytes();
    for (int i = 0; i < 1000; ++i) {
        cycle(i);
        if (HasFatalFailure()) {
            return;
        }
    }
    const unsigned long handlesAfter = HandleCount();
    const size_t bytesAfter = PrivateBytes();
    printf("[ figures  ] handles %lu -> %lu, private bytes %zu -> %zu\n", handlesBefore,
           handlesAfter, bytesBefore, bytesAfter);
    EXPECT_LE(handlesAfter, handlesBefore + 2);
    // A leak of one receive buffer or header per cycle would show as 500 KB or more.
    EXPECT_LT(bytesAfter, bytesBefore + 256 * 1024);
}

} // namespace
