#include "midi/port_pairing.h"

#include <cstring>

namespace {

bool SameIgnoringCase(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? char(a[i] - 'A' + 'a') : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? char(b[i] - 'A' + 'a') : b[i];
        if (x != y) {
            return false;
        }
    }
    return true;
}

// A port's name without its direction mark: the "MIDIOUTn (...)" / "MIDIINn (...)" wrapper, or
// a trailing " Out", " Output", " MIDI Out" / " In", " Input", " MIDI In" in any case.
std::string StemOf(const std::string& name, bool output) {
    const char* text = name.c_str();
    size_t length = name.size();
    const char* const wrapper = output ? "MIDIOUT" : "MIDIIN";
    const size_t wrapperLength = strlen(wrapper);
    if (length > wrapperLength && SameIgnoringCase(text, wrapper, wrapperLength) &&
        text[length - 1] == ')') {
        const char* open = text + wrapperLength;
        while (*open >= '0' && *open <= '9') {
            ++open;
        }
        if (open[0] == ' ' && open[1] == '(') {
            length -= size_t(open + 2 - text) + 1;
            text = open + 2;
        }
    }
    static const char* const outputMarks[] = {" MIDI Out", " Output", " Out"};
    static const char* const inputMarks[] = {" MIDI In", " Input", " In"};
    for (const char* mark : output ? outputMarks : inputMarks) {
        const size_t markLength = strlen(mark);
        if (length > markLength && SameIgnoringCase(text + length - markLength, mark, markLength)) {
            length -= markLength;
            break;
        }
    }
    return std::string(text, length);
}

} // namespace

int MatchInput(const std::vector<PortIdentity>& outputs, size_t output,
               const std::vector<PortIdentity>& inputs) {
    if (output >= outputs.size() || outputs[output].name.empty()) {
        return -1;
    }
    const PortIdentity& out = outputs[output];
    if (!out.device.empty()) {
        for (size_t i = 0; i < inputs.size(); ++i) {
            if (inputs[i].device == out.device) {
                return int(i);
            }
        }
    }
    // Another device's input is never a candidate, whatever its name.
    auto candidate = [&](size_t i) { return out.device.empty() || inputs[i].device.empty(); };
    // The unit's input carries the output's name, possibly with more after it. Only when no
    // input is named so do stems count: the newer names ("tavi Out" and "tavi In") must not
    // change which port the older rule would have found.
    int first = -1;
    for (size_t i = 0; i < inputs.size() && first < 0; ++i) {
        if (candidate(i) && inputs[i].name.compare(0, out.name.size(), out.name) == 0) {
            first = int(i);
        }
    }
    const std::string stem = StemOf(out.name, true);
    for (size_t i = 0; i < inputs.size() && first < 0; ++i) {
        if (candidate(i) && StemOf(inputs[i].name, false) == stem) {
            first = int(i);
        }
    }
    if (first < 0) {
        return -1;
    }
    // Identical units with identical names: the k-th such output is the k-th unit.
    size_t rank = 0;
    for (size_t j = 0; j < output; ++j) {
        rank += outputs[j].name == out.name;
    }
    for (size_t i = size_t(first); i < inputs.size(); ++i) {
        if (candidate(i) && inputs[i].name == inputs[size_t(first)].name && rank-- == 0) {
            return int(i);
        }
    }
    return -1;
}
