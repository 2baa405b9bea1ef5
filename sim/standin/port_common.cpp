// Opening, closing, header preparation and the device queries work alike in both directions.
#include "sim/standin/standin.h"

#include <mmddk.h>

#include <algorithm>

int PortOf(bool input, UINT_PTR id) {
    const std::vector<int> listed = input ? ListedInputs() : ListedOutputs();
    if (id < listed.size())
        return listed[id];
    const SimHandle* h = FindHandle(reinterpret_cast<HANDLE>(id), input);
    return h ? h->port : -1;
}

MMRESULT PortMessage(bool input, UINT_PTR id, UINT message, DWORD_PTR param1, DWORD_PTR param2) {
    EnsureStandIn();
    Locked hold;
    // The queries take a device id, not a handle.
    const size_t listed = (input ? ListedInputs() : ListedOutputs()).size();
    if (message != DRV_QUERYDEVICEINTERFACESIZE && message != DRV_QUERYDEVICEINTERFACE)
        return MMSYSERR_NOTSUPPORTED;
    if (id >= listed)
        return MMSYSERR_BADDEVICEID;
    // A unit's ports share its interface. A classic driver that knows none does not answer.
    const int unit = UnitAtPort(input, PortOf(input, id));
    const std::string path =
        unit >= 0 && g.ports.interfaces ? "\\\\?\\usb#tavi#" + std::to_string(unit + 1) : "";
    if (path.empty() && !g.ports.wms)
        return MMSYSERR_NOTSUPPORTED;
    const ULONG bytes = static_cast<ULONG>((path.size() + 1) * sizeof(WCHAR));
    if (!param1 || (message == DRV_QUERYDEVICEINTERFACE && param2 < bytes))
        return MMSYSERR_INVALPARAM;
    if (message == DRV_QUERYDEVICEINTERFACESIZE) {
        *reinterpret_cast<ULONG*>(param1) = bytes;
        return MMSYSERR_NOERROR;
    }
    WCHAR* text = reinterpret_cast<WCHAR*>(param1);
    for (size_t i = 0; i <= path.size(); ++i)
        text[i] = static_cast<WCHAR>(i < path.size() ? path[i] : 0);
    return MMSYSERR_NOERROR;
}

MMRESULT OpenPort(bool input, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags,
                  HANDLE* result) {
    EnsureStandIn();
    if (!result)
        return MMSYSERR_INVALPARAM;
    *result = nullptr;
    // Only input takes MIDI_IO_STATUS; output refuses any flag outside the callback kind.
    MMRESULT check = CheckCallback(flags, input ? MIDI_IO_STATUS : 0);
    if (check != MMSYSERR_NOERROR)
        return check;
    ClientCallback notify{flags & CALLBACK_TYPEMASK, callback, instance};
    uint32_t id32 = 0;
    {
        Locked hold;
        std::vector<int> listed = input ? ListedInputs() : ListedOutputs();
        if (!input && id == MIDI_MAPPER)
            return listed.empty() ? MMSYSERR_BADDEVICEID : MIDIERR_NODEVICE; // no mapper here
        if (id >= listed.size())
            return MMSYSERR_BADDEVICEID;
        int port = listed[id];
        bool taken = port == (input ? g.ports.busyIn : g.ports.busyOut);
        for (auto& h : g.handles)
            taken = taken || (h->input == input && h->port == port && !UnitGoneFor(*h));
        // The newer layer shares every port among the programs that open it.
        if (taken && !g.ports.wms) {
            Log("refused %s %d", input ? "midiInOpen" : "midiOutOpen", MMSYSERR_ALLOCATED);
            return MMSYSERR_ALLOCATED;
        }
        auto h = std::make_unique<SimHandle>();
        h->id = id32 = g.nextHandleId++;
        h->input = input;
        h->port = port;
        h->unit = UnitAtPort(input, port);
        h->plugSerial = h->unit >= 0 ? g.units[h->unit].plugSerial : 0;
        h->callback = notify;
        g.handles.push_back(std::move(h));
        *result = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(id32));
        Log("open %s %u", input ? "in" : "out", id);
    }
    NotifyNow(notify, id32, input ? MIM_OPEN : MOM_OPEN, 0, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT ClosePort(HANDLE handle, bool input) {
    EnsureStandIn();
    const char* function = input ? "midiInClose" : "midiOutClose";
    uint64_t serial = 0;
    {
        Locked hold;
        if (!FindHandle(handle, input))
            return MMSYSERR_INVALHANDLE;
        serial = g.nextCallbackSerial - 1;
    }
    // Buffers already handed back must reach the client before it hears of the close.
    AwaitCallbacks(serial, function);
    ClientCallback notify{};
    uint32_t id = 0;
    {
        Locked hold;
        SimHandle* h = FindHandle(handle, input);
        if (!h)
            return MMSYSERR_INVALHANDLE;
        if (!(input ? h->queue.empty() : h->pending.empty())) {
            Log("refused %s %d", function, MIDIERR_STILLPLAYING);
            return MIDIERR_STILLPLAYING;
        }
        notify = h->callback;
        id = h->id;
        g.handles.erase(std::find_if(g.handles.begin(), g.handles.end(),
                                     [&](const auto& each) { return each.get() == h; }));
        Log("close %s", input ? "in" : "out");
    }
    NotifyNow(notify, id, input ? MIM_CLOSE : MOM_CLOSE, 0, 0);
    return MMSYSERR_NOERROR;
}

namespace {

// The checks prepare and unprepare make first, in WinMM's order, then a gone unit's answer.
MMRESULT CheckHandleAndHeader(HANDLE handle, const MIDIHDR* header, UINT size, bool input,
                              const char* function) {
    SimHandle* h = FindHandle(handle, input);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (CheckHeader(header, size) != MMSYSERR_NOERROR)
        return MMSYSERR_INVALPARAM;
    return UnitGoneFor(*h) ? GoneAnswer(*h, CallKind::Other, function) : MMSYSERR_NOERROR;
}

} // namespace

MMRESULT PrepareHeader(HANDLE handle, LPMIDIHDR header, UINT size, bool input) {
    EnsureStandIn();
    Locked hold;
    const char* function = input ? "midiInPrepareHeader" : "midiOutPrepareHeader";
    if (MMRESULT checked = CheckHandleAndHeader(handle, header, size, input, function))
        return checked;
    ReusedHeader(*FindHandle(handle, input), header, function);
    if (header->dwFlags & MHDR_PREPARED)
        return MMSYSERR_NOERROR;
    header->dwFlags = (header->dwFlags & ~(MHDR_DONE | MHDR_INQUEUE)) | MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT UnprepareHeader(HANDLE handle, LPMIDIHDR header, UINT size, bool input) {
    EnsureStandIn();
    Locked hold;
    const char* function = input ? "midiInUnprepareHeader" : "midiOutUnprepareHeader";
    if (MMRESULT checked = CheckHandleAndHeader(handle, header, size, input, function))
        return checked;
    if (!(header->dwFlags & MHDR_PREPARED))
        return MMSYSERR_NOERROR;
    if (header->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    SimHandle* h = FindHandle(handle, input);
    SimUnit* unit = h->unit >= 0 ? &g.units[h->unit] : nullptr;
    if (!input && unit && header == unit->refusedHeader && unit->refusalsLeft > 0) {
        --unit->refusalsLeft;
        Log("refused midiOutUnprepareHeader %d", MIDIERR_STILLPLAYING);
        return MIDIERR_STILLPLAYING;
    }
    header->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}
