// The receive path: replies into queued buffers in order, split, dropped, cut short, handed
// back by stop and reset, all on the stand-in's own thread.
#include "tests/standin/standin_fixture.h"

#include <cstdlib>
#include <sstream>

using Lines = std::vector<std::string>;

TEST_F(StandIn, RepliesFillQueuedBuffersInOrderOnTheDriverThread) {
    OpenUnitPair();
    recorder.rearm = true; // each buffer re-added at the back from the callback
    for (size_t i = 0; i < 3; ++i) {
        SendLong(kStatusRequest);
        ASSERT_TRUE(WaitUntil([&] { return LongSeen().size() == i + 1; })) << i;
        ASSERT_EQ(midiOutUnprepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(LongSeen(), (Lines{"A data F0 2C 4D 21 32 31 F7", "B data F0 2C 4D 21 32 31 F7",
                                 "A data F0 2C 4D 21 32 31 F7"}));
    EXPECT_TRUE(HasEvent("rx F0 2C 4D 10 F7"));
    EXPECT_TRUE(HasEvent("tx F0 2C 4D 21 32 31 F7"));
    std::lock_guard<std::mutex> hold(recorder.mutex);
    EXPECT_EQ(recorder.rearmResults, std::vector<MMRESULT>(3, MMSYSERR_NOERROR));
}

TEST_F(StandIn, SplitDroppedAndCutShortSysEx) {
    OpenUnitPair(4);
    SendLong(kStatusRequest); // longer than a buffer: split across both
    ASSERT_TRUE(WaitUntil([&] { return LongSeen().size() == 2; }));
    // With no buffer queued the whole reply is dropped and nothing is notified.
    ASSERT_EQ(midiOutUnprepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    SendLong(kStatusRequest);
    ASSERT_TRUE(WaitForEvent("dropped 7 no-buffer"));
    // A new start before the end: what came so far is a long error.
    headerA.dwBufferLength = headerB.dwBufferLength = 512;
    ASSERT_EQ(midiInAddBuffer(in, &headerA, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInAddBuffer(in, &headerB, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    const unsigned char cut[] = {0xF0, 0x2C, 0x4D, 0x62, 0x01};
    ASSERT_EQ(api.inject(cut, sizeof cut, 0), 0);
    ASSERT_EQ(api.inject(kRunningReply.data(), int(kRunningReply.size()), 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return LongSeen().size() == 4; }));
    EXPECT_EQ(LongSeen(), (Lines{"A data F0 2C 4D 21", "B data 32 31 F7", "A error F0 2C 4D 62 01",
                                 "B data F0 2C 4D 21 32 31 F7"}));
}

TEST_F(StandIn, StopReturnsThePartialBufferResetAllAndCloseWaitsForThem) {
    OpenUnitPair();
    EXPECT_EQ(midiInClose(in), MIDIERR_STILLPLAYING);
    EXPECT_TRUE(HasEvent("refused midiInClose 65"));
    const unsigned char start[] = {0xF0, 0x2C, 0x4D};
    ASSERT_EQ(api.inject(start, 3, 0), 0);
    ASSERT_TRUE(WaitForEvent("tx F0 2C 4D"));
    ASSERT_EQ(midiInStop(in), MMSYSERR_NOERROR);
    // Delivered before midiInStop returned; B stays queued, so close is still refused.
    EXPECT_EQ(LongSeen(), Lines{"A data F0 2C 4D"});
    EXPECT_EQ(headerB.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_INQUEUE));
    EXPECT_EQ(midiInClose(in), MIDIERR_STILLPLAYING);
    ASSERT_EQ(midiInAddBuffer(in, &headerA, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInReset(in), MMSYSERR_NOERROR); // both back, empty, in queue order
    EXPECT_EQ(LongSeen(), (Lines{"A data F0 2C 4D", "B data", "A data"}));
    EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
    in = nullptr;
    EXPECT_TRUE(HasEvent("close in"));
}

// A simulated unit must never be quicker than the real one: each answer leaves at least the
// reply delay after its request arrived (on the transcript's clock), and an asynchronous send
// completes no sooner than async_done after the call. Both sides of each measure are read on
// different threads whose clocks under Wine may disagree by a fraction of a millisecond; so
// two of twenty may look early, while a stand-in rounding to whole milliseconds is early on most.
TEST_F(StandIn, RepliesAndCompletionsNeverComeBeforeTheirTime) {
    struct Case {
        const char* scenario;
        double replyMs;
        double doneMs;
    };
    const Case cases[] = {
        {"normal;delay=1", 1, 0},
        {"normal;delay=2", 2, 0},
        {"normal;delay=1;async_done=1", 1, 1},
        {"normal;delay=2;async_done=3", 2, 3},
    };
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        CloseAll();
        Configure(c.scenario);
        OpenUnitPair();
        recorder.rearm = true;
        unsigned earlyCompletions = 0;
        for (size_t i = 0; i < 20; ++i) {
            // Timed here from the call, watching the flag closely so an early one cannot hide.
            LARGE_INTEGER called;
            LARGE_INTEGER seen;
            QueryPerformanceCounter(&called);
            SendLong(kStatusRequest);
            const volatile DWORD* flags = &sendHeader.dwFlags;
            do {
                QueryPerformanceCounter(&seen);
            } while (!(*flags & MHDR_DONE) && seen.QuadPart - called.QuadPart < frequency.QuadPart);
            ASSERT_NE(*flags & MHDR_DONE, 0u);
            const double doneAfterMs = static_cast<double>(seen.QuadPart - called.QuadPart) *
                                       1000.0 / static_cast<double>(frequency.QuadPart);
            earlyCompletions += doneAfterMs < c.doneMs ? 1 : 0;
            ASSERT_TRUE(WaitUntil([&] { return LongSeen().size() == i + 1; }));
            ASSERT_EQ(midiOutUnprepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        }
        EXPECT_LE(earlyCompletions, 2u);
        double rxAt = -1;
        unsigned replies = 0, earlyReplies = 0, completions = 0;
        std::istringstream lines(Transcript());
        std::string line;
        while (std::getline(lines, line)) {
            const double at = atof(line.c_str());
            if (line.find(" rx F0 2C 4D 10 F7") != std::string::npos) {
                rxAt = at;
            } else if (line.find(" tx F0 2C 4D 21 ") != std::string::npos) {
                earlyReplies += at - rxAt < c.replyMs - 0.001 ? 1 : 0; // three decimals
                ++replies;
            } else if (line.find(" done out") != std::string::npos) {
                ++completions;
            }
        }
        EXPECT_EQ(replies, 20u);
        EXPECT_LE(earlyReplies, 2u) << Transcript();
        EXPECT_EQ(completions, c.doneMs > 0 ? 20u : 0u);
    }
}

// The program calls in from its window thread, its worker and the notification thread at
// once. Nothing may hang, and every reply is either handed over or reported dropped.
TEST_F(StandIn, CallsFromSeveralThreadsAtOnceLoseNothingUnexplained) {
    OpenUnitPair(16);
    recorder.rearm = true;
    const int kRequests = 200;
    using Self = std::remove_pointer_t<decltype(this)>;
    auto sender = [](LPVOID self) -> DWORD {
        auto* test = static_cast<Self*>(self);
        for (int i = 0; i < kRequests; ++i) {
            test->SendLong(kStatusRequest);
            EXPECT_EQ(midiOutUnprepareHeader(test->out, &test->sendHeader, sizeof(MIDIHDR)),
                      MMSYSERR_NOERROR);
        }
        return 0;
    };
    HANDLE thread = CreateThread(nullptr, 0, sender, this, 0, nullptr);
    MIDIOUTCAPSA caps;
    for (int i = 0; i < kRequests; ++i) {
        EXPECT_EQ(midiInStart(in), MMSYSERR_NOERROR);
        EXPECT_EQ(midiOutGetDevCapsA(1, &caps, sizeof caps), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    CloseHandle(thread);
    auto count = [&](const std::string& prefix) {
        int n = 0;
        for (const auto& e : Events())
            n += e.compare(0, prefix.size(), prefix) == 0;
        return n;
    };
    ASSERT_TRUE(WaitUntil([&] { return count("tx ") == kRequests; }));
    ASSERT_TRUE(WaitUntil([&] {
        return int(LongSeen().size()) + count("dropped 7 no-buffer") == kRequests;
    })) << LongSeen().size()
        << " handed over, " << count("dropped") << " dropped";
}
