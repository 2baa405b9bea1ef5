// Listing outputs into the port list and pairing an output with its input by name.
#include "tests/midi/sim_fixture.h"

namespace {

struct PairingCase {
    const char* scenario;
    unsigned output;
    int expectedInput;
};

class PortPairing : public PortLinkTest, public ::testing::WithParamInterface<PairingCase> {};

TEST_P(PortPairing, FindsTheFirstInputWhoseNameBeginsWithTheOutputName) {
    Configure(GetParam().scenario);
    EXPECT_EQ(FindInputForOutput(GetParam().output), GetParam().expectedInput);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PortPairing,
    ::testing::Values(PairingCase{"outputs=USB Audio Device;inputs=Other|USB Audio Device", 0, 1},
                      PairingCase{"outputs=tavi;inputs=tavi MIDI In", 0, 0},
                      PairingCase{"outputs=tavi 2;inputs=tavi", 0, -1},
                      PairingCase{"outputs=Other|tavi;inputs=tavi MIDI In|tavi", 1, 0},
                      // byte for byte: no case folding
                      PairingCase{"outputs=TAVI;inputs=tavi MIDI In", 0, -1},
                      // the output's name is not a prefix of a shorter input name
                      PairingCase{"outputs=tavi MIDI;inputs=tavi", 0, -1},
                      // an input whose capabilities cannot be read never matches
                      PairingCase{"outputs=tavi;inputs=tavi MIDI In|tavi MIDI In;caps_fail_in=0", 0,
                                  1},
                      // an output whose capabilities cannot be read matches nothing
                      PairingCase{"outputs=tavi;inputs=tavi MIDI In;caps_fail_out=0", 0, -1},
                      // no inputs at all, and an output index past the end
                      PairingCase{"outputs=tavi;inputs=", 0, -1},
                      PairingCase{"outputs=tavi;inputs=tavi MIDI In", 1, -1}));

// A combo box list on a hidden window, as the main window holds one.
struct ComboBox {
    HWND parent = nullptr;
    HWND list = nullptr;
    ComboBox() {
        parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        list = CreateWindowExA(0, "COMBOBOX", "", WS_CHILD | CBS_DROPDOWNLIST | WS_VSCROLL, 0, 0,
                               200, 150, parent, nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    ~ComboBox() { DestroyWindow(parent); }
    std::vector<std::string> Entries() const {
        std::vector<std::string> entries;
        const LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            char text[64] = {};
            SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(text));
            entries.push_back(text);
        }
        return entries;
    }
};

using PortList = PortLinkTest;

TEST_F(PortList, ListsEveryOutputAtItsIndexAndDropsWhatWasListedBefore) {
    ComboBox box;
    ASSERT_NE(box.list, nullptr);
    SendMessageA(box.list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("stale entry"));

    Configure("outputs=Other|tavi|USB Audio Device;inputs=tavi MIDI In");
    EXPECT_EQ(FillPortList(box.list), 0);
    EXPECT_EQ(box.Entries(), (std::vector<std::string>{"Other", "tavi", "USB Audio Device"}));
}

TEST_F(PortList, AnOutputWithUnreadableCapabilitiesKeepsItsPosition) {
    ComboBox box;
    Configure("outputs=Other|Broken|tavi;inputs=tavi MIDI In;caps_fail_out=1");
    EXPECT_EQ(FillPortList(box.list), 0);
    EXPECT_EQ(box.Entries(), (std::vector<std::string>{"Other", "MIDI output 2", "tavi"}));
}

TEST_F(PortList, WithNoOutputsTheListIsLeftEmpty) {
    ComboBox box;
    SendMessageA(box.list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("stale entry"));
    Configure("no_ports=1");
    EXPECT_EQ(FillPortList(box.list), -1);
    EXPECT_TRUE(box.Entries().empty());
}

} // namespace
