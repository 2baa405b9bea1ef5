// What the port link relies on in WinMM, held against the stand-in winmm.dll that all Wine
// tests run on: should it drift from these answers, they would prove nothing about Windows.
#include "tests/standin/stand_in.h"
#include <gtest/gtest.h>
#include <mmsystem.h>
#include <mmddk.h>

constexpr uint64_t P = MHDR_PREPARED, D = MHDR_DONE, Q = MHDR_INQUEUE;
constexpr UINT kSize = sizeof(MIDIHDR);
using Call = std::pair<uint64_t, uint64_t>; // what a call answered, what WinMM answers
static MIDIHDR Header(void* data, DWORD length) {
    MIDIHDR header{};
    header.lpData = static_cast<LPSTR>(data);
    header.dwBufferLength = length;
    return header;
}
static void ExpectAnswers(const std::vector<Call>& calls, const char* what) {
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].first, calls[i].second) << what << ", call " << i;
    }
}

// The unit sends F0 2C 4D, the rest yet to come; true once that is in a buffer.
static bool UnitSendsHead(StandIn& sim) {
    const uint8_t head[] = {0xF0, 0x2C, 0x4D};
    return sim.api.inject(head, 3, 0) == 0 && WaitUntil([&] { return sim.CountOf("tx"); });
}

// The service's input notifications.
static std::vector<UINT> notes; // the input's buffer notifications, in order
static bool notedHere = true;   // each on the thread that made the call
static DWORD caller = GetCurrentThreadId();
static void CALLBACK Note(HMIDIIN, UINT message, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    if (message == MIM_LONGDATA || message == MIM_LONGERROR) {
        notes.push_back(message);
        notedHere = notedHere && GetCurrentThreadId() == caller;
    }
}
static std::string OutputName(UINT id) {
    MIDIOUTCAPSA caps{};
    return midiOutGetDevCapsA(id, &caps, sizeof caps) ? "" : caps.szPname;
}

