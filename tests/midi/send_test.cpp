// Sending one SysEx message: nothing without an output, a bounded wait for the driver, and a
// lost unit or a driver that keeps the buffer closing both ports.
#include "tests/midi/sim_fixture.h"

#include "protocol/messages.h"

#include <algorithm>

namespace {

const uint8_t kStatusRequest[] = {0xF0, 0x2C, 0x4D, 0x10, 0xF7};

using Send = PortLinkTest;

TEST_F(Send, WithNoOutputOpenNothingIsSent) {
    Configure("normal");
    SendSysEx(kStatusRequest, sizeof kStatusRequest);
    EXPECT_TRUE(Events().empty()) << Transcript();
}

TEST_F(Send, TheUnitReceivesTheBytesAndItsReplyIsParsed) {
    Configure("normal");
    OpenUnitPorts();
    sim.clearTranscript();
    SendSysEx(kStatusRequest, sizeof kStatusRequest);
    EXPECT_EQ(IndexOf("rx F0 2C 4D 10 F7"), 0) << Transcript();
    ASSERT_EQ(WaitForSingleObject(ReplyStoredEvent(), 3000), WAIT_OBJECT_0);
    EXPECT_EQ(LoadReplyCode(TheDevice), 0x21);
    EXPECT_EQ(TheDevice.DeviceMode.load(), Normal);
    EXPECT_EQ(TheDevice.FirmwareVersion[0].load(), '2');
    EXPECT_EQ(TheDevice.FirmwareVersion[1].load(), '1');
    EXPECT_TRUE(PortsOpen());
}

// Unasked, foreign, truncated and oversized messages and stray short messages ahead of every
// reply: each arrives in its own time, so the real reply behind them still finds a buffer and
// is the one parsed.
TEST_F(Send, EveryReplyBehindNoiseIsParsed) {
    Configure("normal;noise=1");
    OpenUnitPorts();
    for (int i = 0; i < 10; ++i) {
        ClearReplyCode(TheDevice);
        SendSysEx(kStatusRequest, sizeof kStatusRequest);
        ASSERT_TRUE(WaitUntil([] { return LoadReplyCode(TheDevice) == 0x21; }))
            << "request " << i << "\n"
            << Transcript();
    }
    EXPECT_EQ(TheDevice.FirmwareVersion[0].load(), '2');
    EXPECT_EQ(TheDevice.FirmwareVersion[1].load(), '1');
}

// The unit vanishes between two sends; the next send is answered 5 or 6 by the driver.
struct UnplugCase {
    const char* scenario;
    const char* refusal;
};

class SendToALostUnit : public PortLinkTest, public ::testing::WithParamInterface<UnplugCase> {};

TEST_P(SendToALostUnit, ClosesTheInputAndThenTheOutput) {
    Configure(GetParam().scenario);
    OpenUnitPorts();
    sim.unplug();
    sim.clearTranscript();
    SendSysEx(kStatusRequest, sizeof kStatusRequest);
    EXPECT_FALSE(PortsOpen());
    EXPECT_EQ(IndexOf(GetParam().refusal), 0) << Transcript();
    const int closeIn = IndexOf("close in");
    const int closeOut = IndexOf("close out");
    ASSERT_GE(closeIn, 0) << Transcript();
    EXPECT_GT(closeOut, closeIn) << Transcript();
    // Once the link is down a further send touches nothing.
    sim.clearTranscript();
    SendSysEx(kStatusRequest, sizeof kStatusRequest);
    EXPECT_TRUE(Events().empty()) << Transcript();
}

INSTANTIATE_TEST_SUITE_P(UnplugCodes, SendToALostUnit,
                         ::testing::Values(UnplugCase{"unplug_code=6", "refused midiOutLongMsg 6"},
                                           UnplugCase{"unplug_code=5", "refused midiOutLongMsg 5"},
                                           UnplugCase{"unplug_code=6;keep_ports=1",
                                                      "refused midiOutLongMsg 6"}));

TEST_F(Send, FourRefusedReleasesAreRiddenOut) {
    Configure("refuse_release=4");
    OpenUnitPorts();
    sim.clearTranscript();
    SendSysEx(kStatusRequest, sizeof kStatusRequest);
    EXPECT_EQ(CountOf("refused midiOutUnprepareHeader 65"), 4) << Transcript();
    EXPECT_TRUE(PortsOpen());
    EXPECT_EQ(CountOf("close"), 0) << Transcript();
}

TEST_F(Send, FiveRefusedReleasesCloseBothPorts) {
    Configure("refuse_release=5");
    OpenUnitPorts();
    sim.clearTranscript();
    SendSysEx(kStatusRequest, sizeof kStatusRequest);
    EXPECT_EQ(CountOf("refused midiOutUnprepareHeader 65"), 5) << Transcript();
    EXPECT_FALSE(PortsOpen());
    const int closeIn = IndexOf("close in");
    ASSERT_GE(closeIn, 0) << Transcript();
    EXPECT_GT(IndexOf("close out"), closeIn) << Transcript();
}

TEST_F(Send, ARefusalOnALaterSendCountsOnlyForThatSend) {
    Configure("refuse_release=5;refuse_release_at=1");
    OpenUnitPorts();
    SendSysEx(kStatusRequest, sizeof kStatusRequest);
    EXPECT_TRUE(PortsOpen());
    SendSysEx(kStatusRequest, sizeof kStatusRequest);
    EXPECT_FALSE(PortsOpen());
}

// The driver finishes 230 ms after taking the message, inside the 250 ms the send waits.
// Releasing without waiting would be refused at 0, 50, .. 200 ms: five refusals, link lost.
TEST_F(Send, ACompletionWithinTheBoundIsWaitedForBeforeTheRelease) {
    Configure("async_done=230");
    OpenUnitPorts();
    sim.clearTranscript();
    SendSysEx(kStatusRequest, sizeof kStatusRequest);
    EXPECT_GE(IndexOf("done out"), 0) << Transcript();
    EXPECT_TRUE(PortsOpen()) << Transcript();
}

TEST_F(Send, ADriverThatNeverCompletesCostsAtMostAboutHalfASecond) {
    Configure("async_done=5000");
    OpenUnitPorts();
    sim.clearTranscript();
    const ULONGLONG start = GetTickCount64();
    SendSysEx(kStatusRequest, sizeof kStatusRequest);
    const ULONGLONG elapsed = GetTickCount64() - start;
    // The driver refuses the release while the buffer is in flight; five refusals mean lost.
    EXPECT_FALSE(PortsOpen());
    EXPECT_EQ(IndexOf("done out"), -1) << Transcript();
    // 250 ms for completion and 250 ms of refused releases; the close adds its own bound.
    EXPECT_GE(elapsed, 450u);
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
