// The port link under Wine against the stand-in winmm.dll and its simulated unit.
#include "tests/standin/stand_in.h"
#include <gtest/gtest.h>
#include <tuple>
#include "midi/port_link.h"
#include "protocol/device_state.h"

using Lines = std::vector<std::string>;
static StandIn sim;

// Closes the link and sets the scenario; then opens the unit's ports if asked to.
static void Reset(const char* scenario, bool open = false) {
    CloseInputPort();
    CloseOutputPort();
    TheDevice.DeviceMode.store(Absent);
    ASSERT_TRUE(sim.Configure(scenario)) << scenario;
    ASSERT_TRUE(!open || OpenOutputPort(1) + OpenInputPort(1) == 0);
}
static void SendStatusRequest() {
    SendSysEx(MessageTable[MSG_STATUS_REQUEST].bytes, MessageTable[MSG_STATUS_REQUEST].length);
}
static void Inject(const std::vector<uint8_t>& bytes, int isShort = 0) {
    ASSERT_EQ(sim.api.inject(bytes.data(), static_cast<int>(bytes.size()), isShort), 0);
}
static bool Parsed(uint8_t code) {
    ClearReplyCode(TheDevice);
    Inject({0xF0, 0x2C, 0x4D, code, 0xF7});
    return WaitUntil([&] { return LoadReplyCode(TheDevice) == code; });
}

// The list is a combo box, filled over what it listed before; its entries joined by |. The rule
// itself has its rows natively; these check the names it is given.
TEST(PortLink, PairsAnOutputWithItsInputByNameElseByStemAndListsOutputs) {
    HWND list = CreateWindowExA(0, "COMBOBOX", "", CBS_DROPDOWNLIST, 0, 0, 99, 99, nullptr, nullptr,
                                nullptr, nullptr);
    for (const auto& [scenario, output, input, listed] :
         std::vector<std::tuple<const char*, unsigned, int, std::string>>{
             {"outputs=tavi;inputs=tavi MIDI In|tavi MIDI In;caps_fail_in=0", 0, 1, "tavi"},
             {"outputs=Other|tavi;inputs=tavi MIDI In;caps_fail_out=1", 1, -1,
              "Other|MIDI output 2"},
             // Names no rule pairs (a user's own), the same device; two units of one name that
             // tell no device: the second of the name is the second unit.
             {"outputs=Other|tavi Out;inputs=tavi-b In|Other", 1, 0, "Other|tavi Out"},
             {"stack=wms;units=2;numbered=0;interfaces=0", 2, 2, "Other|tavi|tavi"},
             {"outputs=Timecode Unit 31 Characters Out;inputs=Timecode Unit 31 Characters In", 0, 0,
              "Timecode Unit 31 Characters Out"},
         }) {
        Reset(scenario);
        EXPECT_EQ(FindInputForOutput(output), input) << scenario;
        EXPECT_EQ(FillPortList(list), 0) << scenario;
        std::string entries;
        for (WPARAM i = 0; i < WPARAM(SendMessageA(list, CB_GETCOUNT, 0, 0)); ++i) {
            char text[64] = {};
            SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            entries += (i ? "|" : "") + std::string(text);
        }
        EXPECT_EQ(entries, listed) << scenario;
    }
    DestroyWindow(list);
}

TEST(PortLink, OpensAndClosesInOrderAndFindsItsPairAgain) {
    Reset("outputs=tavi;inputs=tavi MIDI In");
    EXPECT_EQ(ProbeInputPort(), 5u); // no input: as if lost
    // Opening again closes the old port first.
    ASSERT_EQ(OpenOutputPort(0) + OpenInputPort(0) + OpenOutputPort(0) + OpenInputPort(0), 0);
    EXPECT_EQ(ProbeInputPort(), 0u);
    EXPECT_TRUE(Parsed(REPLY_RECORD_ACCEPTED));
    // With half a message in a buffer, stop hands it back and reset the other: neither may go
    // back to the driver, or the close would be refused.
    sim.api.clearTranscript();
    Inject({0xF0, 0x2C, 0x4D, 0x21});
    ASSERT_TRUE(WaitUntil([] { return sim.CountOf("tx") == 1; }));
    CloseInputPort();
    CloseOutputPort();
    Lines events = sim.Events();
    EXPECT_EQ(events.back(), "close out"); // after the output reset's channel messages
    events.resize(5);
    EXPECT_EQ(events, (Lines{"tx F0 2C 4D 21", "stop in", "reset in", "close in", "reset out"}));
    // The open pair is found again at any index, by device or else by name: the other unit
    // leaving renumbers the lists; this one leaving does not go unnoticed.
    for (const char* scenario : {"units=2", "units=2;interfaces=0"}) {
        Reset(scenario);
        ASSERT_EQ(OpenOutputPort(2) + OpenInputPort(2), 0);
        EXPECT_TRUE(PortsStillListed());
        sim.api.unplug();
        EXPECT_TRUE(PortsStillListed()) << scenario;
        Reset(scenario, true);
        sim.api.unplug();
        EXPECT_FALSE(PortsStillListed()) << scenario;
    }
}

