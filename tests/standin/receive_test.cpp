// The receive path: replies into queued buffers in order, split, dropped, cut short, handed
// back by stop and reset, all on the stand-in's own thread.
#include "tests/standin/standin_fixture.h"

#include <cstdlib>
#include <sstream>

namespace {

std::vector<Notification> Long(const std::vector<Notification>& seen) {
    std::vector<Notification> result;
    for (const auto& n : seen)
        if (n.message == MIM_LONGDATA || n.message == MIM_LONGERROR)
            result.push_back(n);
    return result;
}

} // namespace

TEST_F(StandIn, ReplyArrivesInTheFirstQueuedBufferOnTheDriverThread) {
    OpenUnitPair();
    SendLong(kStatusRequest);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MIM_LONGDATA) == 1; }));
    auto seen = Long(recorder.Snapshot());
    EXPECT_EQ(seen[0].header, &headerA);
    EXPECT_EQ(seen[0].data, kRunningReply);
    EXPECT_EQ(seen[0].flags & (MHDR_DONE | MHDR_INQUEUE | MHDR_PREPARED),
              static_cast<DWORD>(MHDR_DONE | MHDR_PREPARED));
    EXPECT_NE(seen[0].thread, GetCurrentThreadId());
    EXPECT_TRUE(HasEvent("rx F0 2C 4D 10 F7"));
    EXPECT_TRUE(HasEvent("tx F0 2C 4D 21 32 31 F7"));
}

TEST_F(StandIn, BuffersHandedBackFromTheCallbackKeepTheReplyFlowing) {
    OpenUnitPair();
    recorder.rearm = true;
    for (int i = 0; i < 5; ++i) {
        SendLong(kStatusRequest);
        ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MIM_LONGDATA) == size_t(i) + 1; }))
            << "reply " << i;
        ASSERT_EQ(midiOutUnprepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    }
    auto seen = Long(recorder.Snapshot());
    // A, B, A, B, A: the queue order, with each buffer re-added at the back.
    MIDIHDR* expected[] = {&headerA, &headerB, &headerA, &headerB, &headerA};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(seen[size_t(i)].header, expected[i]) << i;
    std::lock_guard<std::mutex> hold(recorder.mutex);
    EXPECT_EQ(recorder.rearmResults, std::vector<MMRESULT>(5, MMSYSERR_NOERROR));
}

TEST_F(StandIn, SysExLongerThanABufferIsSplitAcrossBuffers) {
    OpenUnitPair(4);
    SendLong(kStatusRequest);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MIM_LONGDATA) == 2; }));
    auto seen = Long(recorder.Snapshot());
    EXPECT_EQ(seen[0].header, &headerA);
    EXPECT_EQ(seen[0].data, (std::vector<uint8_t>{0xF0, 0x2C, 0x4D, 0x21}));
    EXPECT_EQ(seen[1].header, &headerB);
    EXPECT_EQ(seen[1].data, (std::vector<uint8_t>{0x32, 0x31, 0xF7}));
}

TEST_F(StandIn, WhatFindsNoBufferIsDropped) {
    OpenUnitPair(4);
    ASSERT_EQ(midiInStop(in), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInReset(in), MMSYSERR_NOERROR); // both buffers back, none queued
    ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);
    size_t before = recorder.Snapshot().size();
    SendLong(kStatusRequest);
    ASSERT_TRUE(WaitForEvent("dropped 7 no-buffer"));
    EXPECT_EQ(recorder.Snapshot().size(), before);
    // Input carries on: the next reply fills a buffer queued now, the rest of it is lost.
    ASSERT_EQ(midiInAddBuffer(in, &headerA, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutUnprepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    api.clearTranscript();
    SendLong(kStatusRequest);
    ASSERT_TRUE(WaitForEvent("dropped 3 no-buffer"));
    ASSERT_TRUE(WaitUntil([&] { return !Long(recorder.Snapshot()).back().data.empty(); }));
    EXPECT_EQ(Long(recorder.Snapshot()).back().data,
              (std::vector<uint8_t>{0xF0, 0x2C, 0x4D, 0x21}));
}

TEST_F(StandIn, ANewStartBeforeTheEndIsALongError) {
    OpenUnitPair();
    const unsigned char cut[] = {0xF0, 0x2C, 0x4D, 0x62, 0x01};
    ASSERT_EQ(api.inject(cut, sizeof cut, 0), 0);
    ASSERT_EQ(api.inject(kRunningReply.data(), int(kRunningReply.size()), 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return Long(recorder.Snapshot()).size() == 2; }));
    auto seen = Long(recorder.Snapshot());
    EXPECT_EQ(seen[0].message, static_cast<UINT>(MIM_LONGERROR));
    EXPECT_EQ(seen[0].data, std::vector<uint8_t>(cut, cut + sizeof cut));
    EXPECT_EQ(seen[1].message, static_cast<UINT>(MIM_LONGDATA));
    EXPECT_EQ(seen[1].data, kRunningReply);
}

