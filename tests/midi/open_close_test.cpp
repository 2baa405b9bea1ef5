// Opening and closing the pair of ports: result codes, and nothing left open on failure.
#include "tests/midi/sim_fixture.h"

namespace {

using OpenClose = PortLinkTest;

TEST_F(OpenClose, OpensTheUnitsPairAndStartsReceiving) {
    Configure("normal");
    OpenUnitPorts();
    EXPECT_EQ(Events(), (std::vector<std::string>{"open out 1", "open in 1", "start in"}));
}

TEST_F(OpenClose, AnOutputIndexEqualToTheCountAnswersMinusOneAndLeavesNoOutputOpen) {
    Configure("normal"); // two outputs
    ASSERT_EQ(OpenOutputPort(1), 0);
    EXPECT_EQ(OpenOutputPort(2), -1);
    ASSERT_EQ(OpenInputPort(1), 0);
    EXPECT_FALSE(PortsOpen());
    EXPECT_EQ(CountOf("open out"), 1);
    EXPECT_EQ(CountOf("close out"), 1);
}

TEST_F(OpenClose, AnInputIndexEqualToTheCountAnswersMinusTwoAndLeavesNoInputOpen) {
    Configure("normal"); // two inputs
    ASSERT_EQ(OpenInputPort(1), 0);
    EXPECT_EQ(OpenInputPort(2), -2);
    EXPECT_EQ(CountOf("open in"), 1);
    EXPECT_EQ(CountOf("close in"), 1);
    ASSERT_EQ(OpenOutputPort(1), 0);
    EXPECT_FALSE(PortsOpen());
}

TEST_F(OpenClose, ABusyOutputAnswersMinusTwo) {
    Configure("busy_out=1");
    EXPECT_EQ(OpenOutputPort(1), -2);
    EXPECT_EQ(Events(), (std::vector<std::string>{"refused midiOutOpen 4"}));
    ASSERT_EQ(OpenInputPort(1), 0);
    EXPECT_FALSE(PortsOpen());
}

TEST_F(OpenClose, ABusyInputAnswersMinusFour) {
    Configure("busy_in=1");
    EXPECT_EQ(OpenInputPort(1), -4);
    EXPECT_EQ(Events(), (std::vector<std::string>{"refused midiInOpen 4"}));
    ASSERT_EQ(OpenOutputPort(1), 0);
    EXPECT_FALSE(PortsOpen());
}

TEST_F(OpenClose, NoPortsAtAllAnswerMinusOneAndMinusTwo) {
    Configure("no_ports=1");
    EXPECT_EQ(OpenOutputPort(0), -1);
    EXPECT_EQ(OpenInputPort(0), -2);
    EXPECT_TRUE(Events().empty()) << Transcript();
}

TEST_F(OpenClose, ClosingStopsReleasesResetsAndClosesWithoutRefusal) {
    Configure("normal");
    OpenUnitPorts();
    // A message cut off halfway sits in the first buffer when the close begins: stop hands
    // it back, reset the other, and neither may be queued again.
    Inject({0xF0, 0x2C, 0x4D, 0x21, 0x32});
    ASSERT_TRUE(
        WaitUntil([&] { return sim.readTranscript(nullptr, 0) > 0 && IndexOf("tx") >= 0; }));
    sim.clearTranscript();

    CloseInputPort();
    CloseOutputPort();
    EXPECT_FALSE(PortsOpen());
    // (Resetting the output also sends the unit its channel messages: "rx" lines, left out.)
    std::vector<std::string> portEvents;
    for (const std::string& event : Events()) {
        if (event.compare(0, 3, "rx ") != 0) {
            portEvents.push_back(event);
        }
    }
    EXPECT_EQ(portEvents, (std::vector<std::string>{"stop in", "reset in", "close in", "reset out",
                                                    "close out"}))
        << Transcript();
}

TEST_F(OpenClose, ReopeningClosesTheOldPortsFirstAndStillReceives) {
    Configure("normal");
    OpenUnitPorts();
    OpenUnitPorts();
    EXPECT_EQ(CountOf("close out"), 1);
    EXPECT_EQ(CountOf("close in"), 1);
    Inject({0xF0, 0x2C, 0x4D, 0x40, 0xF7});
    EXPECT_TRUE(WaitUntil([] { return LoadReplyCode(TheDevice) == 0x40; }));
}

TEST_F(OpenClose, ClosingWhatIsNotOpenDoesNothing) {
    Configure("normal");
    CloseInputPort();
    CloseOutputPort();
    EXPECT_TRUE(Events().empty()) << Transcript();
}

TEST_F(OpenClose, TheProbeAnswersLikeALostPortWhenNoInputIsOpen) {
    Configure("normal");
    EXPECT_EQ(ProbeInputPort(), static_cast<unsigned>(MMSYSERR_INVALHANDLE));
    OpenUnitPorts();
    EXPECT_EQ(ProbeInputPort(), static_cast<unsigned>(MMSYSERR_NOERROR));
    sim.unplug();
    const unsigned lost = ProbeInputPort();
    EXPECT_TRUE(lost == MMSYSERR_INVALHANDLE || lost == MMSYSERR_NODRIVER) << lost;
}

} // namespace
