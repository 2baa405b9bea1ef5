// Listing outputs into the port list and pairing an output with its input by name.
#include "tests/midi/sim_fixture.h"

namespace {

using PortList = PortLinkTest;

TEST_F(PortList, PairsAnOutputWithTheFirstInputWhoseNameBeginsWithItsName) {
    const struct {
        const char* scenario;
        unsigned output;
        int input;
    } cases[] = {
        {"outputs=USB Audio Device;inputs=Other|USB Audio Device", 0, 1},
        {"outputs=tavi;inputs=tavi MIDI In", 0, 0},
        {"outputs=tavi 2;inputs=tavi", 0, -1},
        {"outputs=Other|tavi;inputs=tavi MIDI In|tavi", 1, 0},
        {"outputs=TAVI;inputs=tavi MIDI In", 0, -1}, // byte for byte: no case folding
        // Capabilities that cannot be read match nothing, on either side.
        {"outputs=tavi;inputs=tavi MIDI In|tavi MIDI In;caps_fail_in=0", 0, 1},
        {"outputs=tavi;inputs=tavi MIDI In;caps_fail_out=0", 0, -1},
        {"outputs=tavi;inputs=tavi MIDI In", 1, -1}, // past the last output
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        Configure(c.scenario);
        EXPECT_EQ(FindInputForOutput(c.output), c.input);
    }
}

// The list a hidden window's combo box ends up with, after a stale entry was put in it.
TEST_F(PortList, ListsEveryOutputAtItsIndexInPlaceOfWhatWasListedBefore) {
    const struct {
        const char* scenario;
        int result;
        std::vector<std::string> entries;
    } cases[] = {
        {"outputs=Other|tavi|USB Audio Device;inputs=tavi MIDI In",
         0,
         {"Other", "tavi", "USB Audio Device"}},
        {"outputs=Other|Broken|tavi;inputs=tavi MIDI In;caps_fail_out=1",
         0,
         {"Other", "MIDI output 2", "tavi"}},
        {"no_ports=1", -1, {}},
    };
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    HWND list = CreateWindowExA(0, "COMBOBOX", "", WS_CHILD | CBS_DROPDOWNLIST | WS_VSCROLL, 0, 0,
                                200, 150, parent, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(list, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("stale entry"));
        Configure(c.scenario);
        EXPECT_EQ(FillPortList(list), c.result);
        std::vector<std::string> entries;
        for (LRESULT i = 0; i < SendMessageA(list, CB_GETCOUNT, 0, 0); ++i) {
            char text[64] = {};
            SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(text));
            entries.push_back(text);
        }
        EXPECT_EQ(entries, c.entries);
    }
    DestroyWindow(parent);
}

} // namespace
