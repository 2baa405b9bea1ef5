// midiOut*: the output side. What the host sends reaches the unit model at once; whether the
// header is done before midiOutLongMsg returns is up to the scenario (async_done).
#include "sim/standin/standin.h"

namespace {

MMRESULT FillCaps(UINT_PTR id, MIDIOUTCAPSW& caps) {
    std::vector<int> listed = ListedOutputs();
    int port = -1;
    if (id < listed.size())
        port = listed[id];
    else if (SimHandle* h = FindHandle(reinterpret_cast<HANDLE>(id), false))
        port = h->port;
    if (port < 0)
        return MMSYSERR_BADDEVICEID;
    if (port == g.ports.capsFailOut)
        return MMSYSERR_NODRIVER;
    caps = MIDIOUTCAPSW{};
    caps.wMid = 0xFFFF; // "unmapped" manufacturer and product ids
    caps.wPid = 0xFFFF;
    caps.vDriverVersion = 0x0100;
    caps.wTechnology = MOD_MIDIPORT;
    caps.wChannelMask = 0xFFFF; // a port, not a synth: no voices, no notes, all channels
    const std::string& name = g.ports.outputs[static_cast<size_t>(port)];
    for (size_t i = 0; i < name.size() && i + 1 < MAXPNAMELEN; ++i)
        caps.szPname[i] = static_cast<unsigned char>(name[i]);
    return MMSYSERR_NOERROR;
}

// How many bytes a short message has, by its status byte.
size_t ShortLength(uint8_t status) {
    if (status < 0x80)
        return 3; // running status: pass on what the caller packed
    if (status >= 0xF4)
        return 1; // tune request, real-time and undefined system bytes
    if (status == 0xF1 || status == 0xF3 || (status >= 0xC0 && status <= 0xDF))
        return 2;
    return 3;
}

// The host sends one message on an open output.
void Send(SimHandle& h, const uint8_t* bytes, size_t length, bool shortMessage) {
    if (IsUnitPort(h))
        UnitTakes(g.units[h.unit], bytes, length, shortMessage);
    else
        Log("other %s", HexBytes(bytes, length).c_str());
}

} // namespace

extern "C" {

UINT WINAPI midiOutGetNumDevs(void) {
    EnsureStandIn();
    Locked hold;
    return static_cast<UINT>(ListedOutputs().size());
}

MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR id, LPMIDIOUTCAPSW caps, UINT size) {
    EnsureStandIn();
    if (!caps)
        return MMSYSERR_INVALPARAM;
    MIDIOUTCAPSW full;
    {
        Locked hold;
        MMRESULT result = FillCaps(id, full);
        if (result != MMSYSERR_NOERROR)
            return result;
    }
    return CopyCaps(caps, full, size);
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR id, LPMIDIOUTCAPSA caps, UINT size) {
    EnsureStandIn();
    if (!caps)
        return MMSYSERR_INVALPARAM;
    // The narrow form is the wide one with its name narrowed, as the names are plain ASCII.
    MIDIOUTCAPSW wide;
    MMRESULT result = midiOutGetDevCapsW(id, &wide, sizeof wide);
    if (result != MMSYSERR_NOERROR)
        return result;
    MIDIOUTCAPSA full{};
    full.wMid = wide.wMid;
    full.wPid = wide.wPid;
    full.vDriverVersion = wide.vDriverVersion;
    full.wTechnology = wide.wTechnology;
    full.wVoices = wide.wVoices;
    full.wNotes = wide.wNotes;
    full.wChannelMask = wide.wChannelMask;
    full.dwSupport = wide.dwSupport;
    for (size_t i = 0; i < MAXPNAMELEN; ++i)
        full.szPname[i] = static_cast<char>(wide.szPname[i]);
    return CopyCaps(caps, full, size);
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

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT handle, DWORD message) {
    EnsureStandIn();
    unsigned blockMs = 0;
    MMRESULT result = MMSYSERR_NOERROR;
    {
        Locked hold;
        SimHandle* h = FindHandle(handle, false);
        if (!h)
            return MMSYSERR_INVALHANDLE;
        if (UnitGoneFor(*h)) {
            result = GoneAnswer("midiOutShortMsg", &blockMs);
        } else {
            uint8_t bytes[3] = {static_cast<uint8_t>(message), static_cast<uint8_t>(message >> 8),
                                static_cast<uint8_t>(message >> 16)};
            Send(*h, bytes, ShortLength(bytes[0]), true);
        }
    }
    Sleep(blockMs);
    return result;
}

