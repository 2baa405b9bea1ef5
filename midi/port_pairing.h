// Which MIDI input belongs to a MIDI output: the same rule for every shell, platform free.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

// What a shell can tell of one port without opening it: its name as listed, and the device it
// belongs to where the platform says so ("" when it does not).
struct PortIdentity {
    std::string name;
    std::string device;
};

// Index into inputs of the input that pairs with outputs[output], or -1.
//   1. An input of the output's device, where both are known.
//   2. Else, by name, among inputs not known to be another device's: the first input whose name
//      begins with the output's name; failing that, the first whose name is the same once the
//      direction marks are taken off both ("tavi Out" / "tavi In", "MIDIOUT2 (tavi)" /
//      "MIDIIN2 (tavi)"). When several outputs carry that output's exact name, the k-th of them
//      takes the k-th input named as the first match is (-1 when there is no k-th).
// Names are compared byte for byte; only the direction marks ignore case.
int MatchInput(const std::vector<PortIdentity>& outputs, size_t output,
               const std::vector<PortIdentity>& inputs);
