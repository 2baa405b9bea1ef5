// Sending one SysEx message: nothing without an output, a bounded wait for the driver, and a
// lost unit or a driver that keeps the buffer closing both ports.
#include <algorithm>

#include "midi/pause.h"
#include "tests/midi/sim_fixture.h"

namespace {

using Send = PortLinkTest;

// Unasked, foreign, truncated and oversized messages and stray short messages ahead of every
// reply: the real reply behind them still finds a buffer and is the one parsed.
TEST_F(Send, TheUnitGetsTheBytesOnlyWithAnOutputOpenAndEveryReplyBehindNoiseIsParsed) {
    Configure("normal;noise=1");
    SendSysEx(kStatusRequest, sizeof kStatusRequest);
    EXPECT_TRUE(Events().empty()) << Transcript();
    OpenUnitPorts();
    for (int i = 0; i < 10; ++i) {
        sim.clearTranscript();
        ClearReplyCode(TheDevice);
        SendSysEx(kStatusRequest, sizeof kStatusRequest);
        EXPECT_EQ(IndexOf("rx F0 2C 4D 10 F7"), 0) << Transcript();
        ASSERT_TRUE(WaitUntil([] { return LoadReplyCode(TheDevice) == 0x21; }))
            << "request " << i << "\n"
            << Transcript();
    }
    EXPECT_EQ(TheDevice.FirmwareVersion[0].load(), '2');
    EXPECT_EQ(TheDevice.FirmwareVersion[1].load(), '1');
    EXPECT_TRUE(PortsOpen());
}

// A unit gone before the send (the driver answers 5 or 6), or a driver refusing to release the
// buffer: four refusals are ridden out, five mean the link is lost.
TEST_F(Send, ALostUnitOrFiveRefusedReleasesCloseTheInputAndThenTheOutput) {
    const struct {
        const char* scenario;
        bool unplug;
        const char* refusal;
        int refusals;
        bool closes;
    } cases[] = {
        {"unplug_code=6", true, "refused midiOutLongMsg 6", 1, true},
        {"unplug_code=5", true, "refused midiOutLongMsg 5", 1, true},
        {"unplug_code=6;keep_ports=1", true, "refused midiOutLongMsg 6", 1, true},
        {"refuse_release=4", false, "refused midiOutUnprepareHeader 65", 4, false},
        {"refuse_release=5", false, "refused midiOutUnprepareHeader 65", 5, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        TearDown();
        Configure(c.scenario);
        OpenUnitPorts();
        if (c.unplug) {
            sim.unplug();
        }
        sim.clearTranscript();
        SendSysEx(kStatusRequest, sizeof kStatusRequest);
        EXPECT_EQ(CountOf(c.refusal), c.refusals) << Transcript();
        EXPECT_EQ(PortsOpen(), !c.closes);
        if (!c.closes) {
            EXPECT_EQ(CountOf("close"), 0) << Transcript();
            continue;
        }
        const int closeIn = IndexOf("close in");
        ASSERT_GE(closeIn, 0) << Transcript();
        EXPECT_GT(IndexOf("close out"), closeIn) << Transcript();
        // Once the link is down a further send touches nothing.
        sim.clearTranscript();
        SendSysEx(kStatusRequest, sizeof kStatusRequest);
        EXPECT_TRUE(Events().empty()) << Transcript();
    }
}

// Completion 230 ms after the driver took the message is inside the 250 ms the send waits;
// releasing without waiting would be refused at 0, 50, .. 200 ms: five refusals, link lost.
// A driver that never completes costs the wait and five refused releases, then the link.
TEST_F(Send, ACompletionWithinTheBoundIsWaitedForAndANeverCompletingOneIsBounded) {
    Configure("async_done=230");
    OpenUnitPorts();
    sim.clearTranscript();
    SendSysEx(kStatusRequest, sizeof kStatusRequest);
    EXPECT_GE(IndexOf("done out"), 0) << Transcript();
    EXPECT_TRUE(PortsOpen()) << Transcript();

    TearDown();
    Configure("async_done=5000");
    OpenUnitPorts();
    sim.clearTranscript();
    const ULONGLONG start = GetTickCount64();
    SendSysEx(kStatusRequest, sizeof kStatusRequest);
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_FALSE(PortsOpen());
    EXPECT_EQ(IndexOf("done out"), -1) << Transcript();
    EXPECT_GE(elapsed, 450u); // the close adds its own bound to the 500 ms
    EXPECT_LT(elapsed, 2500u);
}

TEST_F(Send, SendsFromTwoThreadsDoNotOverlap) {
    Configure("async_done=2");
    OpenUnitPorts();
    sim.clearTranscript();
    constexpr int kSendsPerThread = 40;
    auto sender = [](void*) -> DWORD {
        for (int i = 0; i < kSendsPerThread; ++i) {
            SendSysEx(kStatusRequest, sizeof kStatusRequest);
        }
        return 0;
    };
    HANDLE threads[2];
    for (HANDLE& thread : threads) {
        thread = CreateThread(nullptr, 0, sender, nullptr, 0, nullptr);
        ASSERT_NE(thread, nullptr);
    }
    ASSERT_EQ(WaitForMultipleObjects(2, threads, TRUE, 30000), WAIT_OBJECT_0);
    for (HANDLE thread : threads) {
        CloseHandle(thread);
    }
    // The driver completes each send 2 ms after it took it: with sends taken one at a time,
    // every message reaches the unit only after the previous one was done.
    int inFlight = 0;
    int mostInFlight = 0;
    for (const std::string& event : Events()) {
        if (event.compare(0, 5, "rx F0") == 0) {
            mostInFlight = std::max(mostInFlight, ++inFlight);
        } else if (event == "done out") {
            --inFlight;
        }
    }
    EXPECT_EQ(mostInFlight, 1) << Transcript();
    EXPECT_EQ(CountOf("rx F0 2C 4D 10 F7"), 2 * kSendsPerThread) << Transcript();
    EXPECT_EQ(CountOf("refused"), 0) << Transcript();
    EXPECT_TRUE(PortsOpen());
}

} // namespace

namespace {

// A pause lasts its length even when its wake event is missing or cannot be waited on, and it
// ends once its condition holds.
TEST(Pause, LastsItsLengthWithoutAWakeEventAndEndsWhenDone) {
    const auto never = [](const void*) { return false; };
    const auto always = [](const void*) { return true; };
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    for (HANDLE wake : {static_cast<HANDLE>(nullptr), reinterpret_cast<HANDLE>(0x7FF0)}) {
        QueryPerformanceCounter(&start);
        EXPECT_FALSE(PauseUntil(50, never, nullptr, wake));
        QueryPerformanceCounter(&end);
        EXPECT_GE((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart, 50);
    }
    EXPECT_TRUE(PauseUntil(50, always, nullptr, nullptr));
}

} // namespace
