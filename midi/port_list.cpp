// Listing the MIDI outputs for the user, and the names that pair an output with its input.
#include "midi/port_link.h"
#include "midi/port_pairing.h"

#include <mmsystem.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// szPname holds up to MAXPNAMELEN bytes; a driver that fills all of them leaves no NUL, so the
// copy gets one of its own.
struct PortName {
    char text[MAXPNAMELEN + 1];
};

bool ReadOutputName(unsigned index, PortName& name) {
    MIDIOUTCAPSA caps{};
    if (midiOutGetDevCapsA(index, &caps, sizeof caps) != MMSYSERR_NOERROR) {
        return false;
    }
    memcpy(name.text, caps.szPname, MAXPNAMELEN);
    name.text[MAXPNAMELEN] = '\0';
    return true;
}

bool ReadInputName(unsigned index, PortName& name) {
    MIDIINCAPSA caps{};
    if (midiInGetDevCapsA(index, &caps, sizeof caps) != MMSYSERR_NOERROR) {
        return false;
    }
    memcpy(name.text, caps.szPname, MAXPNAMELEN);
    name.text[MAXPNAMELEN] = '\0';
    return true;
}

} // namespace

int FillPortList(HWND list) {
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    const unsigned count = midiOutGetNumDevs();
    if (count == 0) {
        return -1;
    }
    for (unsigned index = 0; index < count; ++index) {
        PortName name{};
        if (!ReadOutputName(index, name)) {
            // Every output needs an entry, or the positions after it would no longer be the
            // output indexes. Numbered from 1, as a person counts.
            snprintf(name.text, sizeof name.text, "MIDI output %u", index + 1);
        }
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.text));
    }
    return 0;
}

int FindInputForOutput(unsigned output) {
    // An unreadable name stays in the list, empty, so that positions remain indexes; it never
    // pairs.
    std::vector<PortIdentity> outputs(midiOutGetNumDevs()), inputs(midiInGetNumDevs());
    PortName name{};
    for (unsigned index = 0; index < outputs.size(); ++index) {
        if (ReadOutputName(index, name)) {
            outputs[index].name = name.text;
        }
    }
    for (unsigned index = 0; index < inputs.size(); ++index) {
        if (ReadInputName(index, name)) {
            inputs[index].name = name.text;
        }
    }
    return MatchInput(outputs, output, inputs);
}