TEST_F(StandIn, ShortMessagesFromTheUnitArriveAsData) {
    OpenUnitPair();
    const unsigned char note[] = {0x90, 0x3C, 0x40};
    const unsigned char sensing[] = {0xFE};
    ASSERT_EQ(api.inject(note, 3, 1), 0);
    ASSERT_EQ(api.inject(sensing, 1, 1), 0);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MIM_DATA) == 2; }));
    std::vector<DWORD_PTR> packed;
    for (const auto& n : recorder.Snapshot())
        if (n.message == MIM_DATA)
            packed.push_back(n.param1);
    EXPECT_EQ(packed, (std::vector<DWORD_PTR>{0x403C90, 0xFE}));
}

TEST_F(StandIn, StopReturnsOnlyThePartlyFilledBuffer) {
    OpenUnitPair();
    const unsigned char start[] = {0xF0, 0x2C, 0x4D};
    ASSERT_EQ(api.inject(start, 3, 0), 0);
    ASSERT_TRUE(WaitForEvent("tx F0 2C 4D"));
    ASSERT_EQ(midiInStop(in), MMSYSERR_NOERROR);
    // Delivered before midiInStop returned.
    auto seen = Long(recorder.Snapshot());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].header, &headerA);
    EXPECT_EQ(seen[0].message, static_cast<UINT>(MIM_LONGDATA));
    EXPECT_EQ(seen[0].bytesRecorded, 3u);
    EXPECT_EQ(headerB.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_INQUEUE));
    EXPECT_EQ(midiInClose(in), MIDIERR_STILLPLAYING); // B is still queued
}

TEST_F(StandIn, ResetReturnsEveryQueuedBufferEmptyOnTheDriverThread) {
    OpenUnitPair();
    ASSERT_EQ(midiInReset(in), MMSYSERR_NOERROR);
    auto seen = Long(recorder.Snapshot());
    ASSERT_EQ(seen.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(seen[i].message, static_cast<UINT>(MIM_LONGDATA));
        EXPECT_EQ(seen[i].bytesRecorded, 0u);
        EXPECT_EQ(seen[i].flags, static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE));
        EXPECT_NE(seen[i].thread, GetCurrentThreadId());
    }
    EXPECT_EQ(seen[0].header, &headerA);
    EXPECT_EQ(seen[1].header, &headerB);
}

TEST_F(StandIn, CloseIsRefusedWhileBuffersAreOut) {
    OpenUnitPair();
    EXPECT_EQ(midiInClose(in), MIDIERR_STILLPLAYING);
    EXPECT_TRUE(HasEvent("refused midiInClose 65"));
    ASSERT_EQ(midiInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
    in = nullptr;
    EXPECT_TRUE(HasEvent("close in"));
}

TEST_F(StandIn, ClearedFlagsMakeTheHandBackFailAsTheClosingPathExpects) {
    // The closing order of the program: clear both headers' flags, stop, release, reset,
    // close. A hand-back from the callback meanwhile must be refused, close must succeed.
    OpenUnitPair();
    recorder.rearm = true;
    const unsigned char start[] = {0xF0, 0x2C, 0x4D};
    ASSERT_EQ(api.inject(start, 3, 0), 0);
    ASSERT_TRUE(WaitForEvent("tx F0 2C 4D"));
    headerA.dwFlags = 0;
    headerB.dwFlags = 0;
    ASSERT_EQ(midiInStop(in), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInUnprepareHeader(in, &headerA, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInUnprepareHeader(in, &headerB, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
    in = nullptr;
    std::lock_guard<std::mutex> hold(recorder.mutex);
    EXPECT_EQ(recorder.rearmResults, std::vector<MMRESULT>{MIDIERR_UNPREPARED});
}

TEST_F(StandIn, RepliesWaitForTheirDueTime) {
    Configure("normal;delay=150");
    OpenUnitPair();
    DWORD sent = GetTickCount();
    SendLong(kStatusRequest);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MIM_LONGDATA) == 1; }));
    DWORD took = GetTickCount() - sent;
    EXPECT_GE(took, 140u);
}