// A send to a gone unit, or whose buffer the driver keeps, closes the input, then the output.
// Completion is waited for: a release before it would be refused.
TEST(PortLink, SendsWaitForTheDriverAndALostUnitOrFiveRefusedReleasesCloseTheLink) {
    Reset("normal");
    SendStatusRequest(); // nothing open: nothing happens
    EXPECT_EQ(sim.Events(), Lines{});
    for (const auto& [scenario, refusal, refusals, closes] :
         std::vector<std::tuple<const char*, const char*, size_t, bool>>{
             {"unplug_code=6", "refused midiOutLongMsg 6", 1, true},
             {"unplug_code=5", "refused midiOutLongMsg 5", 1, true},
             {"unplug_code=1", "refused midiOutLongMsg 1", 1, true},
             {"stack=wms", "refused midiOutPrepareHeader 6", 1, true}, // the input never closes
             {"refuse_release=4", "refused midiOutUnprepareHeader 65", 4, false},
             {"refuse_release=5", "refused midiOutUnprepareHeader 65", 5, true},
             {"async_done=50", "refused", 0, false},
             {"async_done=5000", "done out", 0, true}, // never done: the wait is bounded
         }) {
        SCOPED_TRACE(scenario);
        Reset(scenario, true);
        if (scenario[0] == 'u' || scenario[0] == 's') {
            sim.api.unplug();
        }
        sim.api.clearTranscript();
        SendStatusRequest();
        EXPECT_EQ(sim.CountOf(refusal), refusals) << testing::PrintToString(sim.Events());
        EXPECT_EQ(sim.Events("close"), (!closes              ? Lines{}
                                        : scenario[0] == 's' ? Lines{"close out"}
                                                             : Lines{"close in", "close out"}));
        // The next send, from another thread as the worker's: the link was not left locked.
        sim.api.clearTranscript();
        HANDLE sender = CreateThread(
            nullptr, 0, [](void*) -> DWORD { return SendStatusRequest(), 0; }, nullptr, 0, nullptr);
        EXPECT_EQ(WaitForSingleObject(sender, 20000), WAIT_OBJECT_0);
        CloseHandle(sender);
        EXPECT_EQ(sim.CountOf("rx F0 2C 4D 10 F7"), closes ? 0u : 1u);
        EXPECT_EQ(PortsOpen(), !closes);
    }
}

TEST(PortLink, WholeRepliesAreParsedInTurnAndSplitOversizedOrCutOnesNever) {
    Reset("normal", true);
    // Both buffers are queued after opening, and two replies in one pass fill both before the
    // first notification runs: handing one back early would lose the other.
    Inject({0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31, 0xF7, 0xF0, 0x2C, 0x4D, 0x40, 0xF7});
    EXPECT_TRUE(WaitUntil([] { return LoadReplyCode(TheDevice) == REPLY_RECORD_ACCEPTED; }));
    EXPECT_EQ(TheDevice.DeviceMode.load(), Normal);
    // Each would read as a status reply: over 512 bytes with both buffers queued (its rest
    // ends in F7, headless) or one (its rest dropped); cut short by a note.
    for (size_t length : {600, 1200, 0}) {
        if (length != 1200) {
            Reset("normal", true);
        }
        std::vector<uint8_t> reply = {0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31};
        reply.resize(length ? length - 1 : reply.size(), 0x00);
        reply.resize(length ? length : reply.size(), 0xF7);
        Inject(reply);
        Inject({0x90, 0x3C, 0x40}, 1);
        // More replies than buffers, one at a time: each needs a buffer handed back.
        for (uint8_t code : {0x4E, 0x40, 0x4E, 0x40}) {
            ASSERT_TRUE(Parsed(code)) << length << testing::PrintToString(sim.Events());
        }
        EXPECT_EQ(TheDevice.DeviceMode.load(), Absent) << length;
    }
}
