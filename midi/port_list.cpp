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

// A port's name without its direction mark: the "MIDIOUTn (...)" / "MIDIINn (...)" wrapper, or
// a trailing " Out", " Output", " MIDI Out" / " In", " Input", " MIDI In" in any case.
struct Stem {
    const char* text;
    size_t length;
};
Stem StemOf(const char* name, bool output) {
    Stem stem{name, strlen(name)};
    const char* const wrapper = output ? "MIDIOUT" : "MIDIIN";
    const size_t wrapperLength = strlen(wrapper);
    if (_strnicmp(name, wrapper, wrapperLength) == 0 && stem.length > 0 &&
        name[stem.length - 1] == ')') {
        const char* open = name + wrapperLength;
        while (*open >= '0' && *open <= '9') {
            ++open;
        }
        if (open[0] == ' ' && open[1] == '(') {
            stem = {open + 2, stem.length - size_t(open + 2 - name) - 1};
        }
    }
    static const char* const outputMarks[] = {" MIDI Out", " Output", " Out"};
    static const char* const inputMarks[] = {" MIDI In", " Input", " In"};
    const char* const* marks = output ? outputMarks : inputMarks;
    for (int i = 0; i < 3; ++i) {
        const char* const mark = marks[i];
        const size_t markLength = strlen(mark);
        if (stem.length > markLength &&
            _strnicmp(stem.text + stem.length - markLength, mark, markLength) == 0) {
            stem.length -= markLength;
            break;
        }
    }
    return stem;
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
    // The unit's input carries the output's name, possibly with more after it. Bytes are
    // compared as they are: no case folding, no code page conversion. Only when no input is
    // named so do stems count: names the newer Windows 11 MIDI layer gives ("tavi Out" and
    // "tavi In") must not change which port an older pairing would have found.
    const Stem outputStem = StemOf(outputName.text, true);
    int sameStem = -1;
    for (unsigned index = 0; index < inputs; ++index) {
        PortName inputName{};
        if (!ReadInputName(index, inputName)) {
            continue;
        }
        if (strncmp(inputName.text, outputName.text, prefixLength) == 0) {
            return static_cast<int>(index);
        }
        const Stem inputStem = StemOf(inputName.text, false);
        if (sameStem < 0 && inputStem.length == outputStem.length &&
            strncmp(inputStem.text, outputStem.text, outputStem.length) == 0) {
            sameStem = static_cast<int>(index);
        }
    }
    return sameStem;
}
