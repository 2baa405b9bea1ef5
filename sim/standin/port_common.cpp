// Opening, closing and header preparation work the same way in both directions.
#include "sim/standin/standin.h"

MMRESULT OpenPort(bool input, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags,
                  HANDLE* result) {
    EnsureStandIn();
    if (!result)
        return MMSYSERR_INVALPARAM;
    *result = nullptr;
    // Only input takes MIDI_IO_STATUS; output refuses any flag outside the callback kind.
    MMRESULT check = CheckCallback(flags, callback, input ? MIDI_IO_STATUS : 0);
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
        for (auto it = g.handles.begin(); it != g.handles.end(); ++it)
            if (it->get() == h) {
                g.handles.erase(it);
                break;
            }
        Log("close %s", input ? "in" : "out");
    }
    NotifyNow(notify, id, input ? MIM_CLOSE : MOM_CLOSE, 0, 0);
    return MMSYSERR_NOERROR;
}

namespace {

// The checks prepare and unprepare make first, in WinMM's order; the lock is held.
MMRESULT CheckHandleAndHeader(HANDLE handle, const MIDIHDR* header, UINT size, bool input) {
    if (!FindHandle(handle, input))
        return MMSYSERR_INVALHANDLE;
    if (CheckHeader(header, size) != MMSYSERR_NOERROR)
        return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

} // namespace

MMRESULT PrepareHeader(HANDLE handle, LPMIDIHDR header, UINT size, bool input) {
    EnsureStandIn();
    Locked hold;
    if (MMRESULT checked = CheckHandleAndHeader(handle, header, size, input))
        return checked;
    if (header->dwFlags & MHDR_PREPARED)
        return MMSYSERR_NOERROR;
    header->dwFlags = (header->dwFlags & ~(MHDR_DONE | MHDR_INQUEUE)) | MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT UnprepareHeader(HANDLE handle, LPMIDIHDR header, UINT size, bool input) {
    EnsureStandIn();
    Locked hold;
    if (MMRESULT checked = CheckHandleAndHeader(handle, header, size, input))
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
