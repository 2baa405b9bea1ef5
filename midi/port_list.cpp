// Listing the MIDI outputs for the user, and the names that pair an output with its input.
#include "midi/port_link.h"
#include "midi/port_link_record.h"
#include "midi/port_pairing.h"

#include <mmddk.h>

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

namespace {

// The device interface a port belongs to, asked on its device id without opening it; "" when
// the driver does not say. A unit's output and input share one, whatever their names.
std::string ReadDeviceInterface(bool input, unsigned index) {
    auto ask = [&](UINT message, DWORD_PTR param1, DWORD_PTR param2) {
        const UINT_PTR id = index;
        return input ? midiInMessage(reinterpret_cast<HMIDIIN>(id), message, param1, param2)
                     : midiOutMessage(reinterpret_cast<HMIDIOUT>(id), message, param1, param2);
    };
    ULONG bytes = 0;
    constexpr ULONG kLongest = 4096; // far beyond any device path
    if (ask(DRV_QUERYDEVICEINTERFACESIZE, reinterpret_cast<DWORD_PTR>(&bytes), 0) != 0 ||
        bytes < sizeof(WCHAR) || bytes > kLongest) {
        return "";
    }
    std::vector<WCHAR> path(bytes / sizeof(WCHAR) + 1, 0);
    if (ask(DRV_QUERYDEVICEINTERFACE, reinterpret_cast<DWORD_PTR>(path.data()), bytes) != 0) {
        return "";
    }
    path.back() = 0; // a driver that fills every byte leaves no end of its own
    char text[2 * kLongest] = {};
    WideCharToMultiByte(CP_UTF8, 0, path.data(), -1, text, sizeof text - 1, nullptr, nullptr);
    return text;
}

std::vector<PortIdentity> ListPorts(bool input) {
    std::vector<PortIdentity> ports(input ? midiInGetNumDevs() : midiOutGetNumDevs());
    for (unsigned index = 0; index < ports.size(); ++index) {
        ports[index] = ReadIdentity(input, index);
    }
    return ports;
}

// Found at any index: another device plugged in or out meanwhile renumbers the lists. By
// interface where the port told one, else by name.
bool Listed(const PortIdentity& port, const std::vector<PortIdentity>& ports) {
    for (const PortIdentity& each : ports) {
        if (port.device.empty() ? each.name == port.name : each.device == port.device) {
            return true;
        }
    }
    return false;
}

} // namespace

PortIdentity ReadIdentity(bool input, unsigned index) {
    // A port that cannot tell its name is broken: it stays empty, so that positions remain
    // indexes, and never pairs.
    PortIdentity port;
    PortName name{};
    if (input ? ReadInputName(index, name) : ReadOutputName(index, name)) {
        port.name = name.text;
        port.device = ReadDeviceInterface(input, index);
    }
    return port;
}

int FindInputForOutput(unsigned output) {
    return MatchInput(ListPorts(false), output, ListPorts(true));
}

bool PortsStillListed() {
    LockLink();
    const bool listed = !PortsOpen() || (Listed(TheLink.outputListed, ListPorts(false)) &&
                                         Listed(TheLink.inputListed, ListPorts(true)));
    UnlockLink();
    return listed;
}
