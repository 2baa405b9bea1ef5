// Opening and closing the pair of ports: result codes, and nothing left open on failure.
#include "tests/midi/sim_fixture.h"

namespace {

using OpenClose = PortLinkTest;

TEST_F(OpenClose, OpensTheUnitsPairStartsReceivingAndTheProbeFollowsTheInput) {
    Configure("normal");
    EXPECT_EQ(ProbeInputPort(), static_cast<unsigned>(MMSYSERR_INVALHANDLE));
    OpenUnitPorts();
    EXPECT_EQ(Events(), (std::vector<std::string>{"open out 1", "open in 1", "start in"}));
    EXPECT_EQ(ProbeInputPort(), static_cast<unsigned>(MMSYSERR_NOERROR));
    // Opening again closes the old pair first, and receiving goes on.
    OpenUnitPorts();
    EXPECT_EQ(CountOf("close out"), 1);
    EXPECT_EQ(CountOf("close in"), 1);
    Inject({0xF0, 0x2C, 0x4D, 0x40, 0xF7});
    EXPECT_TRUE(WaitUntil([] { return LoadReplyCode(TheDevice) == 0x40; }));
    sim.unplug();
    const unsigned lost = ProbeInputPort();
    EXPECT_TRUE(lost == MMSYSERR_INVALHANDLE || lost == MMSYSERR_NODRIVER) << lost;
}

// A failed open leaves that side closed (an earlier open of it too), so the pair is never open.
TEST_F(OpenClose, FailuresAnswerTheirCodeAndLeaveNothingOpen) {
    const struct {
        const char* scenario;
        bool input;
        unsigned index;
        int result;
        const char* refusal; // the driver's, or nullptr
    } cases[] = {
        {"normal", false, 2, -1, nullptr}, // two outputs, two inputs
        {"normal", true, 2, -2, nullptr},
        {"busy_out=1", false, 1, -2, "refused midiOutOpen 4"},
        {"busy_in=1", true, 1, -4, "refused midiInOpen 4"},
        {"no_ports=1", false, 0, -1, nullptr},
        {"no_ports=1", true, 0, -2, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.scenario) + (c.input ? " in" : " out"));
        Configure(c.scenario);
        auto open = [&](unsigned index) {
            return c.input ? OpenInputPort(index) : OpenOutputPort(index);
        };
        open(1); // fails with the port busy or absent
        EXPECT_EQ(open(c.index), c.result);
        if (c.refusal) {
            EXPECT_EQ(CountOf(c.refusal), 2) << Transcript();
        }
        c.input ? OpenOutputPort(1) : OpenInputPort(1);
        EXPECT_FALSE(PortsOpen());
        const std::string side = c.input ? " in" : " out";
        EXPECT_EQ(CountOf("open" + side), CountOf("close" + side)) << Transcript();
        TearDown();
    }
}

TEST_F(OpenClose, ClosingStopsReleasesResetsAndClosesWithoutRefusal) {
    Configure("normal");
    OpenUnitPorts();
    // A message cut off halfway sits in the first buffer when the close begins: stop hands
    // it back, reset the other, and neither may be queued again.
    Inject({0xF0, 0x2C, 0x4D, 0x21, 0x32});
    ASSERT_TRUE(WaitUntil([&] { return IndexOf("tx") >= 0; })) << Transcript();
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
    // Closing what is not open touches nothing.
    sim.clearTranscript();
    TearDown();
    EXPECT_TRUE(Events().empty()) << Transcript();
}

} // namespace
