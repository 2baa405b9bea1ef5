// midiOut*: what the host sends reaches the unit model at once; done at once or async_done later.
#include "sim/standin/standin.h"

namespace {

// The host sends one message on an open output.
void Send(SimHandle& h, const uint8_t* bytes, size_t length, bool shortMessage) {
    if (h.unit >= 0)
        UnitTakes(g.units[h.unit], bytes, length, shortMessage);
    else
        Log("other %s", HexBytes(bytes, length).c_str());
}

// Under the lock, on a live handle: the unit takes the message; true when done already.
bool TakeLongMessage(SimHandle& h, LPMIDIHDR header, int64_t calledAt) {
    header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
    if (h.unit >= 0) {
        // A scripted refusal belongs to the first message; the next send ends it.
        SimUnit& unit = g.units[h.unit];
        unit.refusedHeader = unit.refusalsOver ? nullptr : header;
        unit.refusalsLeft = unit.refusalsOver ? 0 : g.ports.refuseRelease;
        unit.refusalsOver = true;
    }
    // The byte count is dwBufferLength; dwBytesRecorded means nothing on output.
    Send(h, reinterpret_cast<const uint8_t*>(header->lpData), header->dwBufferLength, false);
    // The service is done with a send before the call returns.
    if (g.ports.asyncDoneMs > 0 && !g.ports.wms) {
        h.pending.push_back(header);
        g.completions.push_back(
            DueCompletion{h.id, header, calledAt + MsToTicks(g.ports.asyncDoneMs)});
        WakeDriver();
        return false;
    }
    header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
    return true;
}

} // namespace

extern "C" {

UINT WINAPI midiOutGetNumDevs(void) {
    EnsureStandIn();
    Locked hold;
    return static_cast<UINT>(ListedOutputs().size());
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR id, LPMIDIOUTCAPSA caps, UINT size) {
    MIDIOUTCAPSA full{};
    full.wTechnology = MOD_MIDIPORT;
    full.wChannelMask = 0xFFFF; // a port, not a synth: no voices, no notes, all channels
    return FillCaps(false, id, full, caps, size);
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT result, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                            DWORD flags) {
    return OpenPort(false, id, callback, instance, flags, reinterpret_cast<HANDLE*>(result));
}

MMRESULT WINAPI midiOutClose(HMIDIOUT handle) {
    return ClosePort(handle, false);
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    return PrepareHeader(handle, header, size, false);
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    return UnprepareHeader(handle, header, size, false);
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    EnsureStandIn();
    ClientCallback notify{};
    uint32_t id = 0;
    // Counted from before the unit takes the message in: a completion never comes after a
    // reply due at the same time.
    const int64_t calledAt = NowTicks();
    unsigned blockMs = 0;
    MMRESULT gone = MMSYSERR_NOERROR;
    {
        Locked hold;
        SimHandle* h = FindHandle(handle, false);
        if (!h)
            return MMSYSERR_INVALHANDLE;
        if (CheckHeader(header, size) != MMSYSERR_NOERROR)
            return MMSYSERR_INVALPARAM;
        if (!(header->dwFlags & MHDR_PREPARED))
            return MIDIERR_UNPREPARED;
        if (header->dwFlags & MHDR_INQUEUE)
            return MIDIERR_STILLPLAYING;
        if (!header->lpData || header->dwBufferLength == 0)
            return MMSYSERR_INVALPARAM;
        if (UnitGoneFor(*h))
            gone = GoneAnswer(*h, CallKind::Send, "midiOutLongMsg", &blockMs);
        if (gone == MMSYSERR_NOERROR && !TakeLongMessage(*h, header, calledAt))
            return MMSYSERR_NOERROR;
        notify = h->callback;
        id = h->id;
    }
    if (gone != MMSYSERR_NOERROR) {
        Sleep(blockMs);
        return gone;
    }
    NotifyNow(notify, id, MOM_DONE, reinterpret_cast<DWORD_PTR>(header), 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutReset(HMIDIOUT handle) {
    EnsureStandIn();
    uint64_t serial = 0;
    {
        Locked hold;
        SimHandle* h = FindHandle(handle, false);
        if (!h)
            return MMSYSERR_INVALHANDLE;
        if (UnitGoneFor(*h) && GoneAnswer(*h, CallKind::Other, "midiOutReset"))
            return MMSYSERR_NODRIVER;
        Log("reset out");
        // Classic drivers send All Notes Off and Reset All Controllers on every channel; the
        // service sends nothing.
        for (uint8_t channel = 0; channel < 16 && !g.ports.wms && h->unit >= 0; ++channel) {
            for (uint8_t control : {0x7B, 0x79}) {
                const uint8_t message[3] = {static_cast<uint8_t>(0xB0 | channel), control, 0};
                if (!UnitGoneFor(*h))
                    UnitTakes(g.units[h->unit], message, 3, true);
            }
        }
        for (MIDIHDR* header : h->pending) {
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
            QueueCallback(*h, MOM_DONE, reinterpret_cast<DWORD_PTR>(header), 0);
        }
        h->pending.clear();
        for (size_t i = g.completions.size(); i-- > 0;)
            if (g.completions[i].handle == h->id)
                g.completions.erase(g.completions.begin() + static_cast<std::ptrdiff_t>(i));
        serial = g.nextCallbackSerial - 1;
    }
    AwaitCallbacks(serial, "midiOutReset");
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutMessage(HMIDIOUT handle, UINT message, DWORD_PTR param1, DWORD_PTR param2) {
    return PortMessage(false, reinterpret_cast<UINT_PTR>(handle), message, param1, param2);
}

// The timer resolution, which the program also imports, is the host's business under Wine.
MMRESULT WINAPI timeBeginPeriod(UINT period) {
    return (period >= 1 && period <= 65535) ? TIMERR_NOERROR : TIMERR_NOCANDO;
}
MMRESULT WINAPI timeEndPeriod(UINT period) {
    return (period >= 1 && period <= 65535) ? TIMERR_NOERROR : TIMERR_NOCANDO;
}

} // extern "C"
