// A unit that vanishes: data calls answer "no driver", the closing calls still work.
#include "tests/standin/standin_fixture.h"

TEST_F(StandIn, AfterAnUnplugDataCallsFailAndClosingStillWorks) {
    struct Case {
        const char* scenario;
        MMRESULT code;
    };
    for (Case c : {Case{"normal;unplug_code=5", 5}, Case{"normal", MMSYSERR_NODRIVER}}) {
        SCOPED_TRACE(c.scenario);
        CloseAll();
        Configure(c.scenario);
        OpenUnitPair();
        SendLong(kStatusRequest);
        ASSERT_EQ(midiOutUnprepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        ASSERT_TRUE(WaitUntil([&] { return LongSeen().size() == 1; }));
        api.unplug();
        EXPECT_TRUE(HasEvent("unplug"));
        ASSERT_EQ(midiOutPrepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        EXPECT_EQ(midiOutLongMsg(out, &sendHeader, sizeof(MIDIHDR)), c.code);
        EXPECT_EQ(midiOutShortMsg(out, 0x90), c.code);
        EXPECT_EQ(midiInStart(in), c.code);
        EXPECT_EQ(midiInAddBuffer(in, &headerA, sizeof(MIDIHDR)), c.code);
        EXPECT_TRUE(HasEvent("refused midiInStart " + std::to_string(c.code)));
        // The unit's ports are gone from the lists; the other ones stay.
        EXPECT_EQ(midiOutGetNumDevs(), 1u);
        EXPECT_EQ(midiInGetNumDevs(), 1u);
        // Stop, reset and close still work and hand back the queued buffers.
        EXPECT_EQ(midiInStop(in), MMSYSERR_NOERROR);
        EXPECT_EQ(midiInReset(in), MMSYSERR_NOERROR);
        EXPECT_EQ(headerB.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE));
        EXPECT_EQ(midiOutReset(out), MMSYSERR_NOERROR);
        api.plugIn();
        HMIDIOUT fresh = nullptr;
        ASSERT_EQ(midiOutOpen(&fresh, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        EXPECT_EQ(midiOutShortMsg(fresh, 0x00403C90), MMSYSERR_NOERROR);
        EXPECT_EQ(midiOutClose(fresh), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(midiInStart(in), MMSYSERR_NODRIVER); // handles from before a replug stay dead
}

TEST_F(StandIn, UnplugAfterATimeOrOnARecordByScenario) {
    Configure("normal;unplug_after=300");
    OpenUnitPair();
    ASSERT_TRUE(WaitUntil([&] { return midiInStart(in) == MMSYSERR_NODRIVER; }));
    CloseAll();
    // Data record 0 of an update: the unit vanishes when it arrives and does not answer.
    Configure("update;unplug_record=0");
    OpenUnitPair();
    SendLong({0xF0, 0x2C, 0x4D, 0x12, 0xF7}); // erase
    ASSERT_TRUE(WaitUntil([&] { return LongSeen().size() == 1; }));
    ASSERT_EQ(midiOutUnprepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    SendLong({0xF0, 0x2C, 0x4D, 0x30, 0x00, 0x00, 0x00, 0x02, 0x32, 0x31, 0x1B, 0xF7});
    EXPECT_TRUE(HasEvent("unplug"));
    EXPECT_EQ(midiOutShortMsg(out, 0x90), MMSYSERR_NODRIVER);
    EXPECT_EQ(LongSeen().size(), 1u);
}
