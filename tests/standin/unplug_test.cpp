// A unit that vanishes: data calls answer "no driver", the closing calls still work.
#include "tests/standin/standin_fixture.h"

namespace {

struct GoneCase {
    const char* scenario;
    MMRESULT code;
};

} // namespace

TEST_F(StandIn, AfterAnUnplugDataCallsFailAndClosingStillWorks) {
    for (GoneCase c : {GoneCase{"normal", MMSYSERR_NODRIVER},
                       GoneCase{"normal;unplug_code=5", MMSYSERR_INVALHANDLE}}) {
        Configure(c.scenario);
        OpenUnitPair();
        SendLong(kStatusRequest);
        ASSERT_EQ(midiOutUnprepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MIM_LONGDATA) == 1; }));
        api.unplug();
        EXPECT_TRUE(HasEvent("unplug"));
        ASSERT_EQ(midiOutPrepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        EXPECT_EQ(midiOutLongMsg(out, &sendHeader, sizeof(MIDIHDR)), c.code) << c.scenario;
        EXPECT_EQ(midiOutShortMsg(out, 0x90), c.code) << c.scenario;
        EXPECT_EQ(midiInStart(in), c.code) << c.scenario;
        EXPECT_EQ(midiInAddBuffer(in, &headerA, sizeof(MIDIHDR)), c.code) << c.scenario;
        EXPECT_TRUE(HasEvent("refused midiInStart " + std::to_string(c.code)));
        // The unit's ports are gone from the lists; the other ones stay.
        EXPECT_EQ(midiOutGetNumDevs(), 1u);
        EXPECT_EQ(midiInGetNumDevs(), 1u);
        // Stop, reset and close still work and hand back the queued buffer.
        EXPECT_EQ(midiInStop(in), MMSYSERR_NOERROR);
        EXPECT_EQ(midiInReset(in), MMSYSERR_NOERROR);
        EXPECT_EQ(headerB.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE));
        EXPECT_EQ(midiOutReset(out), MMSYSERR_NOERROR);
        CloseAll();
        api.plugIn();
        EXPECT_EQ(midiOutGetNumDevs(), 2u);
        std::lock_guard<std::mutex> hold(recorder.mutex);
        recorder.seen.clear();
    }
}

TEST_F(StandIn, UnplugAfterATimeByScenario) {
    Configure("normal;unplug_after=300");
    OpenUnitPair();
    EXPECT_EQ(midiInStart(in), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitUntil([&] { return midiInStart(in) == MMSYSERR_NODRIVER; }));
    EXPECT_TRUE(HasEvent("unplug"));
}

TEST_F(StandIn, UnplugOnARecordByScenario) {
    // Data record 0 of an update: the unit vanishes when it arrives and does not answer.
    Configure("update;unplug_record=0");
    OpenUnitPair();
    const std::vector<uint8_t> erase = {0xF0, 0x2C, 0x4D, 0x12, 0xF7};
    SendLong(erase);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MIM_LONGDATA) == 1; }));
    ASSERT_EQ(midiOutUnprepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    // Record 0 at address 0: version bytes '2' '1', checksum (128 - (2 + 0x32 + 0x31) % 128).
    const std::vector<uint8_t> record = {0xF0, 0x2C, 0x4D, 0x30, 0x00, 0x00,
                                         0x00, 0x02, 0x32, 0x31, 0x1B, 0xF7};
    SendLong(record);
    EXPECT_TRUE(HasEvent("unplug"));
    EXPECT_EQ(midiOutShortMsg(out, 0x90), MMSYSERR_NODRIVER);
    EXPECT_EQ(recorder.Count(MIM_LONGDATA), 1u);
}

TEST_F(StandIn, HandlesFromBeforeAReplugStayDead) {
    OpenUnitPair();
    api.unplug();
    api.plugIn();
    EXPECT_EQ(midiInStart(in), MMSYSERR_NODRIVER);
    // The fresh unit's ports can be opened beside the dead handles.
    HMIDIOUT fresh = nullptr;
    ASSERT_EQ(midiOutOpen(&fresh, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutShortMsg(fresh, 0x00403C90), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(fresh), MMSYSERR_NOERROR);
}
