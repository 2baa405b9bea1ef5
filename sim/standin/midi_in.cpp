// midiIn*: the input side. Buffers are filled in the order they were added and handed back
// from the driver thread; the flag rules are checked on the caller's dwFlags, as WinMM does.
#include "sim/standin/standin.h"

namespace {

DWORD_PTR SinceStart(const SimHandle& h) {
    return static_cast<DWORD_PTR>(NowMs() - h.startMs);
}

bool FrontHasData(const SimHandle& h) {
    return !h.queue.empty() && h.queue.front()->dwBytesRecorded > 0;
}

// A SysEx cut short (a new F0, or a status byte, before its F7) comes back as an error.
void AbandonSysEx(SimHandle& h) {
    if (h.inSysEx && FrontHasData(h))
        ReturnFrontBuffer(h, MIM_LONGERROR);
    h.inSysEx = false;
}

// Whether a SysEx byte finds a buffer. The newer layer waits a little for the client to queue
// one: 1 ms at the F0, 10 ms inside the message; the classic driver loses the byte at once.
// The wait lets notifications run, so the handle is looked up again (null: closed meanwhile).
bool HaveBuffer(SimHandle*& h, bool atStart) {
    if (!h->queue.empty() || !g.ports.wms)
        return !h->queue.empty();
    h = AwaitBuffer(h->id, atStart ? 1 : 10);
    return h && h->started && !h->queue.empty();
}

// One SysEx byte into the front buffer; a full buffer goes back at once, so a long message
// is split across buffers.
void WriteByte(SimHandle& h, uint8_t byte) {
    MIDIHDR* header = h.queue.front();
    header->lpData[header->dwBytesRecorded++] = static_cast<char>(byte);
    if (header->dwBytesRecorded >= header->dwBufferLength)
        ReturnFrontBuffer(h, MIM_LONGDATA);
}

void DeliverSysEx(SimHandle* h, const std::vector<uint8_t>& bytes) {
    unsigned noBuffer = 0;
    unsigned stray = 0;
    bool lost = false; // the SysEx under way lost a byte: the rest of it goes too
    for (size_t i = 0; i < bytes.size() && h; ++i) {
        const uint8_t byte = bytes[i];
        if (byte >= 0xF8) { // real-time bytes may sit inside a SysEx and do not end it
            QueueCallback(*h, MIM_DATA, byte, SinceStart(*h));
        } else if (byte == 0xF0) {
            AbandonSysEx(*h);
            h->inSysEx = true;
            lost = !HaveBuffer(h, true);
            if (lost)
                ++noBuffer;
            else
                WriteByte(*h, byte);
        } else if (byte == 0xF7) {
            if (!h->inSysEx) {
                ++stray;
                continue;
            }
            h->inSysEx = false;
            if (lost || !HaveBuffer(h, false)) {
                ++noBuffer;
                continue;
            }
            MIDIHDR* front = h->queue.front();
            WriteByte(*h, byte);
            if (!h->queue.empty() && h->queue.front() == front)
                ReturnFrontBuffer(*h, MIM_LONGDATA);
        } else if (byte & 0x80) {
            AbandonSysEx(*h);
            ++stray;
        } else if (h->inSysEx) {
            lost = lost || !HaveBuffer(h, false);
            if (lost)
                ++noBuffer;
            else
                WriteByte(*h, byte);
        } else {
            ++stray;
        }
    }
    if (noBuffer)
        Log("dropped %u no-buffer", noBuffer);
    if (stray)
        Log("dropped %u stray", stray);
}

MMRESULT FillCaps(UINT_PTR id, MIDIINCAPSW& caps) {
    std::vector<int> listed = ListedInputs();
    int port = -1;
    if (id < listed.size())
        port = listed[id];
    else if (SimHandle* h = FindHandle(reinterpret_cast<HANDLE>(id), true))
        port = h->port;
    if (port < 0)
        return MMSYSERR_BADDEVICEID;
    if (port == g.ports.capsFailIn)
        return MMSYSERR_NODRIVER;
    caps = MIDIINCAPSW{};
    caps.wMid = 0xFFFF; // "unmapped" manufacturer and product ids
    caps.wPid = 0xFFFF;
    caps.vDriverVersion = 0x0100;
    const std::string& name = g.ports.inputs[static_cast<size_t>(port)];
    for (size_t i = 0; i < name.size() && i + 1 < MAXPNAMELEN; ++i)
        caps.szPname[i] = static_cast<unsigned char>(name[i]);
    return MMSYSERR_NOERROR;
}

} // namespace

void ReturnFrontBuffer(SimHandle& h, UINT message) {
    MIDIHDR* header = h.queue.front();
    h.queue.pop_front();
    header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
    QueueCallback(h, message, reinterpret_cast<DWORD_PTR>(header), SinceStart(h));
}

void DeliverToInput(SimHandle& h, const UnitOutput& output) {
    if (!output.shortMessage) {
        DeliverSysEx(&h, output.bytes);
        return;
    }
    AbandonSysEx(h);
    DWORD packed = 0;
    for (size_t i = 0; i < output.bytes.size() && i < 3; ++i)
        packed |= static_cast<DWORD>(output.bytes[i]) << (8 * i);
    QueueCallback(h, MIM_DATA, packed, SinceStart(h));
}

