// The double-buffered receive path: whole replies are parsed, everything else is not, and a
// buffer always goes back to the driver so that the next reply finds one.
#include "tests/midi/sim_fixture.h"

namespace {

class Receive : public PortLinkTest {
  protected:
    // Two messages injected as one output fill the buffers before the notifications run, faster
    // than any cable. Past the first reply only one buffer is with the driver (the other waits
    // for the next completion), so a reply that follows another in the same output finds none
    // and is dropped. Sending it again until it is parsed tells "receiving goes on" from "no buffer
    // ever goes back", which no number of retries would cure.
    bool ParsedAfterRetries(const std::vector<uint8_t>& reply) {
        for (int attempt = 0; attempt < 10; ++attempt) {
            ClearReplyCode(TheDevice);
            Inject(reply);
            if (WaitUntil([&] { return LoadReplyCode(TheDevice) == reply[3]; }, 300)) {
                return true;
            }
        }
        return false;
    }
};

// More replies than there are buffers, one at a time: each needs a buffer handed back.
TEST_F(Receive, EveryReplyOfALongRunIsParsed) {
    Configure("normal");
    OpenUnitPorts();
    sim.clearTranscript();
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
    Configure("normal");
    OpenUnitPorts();
    Inject({0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31, 0xF7, 0xF0, 0x2C, 0x4D, 0x40, 0xF7});
    ASSERT_TRUE(WaitUntil([] { return LoadReplyCode(TheDevice) == 0x40; })) << Transcript();
    EXPECT_EQ(TheDevice.DeviceMode.load(), Normal);
    EXPECT_EQ(CountOf("dropped"), 0) << Transcript();
    for (uint8_t code : {0x4E, 0x40, 0x4E}) {
        EXPECT_TRUE(ParsedAfterRetries({0xF0, 0x2C, 0x4D, code, 0xF7})) << Transcript();
    }
}

TEST_F(Receive, AStoredReplySignalsTheEvent) {
    Configure("normal");
    OpenUnitPorts();
    Inject({0xF0, 0x2C, 0x4D, 0x20, 0x7F, 0x7F, 0xF7});
    ASSERT_EQ(WaitForSingleObject(ReplyStoredEvent(), 3000), WAIT_OBJECT_0);
    EXPECT_EQ(LoadReplyCode(TheDevice), 0x20);
    EXPECT_EQ(TheDevice.DeviceMode.load(), Update);
    EXPECT_EQ(TheDevice.FirmwareVersion[0].load(), 0x7F);
}

// Replies whose bytes would read as a status reply (F0 2C 4D 21 '2' '1') if a buffer without
// the final F7 were parsed.
std::vector<uint8_t> StatusReplyPaddedTo(size_t length) {
    std::vector<uint8_t> reply = {0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31};
    reply.resize(length - 1, 0x00);
    reply.push_back(0xF7);
    return reply;
}

struct OversizeCase {
    size_t length;
    bool afterAnotherReply; // only one buffer is with the driver then
};

class OversizeReply : public Receive, public ::testing::WithParamInterface<OversizeCase> {};

// A reply over 512 bytes fills one buffer without its F7; its rest, in the other buffer (when
// there is one), ends in F7 but lacks the head. Neither is parsed, and receiving goes on.
TEST_P(OversizeReply, IsNeverParsedAndReceivingGoesOn) {
    Configure("normal");
    OpenUnitPorts();
    if (GetParam().afterAnotherReply) {
        ASSERT_TRUE(ParsedAfterRetries({0xF0, 0x2C, 0x4D, 0x40, 0xF7}));
    }
    Inject(StatusReplyPaddedTo(GetParam().length));
    for (uint8_t code : {0x4E, 0x40, 0x4E}) {
        ASSERT_TRUE(ParsedAfterRetries({0xF0, 0x2C, 0x4D, code, 0xF7})) << Transcript();
    }
    EXPECT_EQ(TheDevice.DeviceMode.load(), Absent);
    EXPECT_EQ(TheDevice.FirmwareVersion[0].load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Lengths, OversizeReply,
                         ::testing::Values(OversizeCase{513, false}, // the F7 alone in B
                                           OversizeCase{600, false}, OversizeCase{600, true},
                                           OversizeCase{1200, true}));

// A message cut short (here by a short message) comes back as a long error: nothing is parsed
// from it, and the other buffer still goes back.
TEST_F(Receive, ALongErrorIsNotParsedAndReceivingGoesOn) {
    Configure("normal");
    OpenUnitPorts();
    const uint8_t noteOn[] = {0x90, 0x3C, 0x40};
    for (int round = 0; round < 3; ++round) {
        Inject({0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31});
        ASSERT_EQ(sim.inject(noteOn, 3, 1), 0);
        ASSERT_TRUE(ParsedAfterRetries({0xF0, 0x2C, 0x4D, 0x40, 0xF7})) << Transcript();
    }
    EXPECT_EQ(TheDevice.DeviceMode.load(), Absent);
}

TEST_F(Receive, ShortMessagesAndForeignSysExChangeNothing) {
    Configure("normal");
    OpenUnitPorts();
    const uint8_t noteOn[] = {0x90, 0x3C, 0x40};
    ASSERT_EQ(sim.inject(noteOn, 3, 1), 0);
    Inject({0xF0, 0x41, 0x10, 0x21, 0x32, 0x31, 0xF7});
    Inject({0xF0, 0x2C, 0x4D, 0x40, 0xF7});
    ASSERT_TRUE(WaitUntil([] { return LoadReplyCode(TheDevice) == 0x40; })) << Transcript();
    EXPECT_EQ(TheDevice.DeviceMode.load(), Absent);
}

TEST_F(Receive, NothingIsParsedOnceTheInputIsClosed) {
    Configure("normal");
    OpenUnitPorts();
    CloseInputPort();
    sim.clearTranscript();
    Inject({0xF0, 0x2C, 0x4D, 0x40, 0xF7});
    ASSERT_TRUE(WaitUntil([&] { return IndexOf("dropped") >= 0; })) << Transcript();
    EXPECT_EQ(LoadReplyCode(TheDevice), 0);
}

} // namespace
