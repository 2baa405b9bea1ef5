// The double-buffered receive path: whole replies are parsed, everything else is not, and a
// buffer always goes back to the driver so that the next reply finds one.
#include "tests/midi/sim_fixture.h"

namespace {

class Receive : public PortLinkTest {
  protected:
    void SetUp() override {
        PortLinkTest::SetUp();
        Configure("normal");
        OpenUnitPorts();
    }
    // Past the first reply only one buffer is with the driver (the other waits for the next
    // completion), so a reply injected right behind another finds none and is dropped. Sending
    // it again until it is parsed tells "receiving goes on" from "no buffer ever goes back".
    bool ParsedAfterRetries(uint8_t code) {
        for (int attempt = 0; attempt < 10; ++attempt) {
            ClearReplyCode(TheDevice);
            Inject({0xF0, 0x2C, 0x4D, code, 0xF7});
            if (WaitUntil([&] { return LoadReplyCode(TheDevice) == code; }, 300)) {
                return true;
            }
        }
        return false;
    }
    void ExpectReceivingGoesOn() {
        for (uint8_t code : {0x4E, 0x40, 0x4E}) {
            ASSERT_TRUE(ParsedAfterRetries(code)) << Transcript();
        }
    }
};

// More replies than there are buffers, one at a time: each needs a buffer handed back.
TEST_F(Receive, EveryReplyOfALongRunIsParsed) {
    for (uint8_t i = 0; i < 20; ++i) {
        const uint8_t code = (i % 2) ? 0x40 : 0x4E;
        ClearReplyCode(TheDevice);
        Inject({0xF0, 0x2C, 0x4D, code, 0xF7});
        ASSERT_TRUE(WaitUntil([&] { return LoadReplyCode(TheDevice) == code; }))
            << "reply " << int(i) << "\n"
            << Transcript();
    }
    EXPECT_EQ(CountOf("dropped"), 0) << Transcript();
}

// Right after opening both buffers are queued, and two replies in one pass fill both before
// the first notification runs. Handing buffer B back while reading A would let the driver
// zero B's count before B's own notification reads it.
TEST_F(Receive, TwoRepliesReturnedTogetherAreBothParsed) {
    Inject({0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31, 0xF7, 0xF0, 0x2C, 0x4D, 0x40, 0xF7});
    ASSERT_TRUE(WaitUntil([] { return LoadReplyCode(TheDevice) == 0x40; })) << Transcript();
    EXPECT_EQ(TheDevice.DeviceMode.load(), Normal);
    EXPECT_EQ(CountOf("dropped"), 0) << Transcript();
    ExpectReceivingGoesOn();
}

// A reply over 512 bytes fills one buffer without its F7; its rest, in the other buffer (when
// there is one), ends in F7 but lacks the head. A message cut short by a short message comes
// back as a long error. None is parsed, though each would read as a status reply
// (F0 2C 4D 21 '2' '1'), and receiving goes on.
TEST_F(Receive, SplitOversizeAndCutShortRepliesAreNeverParsed) {
    const struct {
        size_t length;          // padded to this with its F7; 0: cut short instead
        bool afterAnotherReply; // only one buffer is with the driver then
    } cases[] = {{513, false}, {600, false}, {600, true}, {1200, true}, {0, false}, {0, true}};
    const uint8_t noteOn[] = {0x90, 0x3C, 0x40};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + (c.afterAnotherReply ? " after a reply" : ""));
        if (c.afterAnotherReply) {
            ASSERT_TRUE(ParsedAfterRetries(0x40));
        }
        std::vector<uint8_t> reply = {0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31};
        if (c.length == 0) {
            Inject(reply);
            ASSERT_EQ(sim.inject(noteOn, 3, 1), 0);
        } else {
            reply.resize(c.length - 1, 0x00);
            reply.push_back(0xF7);
            Inject(reply);
        }
        ExpectReceivingGoesOn();
        EXPECT_EQ(TheDevice.DeviceMode.load(), Absent);
        EXPECT_EQ(TheDevice.FirmwareVersion[0].load(), 0);
        TearDown();
        OpenUnitPorts();
    }
}

TEST_F(Receive, NothingIsParsedOnceTheInputIsClosed) {
    CloseInputPort();
    sim.clearTranscript();
    Inject({0xF0, 0x2C, 0x4D, 0x40, 0xF7});
    ASSERT_TRUE(WaitUntil([&] { return IndexOf("dropped") >= 0; })) << Transcript();
    EXPECT_EQ(LoadReplyCode(TheDevice), 0);
}

} // namespace
