// Which input pairs with an output: by device, else by name, prefix first, then stem, then rank.
#include <gtest/gtest.h>
#include <sstream>
#include "midi/port_pairing.h"

// "name@device|name|..." into identities.
std::vector<PortIdentity> Ports(const std::string& text) {
    std::vector<PortIdentity> ports;
    std::istringstream list(text);
    for (std::string port; std::getline(list, port, '|');) {
        const size_t at = port.find('@');
        ports.push_back({port.substr(0, at), at == std::string::npos ? "" : port.substr(at + 1)});
    }
    return ports;
}

TEST(MatchInput, PairsByDeviceElseByNameAndNeverWithAnotherDevice) {
    for (const auto& [outputs, output, inputs, expected] :
         std::vector<std::tuple<const char*, size_t, const char*, int>>{
             {"USB Audio Device", 0, "Other|USB Audio Device", 1},
             {"Other|tavi", 1, "tavi MIDI In|tavi", 0},
             {"TAVI", 0, "tavi MIDI In", -1}, // names are bytes, not words
             {"tavi|x", 2, "tavi", -1},
             {"|tavi", 0, "tavi|", -1}, // an unreadable name pairs with nothing
             // Failing a prefix, the same name once the direction marks are off.
             {"tavi Out|tavi (2) Out", 0, "tavi (2) In|tavi In", 1},
             {"MIDIOUT2 (tavi)", 0, "MIDIIN3 (tavi)", 0},
             {"tavi MIDI OUT", 0, "Other|tavi midi in", 1},
             {"tavi Output", 0, "tavi Input|tavi Output 2", 1},
             {"Desk Out", 0, "Desk Mixer In|desk In", -1},
             // Identical names: the k-th output of a name takes the k-th input of that name.
             {"tavi|tavi", 1, "tavi MIDI In|tavi|tavi MIDI In", 2},
             {"tavi|tavi", 1, "tavi", -1},
             {"tavi Out|tavi Out", 1, "tavi In|x|tavi In", 2},
             // By device first, whatever the names and their order.
             {"tavi@B", 0, "tavi@A|tavi@B", 1},
             {"tavi@B", 0, "Other@B|tavi@A", 0},
             {"tavi@B", 0, "tavi@A|tavi", 1}, // another device's input is never taken
             {"tavi", 0, "tavi@A", 0},        // an output of unknown device still pairs by name
         }) {
        EXPECT_EQ(MatchInput(Ports(outputs), output, Ports(inputs)), expected)
            << outputs << " #" << output << " -> " << inputs;
    }
}