// Each call in order, with WinMM's answer: a code, a header's flags or count, or 1 for true.
TEST(WinmmContract, TheStandInAnswersAsThePortLinkExpects) {
    StandIn sim;
    HMIDIOUT out = nullptr, again = nullptr;
    HMIDIIN in = nullptr, in2 = nullptr;
    char bytes[2][64] = {};
    uint8_t request[5] = {0xF0, 0x2C, 0x4D, 0x10, 0xF7};
    MIDIHDR a = Header(bytes[0], 64), b = Header(bytes[1], 64), send = Header(request, 5);
    LARGE_INTEGER start;
    // An output (not the unit's, so that nothing answers) with a prepared send header, and the
    // unit's input with buffers A and B prepared and queued, started.
    ASSERT_TRUE(sim.Configure("async_done=100"));
    ExpectAnswers(
        {Call(midiOutOpen(&out, 0, 0, 0, 0) | midiOutPrepareHeader(out, &send, kSize) |
                  midiInOpen(&in, 1, 0, 0, 0) | midiInPrepareHeader(in, &a, kSize) |
                  midiInPrepareHeader(in, &b, kSize) | midiInAddBuffer(in, &a, kSize) |
                  midiInAddBuffer(in, &b, kSize) | midiInStart(in),
              0),
         // A send done later stays queued, refusing release and close meanwhile.
         Call((QueryPerformanceCounter(&start), midiOutLongMsg(out, &send, kSize)), 0),
         Call(send.dwFlags, P | Q), Call(midiOutUnprepareHeader(out, &send, kSize), 65),
         Call(midiOutClose(out), 65),
         // The input, with buffers queued, refuses release and close too.
         Call(midiInClose(in), 65), Call(midiInUnprepareHeader(in, &a, kSize), 65),
         // Stop returns the buffer being filled, with its bytes so far.
         Call(UnitSendsHead(sim), 1), Call(midiInStop(in), 0), Call(a.dwFlags, P | D),
         Call(a.dwBytesRecorded, 3), Call(b.dwFlags, P | Q),
         // A header still queued is refused, and so is one whose flags were cleared.
         Call(midiInAddBuffer(in, &b, kSize), 65),
         Call((a.dwFlags = 0, midiInAddBuffer(in, &a, kSize)), 64),
         // Reset returns the rest, empty. The send was not done before its time (less a
         // hundredth for the clocks of two threads).
         Call(midiInReset(in), 0), Call(b.dwFlags, P | D), Call(b.dwBytesRecorded, 0),
         Call(WaitUntil([&] { return send.dwFlags & D; }) && MsSince(start) >= 100 - 0.01, 1),
         Call(midiOutUnprepareHeader(out, &send, kSize), 0)},
        "classic");
    midiInClose(in), midiOutClose(out); // nothing is queued by then
    // Windows 11's MIDI service (stack=wms), as its source shows. A port that tells no device
    // interface, and one that does not exist, answer the size query so.
    ASSERT_TRUE(sim.Configure("units=2"));
    ULONG size = 0;
    EXPECT_EQ(midiOutMessage(HMIDIOUT(0), DRV_QUERYDEVICEINTERFACESIZE, DWORD_PTR(&size), 0) * 10 +
                  midiOutMessage(HMIDIOUT(3), DRV_QUERYDEVICEINTERFACESIZE, DWORD_PTR(&size), 0),
              82u);
    ASSERT_TRUE(sim.Configure("stack=wms;units=2"));
    EXPECT_EQ(OutputName(2), "2 - tavi");
    // The unit first in the lists; once gone it comes back after the other ports.
    ASSERT_TRUE(sim.Configure("stack=wms;outputs=tavi|Other;inputs=tavi|Other;replug_after=50"));
    a = Header(bytes[0], 64), b = Header(bytes[1], 64), send = Header(request, 5);
    ExpectAnswers(
        {Call(midiOutOpen(&out, 0, 0, 0, 0) | midiOutOpen(&again, 0, 0, 0, 0), 0), // shared
         Call(midiInOpen(&in, 0, DWORD_PTR(Note), 0, CALLBACK_FUNCTION) |
                  midiInPrepareHeader(in, &a, kSize) | midiInPrepareHeader(in, &b, kSize) |
                  midiInAddBuffer(in, &a, kSize) | midiInAddBuffer(in, &b, kSize) |
                  midiInStart(in) | midiInStart(in),
              0),
         // Stop returns the part-filled buffer as an error, reset the empty rest, both in place.
         Call(UnitSendsHead(sim), 1), Call(midiInStop(in) | midiInReset(in), 0),
         Call(notes == std::vector<UINT>{MIM_LONGERROR, MIM_LONGDATA} && notedHere, 1),
         Call(a.dwBytesRecorded * 10 + b.dwBytesRecorded, 30),
         // Reset on the output sends nothing to the unit.
         Call(midiOutReset(out) + sim.CountOf("rx"), 0),
         // Removed: every call answers 6 (what the program meets of it, a refused start, send
         // and close, its rows show), the input's buffers stay queued.
         Call(midiInAddBuffer(in, &a, kSize), 0), Call((sim.api.unplug(), midiOutGetNumDevs()), 1),
         Call(midiInAddBuffer(in, &b, kSize), 6),
         Call(midiInStop(in) | midiInReset(in) | midiInUnprepareHeader(in, &b, kSize), 6),
         // Back, at the end of the lists; a header queued on the old input is seen if used.
         Call(WaitUntil([] { return midiOutGetNumDevs() == 2; }) && OutputName(1) == "tavi", 1),
         Call(midiInOpen(&in2, 1, 0, 0, 0) | midiInPrepareHeader(in2, &a, kSize), 0),
         Call(sim.CountOf("reused midiInPrepareHeader"), 1)},
        "service");
    midiInClose(in2), midiOutClose(again);
    // Older builds: the probe and adding a buffer still answer 0; a send times out with 1
    // after a second, later ones at once.
    ASSERT_TRUE(sim.Configure("stack=wms;old_build=1"));
    ExpectAnswers(
        {Call(midiOutOpen(&out, 1, 0, 0, 0) | midiInOpen(&in, 1, 0, 0, 0) |
                  midiOutPrepareHeader(out, &send, kSize) | midiInPrepareHeader(in, &b, kSize),
              0),
         Call((sim.api.unplug(), midiInStart(in)) | midiInAddBuffer(in, &b, kSize), 0),
         Call((QueryPerformanceCounter(&start), midiOutLongMsg(out, &send, kSize)), 1),
         Call(MsSince(start) >= 1000, 1), Call(midiOutLongMsg(out, &send, kSize), 1),
         Call(MsSince(start) < 1500, 1), Call(midiInReset(in) | midiInClose(in), 0)},
        "older build");
}
