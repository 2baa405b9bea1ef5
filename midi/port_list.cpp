// Listing the MIDI outputs for the user and pairing an output with its input by name.
#include "midi/port_link.h"

#include <mmsystem.h>

#include <cstdio>
#include <cstring>

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
    PortName outputName{};
    if (!ReadOutputName(output, outputName)) {
        return -1;
    }
    const size_t prefixLength = strlen(outputName.text);
    const unsigned inputs = midiInGetNumDevs();
    for (unsigned index = 0; index < inputs; ++index) {
        PortName inputName{};
        if (!ReadInputName(index, inputName)) {
            continue;
        }
        // The unit's input carries the output's name, possibly with more after it. Bytes are
        // compared as they are: no case folding, no code page conversion.
        if (strncmp(inputName.text, outputName.text, prefixLength) == 0) {
            return static_cast<int>(index);
        }
    }
    return -1;
}
