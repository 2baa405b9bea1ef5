// The header rules, checked on the caller's dwFlags as WinMM does.
#include "tests/standin/standin_fixture.h"

namespace {

using OutCall = MMRESULT(WINAPI*)(HMIDIOUT, LPMIDIHDR, UINT);
using InCall = MMRESULT(WINAPI*)(HMIDIIN, LPMIDIHDR, UINT);

const UINT kFull = sizeof(MIDIHDR);
const UINT kOld = offsetof(MIDIHDR, dwOffset); // the shorter header older callers pass
const UINT kShort = kOld - 1;
const DWORD P = MHDR_PREPARED;
const DWORD D = MHDR_DONE;
const DWORD Q = MHDR_INQUEUE;

struct FlagCase {
    OutCall outCall; // one of the two is set
    InCall inCall;
    DWORD flagsBefore;
    UINT size;
    MMRESULT result;
    DWORD flagsAfter;
};

const FlagCase kCases[] = {
    {midiOutLongMsg, nullptr, D, kFull, MIDIERR_UNPREPARED, D},
    {midiOutLongMsg, nullptr, P | Q, kFull, MIDIERR_STILLPLAYING, P | Q},
    {midiOutLongMsg, nullptr, P, kOld, MMSYSERR_NOERROR, P | D},
    {midiOutPrepareHeader, nullptr, D, kShort, MMSYSERR_INVALPARAM, D},
    {midiOutPrepareHeader, nullptr, D, kFull, MMSYSERR_NOERROR, P},
    {midiOutPrepareHeader, nullptr, P | D | Q, kFull, MMSYSERR_NOERROR, P | D | Q},
    {midiOutUnprepareHeader, nullptr, P | D | Q, kFull, MIDIERR_STILLPLAYING, P | D | Q},
    {midiOutUnprepareHeader, nullptr, P | D, kFull, MMSYSERR_NOERROR, D},
    {midiOutUnprepareHeader, nullptr, Q | D, kFull, MMSYSERR_NOERROR, Q | D},
    {midiOutUnprepareHeader, nullptr, P | D, kShort, MMSYSERR_INVALPARAM, P | D},
    {nullptr, midiInPrepareHeader, D, kShort, MMSYSERR_INVALPARAM, D},
    {nullptr, midiInPrepareHeader, D | Q, kFull, MMSYSERR_NOERROR, P},
    {nullptr, midiInPrepareHeader, P | D | Q, kFull, MMSYSERR_NOERROR, P | D | Q},
    {nullptr, midiInUnprepareHeader, P | Q, kFull, MIDIERR_STILLPLAYING, P | Q},
    {nullptr, midiInUnprepareHeader, P | D, kFull, MMSYSERR_NOERROR, D},
    {nullptr, midiInAddBuffer, P | D, kFull, MMSYSERR_NOERROR, P | Q},
    {nullptr, midiInAddBuffer, D, kFull, MIDIERR_UNPREPARED, D},
    {nullptr, midiInAddBuffer, P | Q, kFull, MIDIERR_STILLPLAYING, P | Q},
    {nullptr, midiInAddBuffer, P, kOld, MMSYSERR_NOERROR, P | Q},
    {nullptr, midiInAddBuffer, P, kShort, MMSYSERR_INVALPARAM, P},
};

} // namespace

TEST_F(StandIn, HeaderFlagRules) {
    // Port 0 ("Other"): nothing answers, so no buffer is ever filled behind the test's back.
    ASSERT_EQ(midiOutOpen(&out, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    for (size_t i = 0; i < sizeof kCases / sizeof kCases[0]; ++i) {
        const FlagCase& c = kCases[i];
        SCOPED_TRACE("row " + std::to_string(i));
        HMIDIIN input = nullptr;
        ASSERT_EQ(midiInOpen(&input, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        uint8_t bytes[5] = {0xF0, 0x2C, 0x4D, 0x10, 0xF7};
        MIDIHDR header{};
        header.lpData = reinterpret_cast<LPSTR>(bytes);
        header.dwBufferLength = sizeof bytes;
        header.dwUser = 0x1234;
        header.dwFlags = c.flagsBefore;
        EXPECT_EQ(c.outCall ? c.outCall(out, &header, c.size) : c.inCall(input, &header, c.size),
                  c.result);
        EXPECT_EQ(header.dwFlags, c.flagsAfter);
        EXPECT_EQ(header.dwUser, 0x1234u);
        midiInReset(input);
        EXPECT_EQ(midiInClose(input), MMSYSERR_NOERROR);
    }
}

TEST_F(StandIn, InvalidAndStaleHandlesAreInvalHandle) {
    HMIDIOUT stale = nullptr;
    ASSERT_EQ(midiOutOpen(&stale, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutClose(stale), MMSYSERR_NOERROR);
    HMIDIIN staleIn = nullptr;
    ASSERT_EQ(midiInOpen(&staleIn, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInClose(staleIn), MMSYSERR_NOERROR);
    // An open input handle is no output handle.
    ASSERT_EQ(midiInOpen(&in, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    HMIDIOUT wrongKind = reinterpret_cast<HMIDIOUT>(in);
    MIDIHDR header{};
    UINT id = 0;
    for (HMIDIOUT h : {HMIDIOUT(nullptr), HMIDIOUT(uintptr_t(0x1234)), stale, wrongKind}) {
        EXPECT_EQ(midiOutShortMsg(h, 0x90), MMSYSERR_INVALHANDLE);
        for (OutCall call : {midiOutLongMsg, midiOutPrepareHeader, midiOutUnprepareHeader})
            EXPECT_EQ(call(h, &header, sizeof header), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiOutReset(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiOutClose(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiOutGetID(h, &id), MMSYSERR_INVALHANDLE);
    }
    for (HMIDIIN h : {HMIDIIN(nullptr), HMIDIIN(uintptr_t(0x1234)), staleIn}) {
        for (auto call : {midiInStart, midiInStop, midiInReset, midiInClose})
            EXPECT_EQ(call(h), MMSYSERR_INVALHANDLE);
        for (InCall call : {midiInAddBuffer, midiInPrepareHeader, midiInUnprepareHeader})
            EXPECT_EQ(call(h, &header, sizeof header), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiInGetID(h, &id), MMSYSERR_INVALHANDLE);
    }
    EXPECT_EQ(header.dwFlags, 0u);
}
