// The header rules, checked on the caller's dwFlags as WinMM does; a table per side.
#include "tests/standin/standin_fixture.h"

namespace {

const UINT kFull = sizeof(MIDIHDR);
const UINT kOld = offsetof(MIDIHDR, dwOffset); // the shorter header older callers pass

enum Call { OUT_PREPARE, OUT_UNPREPARE, OUT_LONG, IN_PREPARE, IN_UNPREPARE, IN_ADD };

struct FlagCase {
    const char* name;
    Call call;
    DWORD flagsBefore;
    UINT size;
    MMRESULT result;
    DWORD flagsAfter;
};

const DWORD P = MHDR_PREPARED;
const DWORD D = MHDR_DONE;
const DWORD Q = MHDR_INQUEUE;

const FlagCase kCases[] = {
    {"long message unprepared", OUT_LONG, D, kFull, MIDIERR_UNPREPARED, D},
    {"long message already queued", OUT_LONG, P | Q, kFull, MIDIERR_STILLPLAYING, P | Q},
    {"long message with the old header size", OUT_LONG, P, kOld, MMSYSERR_NOERROR, P | D},
    {"out prepare one byte short", OUT_PREPARE, D, kOld - 1, MMSYSERR_INVALPARAM, D},
    {"out prepare", OUT_PREPARE, D, kFull, MMSYSERR_NOERROR, P},
    {"out prepare again", OUT_PREPARE, P | D | Q, kFull, MMSYSERR_NOERROR, P | D | Q},
    {"out release while queued", OUT_UNPREPARE, P | D | Q, kFull, MIDIERR_STILLPLAYING, P | D | Q},
    {"out release", OUT_UNPREPARE, P | D, kFull, MMSYSERR_NOERROR, D},
    {"out release unprepared", OUT_UNPREPARE, Q | D, kFull, MMSYSERR_NOERROR, Q | D},
    {"out release one byte short", OUT_UNPREPARE, P | D, kOld - 1, MMSYSERR_INVALPARAM, P | D},
    {"in prepare one byte short", IN_PREPARE, D, kOld - 1, MMSYSERR_INVALPARAM, D},
    {"in prepare", IN_PREPARE, D | Q, kFull, MMSYSERR_NOERROR, P},
    {"in prepare again", IN_PREPARE, P | D | Q, kFull, MMSYSERR_NOERROR, P | D | Q},
    {"in release while queued", IN_UNPREPARE, P | Q, kFull, MIDIERR_STILLPLAYING, P | Q},
    {"in release", IN_UNPREPARE, P | D, kFull, MMSYSERR_NOERROR, D},
    {"add buffer", IN_ADD, P | D, kFull, MMSYSERR_NOERROR, P | Q},
    {"add buffer unprepared", IN_ADD, D, kFull, MIDIERR_UNPREPARED, D},
    {"add buffer already queued", IN_ADD, P | Q, kFull, MIDIERR_STILLPLAYING, P | Q},
    {"add buffer with the old header size", IN_ADD, P, kOld, MMSYSERR_NOERROR, P | Q},
    {"add buffer one byte short", IN_ADD, P, kOld - 1, MMSYSERR_INVALPARAM, P},
};

} // namespace

TEST_F(StandIn, HeaderFlagRules) {
    // Port 0 ("Other"): nothing answers, so no buffer is ever filled behind the test's back.
    ASSERT_EQ(midiOutOpen(&out, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    for (const FlagCase& c : kCases) {
        HMIDIIN input = nullptr;
        ASSERT_EQ(midiInOpen(&input, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        uint8_t bytes[5] = {0xF0, 0x2C, 0x4D, 0x10, 0xF7};
        MIDIHDR header{};
        header.lpData = reinterpret_cast<LPSTR>(bytes);
        header.dwBufferLength = sizeof bytes;
        header.dwUser = 0x1234;
        header.dwFlags = c.flagsBefore;
        MMRESULT result = MMSYSERR_ERROR;
        switch (c.call) {
        case OUT_PREPARE:
            result = midiOutPrepareHeader(out, &header, c.size);
            break;
        case OUT_UNPREPARE:
            result = midiOutUnprepareHeader(out, &header, c.size);
            break;
        case OUT_LONG:
            result = midiOutLongMsg(out, &header, c.size);
            break;
        case IN_PREPARE:
            result = midiInPrepareHeader(input, &header, c.size);
            break;
        case IN_UNPREPARE:
            result = midiInUnprepareHeader(input, &header, c.size);
            break;
        case IN_ADD:
            result = midiInAddBuffer(input, &header, c.size);
            break;
        }
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_EQ(header.dwFlags, c.flagsAfter) << c.name;
        EXPECT_EQ(header.dwUser, 0x1234u) << c.name;
        midiInReset(input);
        EXPECT_EQ(midiInClose(input), MMSYSERR_NOERROR) << c.name;
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
        EXPECT_EQ(midiOutLongMsg(h, &header, sizeof header), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiOutPrepareHeader(h, &header, sizeof header), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiOutUnprepareHeader(h, &header, sizeof header), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiOutReset(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiOutClose(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiOutGetID(h, &id), MMSYSERR_INVALHANDLE);
    }
    for (HMIDIIN h : {HMIDIIN(nullptr), HMIDIIN(uintptr_t(0x1234)), staleIn}) {
        EXPECT_EQ(midiInStart(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiInStop(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiInReset(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiInClose(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiInAddBuffer(h, &header, sizeof header), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiInPrepareHeader(h, &header, sizeof header), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiInUnprepareHeader(h, &header, sizeof header), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiInGetID(h, &id), MMSYSERR_INVALHANDLE);
    }
    EXPECT_EQ(header.dwFlags, 0u);
}