// A simulated unit must never be quicker than the real one: each answer leaves at least the
// reply delay after its request arrived, measured on the transcript's own clock, and an
// asynchronous send completes no sooner than async_done after the call. The two sides of each
// measure are read on different threads, and under Wine in a virtual machine those clocks
// now and then disagree by a fraction of a millisecond; so one or two of twenty may look
// early, while a stand-in that rounds to whole milliseconds is early on most.
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        CloseAll();
        {
            std::lock_guard<std::mutex> hold(recorder.mutex);
            recorder.seen.clear();
        }
        Configure(c.scenario);
        OpenUnitPair();
        recorder.rearm = true;
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        unsigned earlyCompletions = 0;
        for (size_t i = 0; i < 20; ++i) {
            // The completion counts from the call, which comes before the rx line: it is
            // timed here, watching the flag closely so an early one cannot hide.
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
            ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MIM_LONGDATA) == i + 1; }));
            ASSERT_EQ(midiOutUnprepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        }
        EXPECT_LE(earlyCompletions, 2u);
        double rxAt = -1;
        unsigned replies = 0;
        unsigned earlyReplies = 0;
        unsigned completions = 0;
        std::istringstream lines(Transcript());
        std::string line;
        while (std::getline(lines, line)) {
            const double at = atof(line.c_str());
            if (line.find(" rx F0 2C 4D 10 F7") != std::string::npos) {
                rxAt = at;
            } else if (line.find(" tx F0 2C 4D 21 ") != std::string::npos) {
                // Three decimals: one thousandth of rounding.
                earlyReplies += at - rxAt < c.replyMs - 0.001 ? 1 : 0;
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

// A client whose callback blocks while it calls midiInReset (a lock taken on both sides) would
// hang a real driver; the stand-in gives up after 2 s and says so in the transcript.
TEST_F(StandIn, AResetWhoseCallbackIsBlockedReturnsLateAndSaysSo) {
    static HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(release);
    auto blocking = [](HMIDIIN, UINT message, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
        if (message == MIM_LONGDATA)
            WaitForSingleObject(release, 10000);
    };
    void(CALLBACK * callback)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) = blocking;
    HMIDIIN input = nullptr;
    ASSERT_EQ(midiInOpen(&input, 1, reinterpret_cast<DWORD_PTR>(callback), 0, CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    char buffer[16];
    MIDIHDR header{};
    header.lpData = buffer;
    header.dwBufferLength = sizeof buffer;
    ASSERT_EQ(midiInPrepareHeader(input, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInAddBuffer(input, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInReset(input), MMSYSERR_NOERROR);
    EXPECT_TRUE(HasEvent("late midiInReset"));
    SetEvent(release);
    EXPECT_EQ(midiInClose(input), MMSYSERR_NOERROR);
}

// The program calls in from its window thread, its worker and the notification thread at
// once. Nothing may hang, and every reply is either handed over or reported dropped.
TEST_F(StandIn, CallsFromSeveralThreadsAtOnceLoseNothingUnexplained) {
    OpenUnitPair(16);
    recorder.rearm = true;
    HMIDIOUT other = nullptr;
    ASSERT_EQ(midiOutOpen(&other, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    const int kRequests = 200;
    struct Shared {
        HMIDIOUT out;
        HMIDIOUT other;
        HMIDIIN in;
        int requests;
        LONG failures;
    } shared{out, other, in, kRequests, 0};
    auto sender = [](LPVOID p) -> DWORD {
        auto* s = static_cast<Shared*>(p);
        uint8_t bytes[] = {0xF0, 0x2C, 0x4D, 0x10, 0xF7};
        MIDIHDR header{};
        header.lpData = reinterpret_cast<LPSTR>(bytes);
        header.dwBufferLength = sizeof bytes;
        for (int i = 0; i < s->requests; ++i) {
            header.dwFlags = 0;
            if (midiOutPrepareHeader(s->out, &header, sizeof header) != MMSYSERR_NOERROR ||
                midiOutLongMsg(s->out, &header, sizeof header) != MMSYSERR_NOERROR ||
                midiOutUnprepareHeader(s->out, &header, sizeof header) != MMSYSERR_NOERROR)
                InterlockedIncrement(&s->failures);
        }
        return 0;
    };
    auto prober = [](LPVOID p) -> DWORD {
        auto* s = static_cast<Shared*>(p);
        for (int i = 0; i < s->requests; ++i) {
            MIDIOUTCAPSA caps;
            if (midiInStart(s->in) != MMSYSERR_NOERROR ||
                midiOutShortMsg(s->other, 0x00403C90) != MMSYSERR_NOERROR ||
                midiOutGetDevCapsA(1, &caps, sizeof caps) != MMSYSERR_NOERROR)
                InterlockedIncrement(&s->failures);
        }
        return 0;
    };
    HANDLE threads[2] = {CreateThread(nullptr, 0, sender, &shared, 0, nullptr),
                         CreateThread(nullptr, 0, prober, &shared, 0, nullptr)};
    ASSERT_EQ(WaitForMultipleObjects(2, threads, TRUE, 30000), WAIT_OBJECT_0);
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    EXPECT_EQ(shared.failures, 0);
    EXPECT_EQ(midiOutClose(other), MMSYSERR_NOERROR);
    auto count = [&](const std::string& prefix) {
        int n = 0;
        for (const auto& e : Events())
            n += e.compare(0, prefix.size(), prefix) == 0;
        return n;
    };
    ASSERT_TRUE(WaitUntil([&] { return count("tx ") == kRequests; }));
    ASSERT_TRUE(WaitUntil([&] {
        return int(recorder.Count(MIM_LONGDATA)) + count("dropped 7 no-buffer") == kRequests;
    })) << recorder.Count(MIM_LONGDATA)
        << " handed over, " << count("dropped") << " dropped";
}
