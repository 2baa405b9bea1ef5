// What the port link relies on in WinMM, held against the stand-in winmm.dll that all Wine
// tests run on: should it drift from these answers, they would prove nothing about Windows.
#include "tests/standin/stand_in.h"
#include <gtest/gtest.h>
#include <mmsystem.h>

constexpr uint64_t P = MHDR_PREPARED, D = MHDR_DONE, Q = MHDR_INQUEUE;
constexpr UINT kSize = sizeof(MIDIHDR);
using Call = std::pair<uint64_t, uint64_t>; // what a call answered, what WinMM answers

static MIDIHDR Header(void* data, DWORD length) {
    MIDIHDR header{};
    header.lpData = static_cast<LPSTR>(data);
    header.dwBufferLength = length;
    return header;
}

// An output (not the unit's, so that nothing answers) with a prepared send header, and the
// unit's input with buffers A and B prepared and queued, started.
struct Ports {
    HMIDIOUT out = nullptr;
    HMIDIIN in = nullptr;
    uint8_t request[5] = {0xF0, 0x2C, 0x4D, 0x10, 0xF7};
    char bytes[2][64] = {};
    MIDIHDR send = Header(request, 5), a = Header(bytes[0], 64), b = Header(bytes[1], 64);
    uint64_t opened = midiOutOpen(&out, 0, 0, 0, 0) | midiOutPrepareHeader(out, &send, kSize) |
                      midiInOpen(&in, 1, 0, 0, 0) | midiInPrepareHeader(in, &a, kSize) |
                      midiInPrepareHeader(in, &b, kSize) | midiInAddBuffer(in, &a, kSize) |
                      midiInAddBuffer(in, &b, kSize) | midiInStart(in);
    LARGE_INTEGER sentAt{};

    ~Ports() { midiInClose(in), midiOutClose(out); } // nothing is queued by then
    MMRESULT Send() { return QueryPerformanceCounter(&sentAt), midiOutLongMsg(out, &send, kSize); }
    MMRESULT Release() { return midiOutUnprepareHeader(out, &send, kSize); }
    MMRESULT AddCleared(MIDIHDR& h) { return h.dwFlags = 0, midiInAddBuffer(in, &h, kSize); }
    // Done, and not before ms since the send (less a hundredth for the clocks of two threads).
    bool DoneAfter(double ms) const {
        return WaitUntil([&] { return send.dwFlags & D; }) && MsSince(sentAt) >= ms - 0.01;
    }
};

// The unit sends F0 2C 4D, the rest yet to come; true once that is in a buffer.
static bool UnitSendsHead(StandIn& sim) {
    const uint8_t head[] = {0xF0, 0x2C, 0x4D};
    return sim.api.inject(head, 3, 0) == 0 && WaitUntil([&] { return sim.CountOf("tx"); });
}

// Each call in order, with WinMM's answer: a code, a header's flags or count, or 1 for true.
TEST(WinmmContract, TheStandInAnswersAsThePortLinkExpects) {
    StandIn sim;
    ASSERT_TRUE(sim.Configure("async_done=100"));
    Ports p;
    const Call calls[] = {
        Call(p.opened, 0),
        // A send done later stays queued, refusing release and close meanwhile.
        Call(p.Send(), 0), Call(p.send.dwFlags, P | Q), Call(p.Release(), 65),
        Call(midiOutClose(p.out), 65),
        // The input, with buffers queued, refuses release and close too.
        Call(midiInClose(p.in), 65), Call(midiInUnprepareHeader(p.in, &p.a, kSize), 65),
        // Stop returns the buffer being filled, with its bytes so far.
        Call(UnitSendsHead(sim), 1), Call(midiInStop(p.in), 0), Call(p.a.dwFlags, P | D),
        Call(p.a.dwBytesRecorded, 3), Call(p.b.dwFlags, P | Q),
        // A header still queued is refused, and so is one whose flags were cleared.
        Call(midiInAddBuffer(p.in, &p.b, kSize), 65), Call(p.AddCleared(p.a), 64),
        // Reset returns the rest, empty. The send was not done before its time.
        Call(midiInReset(p.in), 0), Call(p.b.dwFlags, P | D), Call(p.b.dwBytesRecorded, 0),
        Call(p.DoneAfter(100), 1), Call(p.Release(), 0)};
    for (size_t i = 0; i < sizeof calls / sizeof calls[0]; ++i) {
        EXPECT_EQ(calls[i].first, calls[i].second) << "call " << i;
    }
}