extern "C" {

UINT WINAPI midiInGetNumDevs(void) {
    EnsureStandIn();
    Locked hold;
    return static_cast<UINT>(ListedInputs().size());
}

MMRESULT WINAPI midiInGetDevCapsW(UINT_PTR id, LPMIDIINCAPSW caps, UINT size) {
    EnsureStandIn();
    if (!caps)
        return MMSYSERR_INVALPARAM;
    MIDIINCAPSW full;
    {
        Locked hold;
        MMRESULT result = FillCaps(id, full);
        if (result != MMSYSERR_NOERROR)
            return result;
    }
    return CopyCaps(caps, full, size);
}

MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR id, LPMIDIINCAPSA caps, UINT size) {
    EnsureStandIn();
    if (!caps)
        return MMSYSERR_INVALPARAM;
    // The narrow form is the wide one with its name narrowed, as the names are plain ASCII.
    MIDIINCAPSW wide;
    MMRESULT result = midiInGetDevCapsW(id, &wide, sizeof wide);
    if (result != MMSYSERR_NOERROR)
        return result;
    MIDIINCAPSA full{};
    full.wMid = wide.wMid;
    full.wPid = wide.wPid;
    full.vDriverVersion = wide.vDriverVersion;
    full.dwSupport = wide.dwSupport;
    for (size_t i = 0; i < MAXPNAMELEN; ++i)
        full.szPname[i] = static_cast<char>(wide.szPname[i]);
    return CopyCaps(caps, full, size);
}

MMRESULT WINAPI midiInOpen(LPHMIDIIN result, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                           DWORD flags) {
    return OpenPort(true, id, callback, instance, flags, reinterpret_cast<HANDLE*>(result));
}

MMRESULT WINAPI midiInClose(HMIDIIN handle) {
    return ClosePort(handle, true);
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    return PrepareHeader(handle, header, size, true);
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    return UnprepareHeader(handle, header, size, true);
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    EnsureStandIn();
    Locked hold;
    SimHandle* h = FindHandle(handle, true);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (CheckHeader(header, size) != MMSYSERR_NOERROR)
        return MMSYSERR_INVALPARAM;
    if (header->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    if (!(header->dwFlags & MHDR_PREPARED))
        return MIDIERR_UNPREPARED;
    if (!header->lpData || header->dwBufferLength == 0)
        return MMSYSERR_INVALPARAM;
    if (UnitGoneFor(*h))
        return GoneAnswer("midiInAddBuffer");
    // The caller may have cleared the flags of a buffer we still hold: it stays ours.
    for (MIDIHDR* queued : h->queue)
        if (queued == header)
            return MIDIERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    h->queue.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInStart(HMIDIIN handle) {
    EnsureStandIn();
    Locked hold;
    SimHandle* h = FindHandle(handle, true);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (UnitGoneFor(*h))
        return GoneAnswer("midiInStart");
    if (!h->started) {
        h->started = true;
        h->startMs = NowMs();
        h->inSysEx = false;
        Log("start in");
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInStop(HMIDIIN handle) {
    EnsureStandIn();
    uint64_t serial = 0;
    {
        Locked hold;
        SimHandle* h = FindHandle(handle, true);
        if (!h)
            return MMSYSERR_INVALHANDLE;
        if (!h->started)
            return MMSYSERR_NOERROR;
        h->started = false;
        // Only the buffer being filled comes back; empty ones stay queued.
        if (FrontHasData(*h))
            ReturnFrontBuffer(*h, MIM_LONGDATA);
        h->inSysEx = false;
        Log("stop in");
        serial = g.nextCallbackSerial - 1;
    }
    AwaitCallbacks(serial, "midiInStop");
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInReset(HMIDIIN handle) {
    EnsureStandIn();
    uint64_t serial = 0;
    {
        Locked hold;
        SimHandle* h = FindHandle(handle, true);
        if (!h)
            return MMSYSERR_INVALHANDLE;
        h->started = false;
        h->inSysEx = false;
        while (!h->queue.empty())
            ReturnFrontBuffer(*h, MIM_LONGDATA);
        Log("reset in");
        serial = g.nextCallbackSerial - 1;
    }
    // Like a real driver: the buffers come back on the driver thread while this call waits.
    AwaitCallbacks(serial, "midiInReset");
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInGetID(HMIDIIN handle, LPUINT id) {
    EnsureStandIn();
    Locked hold;
    SimHandle* h = FindHandle(handle, true);
    if (!h)
        return MMSYSERR_INVALHANDLE;
    if (!id)
        return MMSYSERR_INVALPARAM;
    std::vector<int> listed = ListedInputs();
    for (size_t i = 0; i < listed.size(); ++i)
        if (listed[i] == h->port) {
            *id = static_cast<UINT>(i);
            return MMSYSERR_NOERROR;
        }
    return MMSYSERR_NODRIVER;
}

MMRESULT WINAPI midiInMessage(HMIDIIN handle, UINT, DWORD_PTR, DWORD_PTR) {
    EnsureStandIn();
    Locked hold;
    return FindHandle(handle, true) ? MMSYSERR_NOTSUPPORTED : MMSYSERR_INVALHANDLE;
}

} // extern "C"