namespace {

// Under the lock, on a live handle: the unit takes the message; true when the header is done
// already (a synchronous send), false when its completion is due later.
bool TakeLongMessage(SimHandle& h, LPMIDIHDR header, int64_t calledAt) {
    header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
    if (IsUnitPort(h)) {
        // A scripted refusal belongs to one message; the next send ends it.
        SimUnit& unit = g.units[h.unit];
        unit.refusedHeader = nullptr;
        unit.refusalsLeft = 0;
        if (g.ports.refuseRelease > 0 && unit.longMessagesSent == g.ports.refuseReleaseAt) {
            unit.refusedHeader = header;
            unit.refusalsLeft = g.ports.refuseRelease;
        }
        ++unit.longMessagesSent;
    }
    // The byte count is dwBufferLength; dwBytesRecorded means nothing on output.
    Send(h, reinterpret_cast<const uint8_t*>(header->lpData), header->dwBufferLength, false);
    // The newer layer is done with a send before the call returns.
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

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    EnsureStandIn();
    ClientCallback notify{};
    uint32_t id = 0;
    // An asynchronous send completes async_done after the call, counted from before the unit
    // takes the message in: a driver is done with the bytes once they are on the cable, so
    // the completion never comes after a reply due at the same time.
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
            gone = GoneAnswer("midiOutLongMsg", &blockMs);
        else if (!TakeLongMessage(*h, header, calledAt))
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
        Log("reset out");
        // All Notes Off and Reset All Controllers on every channel, as Windows drivers send.
        for (uint8_t channel = 0; channel < 16 && IsUnitPort(*h) && !UnitGoneFor(*h); ++channel) {
            const uint8_t notesOff[3] = {static_cast<uint8_t>(0xB0 | channel), 0x7B, 0x00};
            const uint8_t controllers[3] = {static_cast<uint8_t>(0xB0 | channel), 0x79, 0x00};
            UnitTakes(g.units[h->unit], notesOff, 3, true);
            if (!UnitGoneFor(*h))
                UnitTakes(g.units[h->unit], controllers, 3, true);
        }
        for (MIDIHDR* header : h->pending) {
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
            QueueCallback(*h, MOM_DONE, reinterpret_cast<DWORD_PTR>(header), 0);
        }
        h->pending.clear();
        uint32_t id = h->id;
        for (size_t i = g.completions.size(); i-- > 0;)
            if (g.completions[i].handle == id)
                g.completions.erase(g.completions.begin() + static_cast<std::ptrdiff_t>(i));
        serial = g.nextCallbackSerial - 1;
    }
    AwaitCallbacks(serial, "midiOutReset");
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutGetID(HMIDIOUT handle, LPUINT id) {
    EnsureStandIn();
    Locked hold;
    SimHandle* h = FindHandle(handle, false);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (!id)
        return MMSYSERR_INVALPARAM;
    std::vector<int> listed = ListedOutputs();
    for (size_t i = 0; i < listed.size(); ++i)
        if (listed[i] == h->port) {
            *id = static_cast<UINT>(i);
            return MMSYSERR_NOERROR;
        }
    return MMSYSERR_NODRIVER;
}

MMRESULT WINAPI midiOutMessage(HMIDIOUT handle, UINT, DWORD_PTR, DWORD_PTR) {
    EnsureStandIn();
    Locked hold;
    return FindHandle(handle, false) ? MMSYSERR_NOTSUPPORTED : MMSYSERR_INVALHANDLE;
}

// A MIDI port has no volume and no patch cache.
MMRESULT WINAPI midiOutGetVolume(HMIDIOUT, LPDWORD) {
    return MMSYSERR_NOTSUPPORTED;
}
MMRESULT WINAPI midiOutSetVolume(HMIDIOUT, DWORD) {
    return MMSYSERR_NOTSUPPORTED;
}
MMRESULT WINAPI midiOutCachePatches(HMIDIOUT, UINT, LPWORD, UINT) {
    return MMSYSERR_NOTSUPPORTED;
}
MMRESULT WINAPI midiOutCacheDrumPatches(HMIDIOUT, UINT, LPWORD, UINT) {
    return MMSYSERR_NOTSUPPORTED;
}

} // extern "C"
