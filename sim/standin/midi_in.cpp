// midiIn*: buffers filled in the order they were added; flags checked on the caller's dwFlags.
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

// Whether a SysEx byte finds a buffer: the service waits 1 ms at the F0, 10 ms inside the
// message, letting notifications run (h: null once closed meanwhile); classic loses it at once.
bool HaveBuffer(SimHandle*& h, bool atStart) {
    if (!h->queue.empty() || !g.ports.wms)
        return !h->queue.empty();
    h = AwaitBuffer(h->id, atStart ? 1 : 10);
    return h && h->started && !h->queue.empty();
}

// One SysEx byte into the front buffer; a full buffer goes back at once.
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

MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR id, LPMIDIINCAPSA caps, UINT size) {
    MIDIINCAPSA full{};
    return FillCaps(true, id, full, caps, size);
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
        if (MMRESULT gone = GoneAnswer(*h, CallKind::AddBuffer, "midiInAddBuffer"))
            return gone;
    // The caller may have cleared the flags of a buffer we still hold: it stays ours.
    for (MIDIHDR* queued : h->queue)
        if (queued == header)
            return MIDIERR_STILLPLAYING;
    ReusedHeader(*h, header, "midiInAddBuffer");
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
        if (MMRESULT gone = GoneAnswer(*h, CallKind::Start, "midiInStart"))
            return gone;
    if (!h->started) {
        h->started = true;
        h->startMs = NowMs();
        h->inSysEx = false;
        Log("start in");
    }
    return MMSYSERR_NOERROR;
}

// Stop hands back the buffer being filled (the service as an error), reset all. Classic drivers
// notify from their thread while the call waits, the service in place, where a notification
// that queued a buffer again would keep reset going for ever.
static MMRESULT StopOrReset(HMIDIIN handle, bool reset) {
    EnsureStandIn();
    const char* function = reset ? "midiInReset" : "midiInStop";
    uint64_t serial = 0;
    ClientCallback notify{};
    uint32_t id = 0;
    {
        Locked hold;
        SimHandle* h = FindHandle(handle, true);
        if (!h)
            return MMSYSERR_INVALHANDLE;
        if (UnitGoneFor(*h))
            if (MMRESULT gone = GoneAnswer(*h, CallKind::Other, function))
                return gone;
        if (!h->started && !reset)
            return MMSYSERR_NOERROR;
        h->started = false;
        h->inSysEx = false;
        Log(reset ? "reset in" : "stop in");
        notify = h->callback;
        id = h->id;
        serial = g.nextCallbackSerial - 1;
        if (!g.ports.wms) {
            if (FrontHasData(*h))
                ReturnFrontBuffer(*h, MIM_LONGDATA);
            while (reset && !h->queue.empty())
                ReturnFrontBuffer(*h, MIM_LONGDATA);
            serial = g.nextCallbackSerial - 1;
        }
    }
    AwaitCallbacks(serial, function);
    for (unsigned returned = 0; g.ports.wms; ++returned) {
        MIDIHDR* header = nullptr;
        UINT message = MIM_LONGDATA;
        {
            Locked hold;
            SimHandle* h = FindHandleById(id);
            if (!h || h->queue.empty() || (!reset && (returned > 0 || !FrontHasData(*h))))
                break;
            if (returned == 64) {
                Log("late %s", function);
                break;
            }
            header = h->queue.front();
            h->queue.pop_front();
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
            message = header->dwBytesRecorded > 0 ? MIM_LONGERROR : MIM_LONGDATA;
        }
        NotifyNow(notify, id, message, reinterpret_cast<DWORD_PTR>(header), 0);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInStop(HMIDIIN handle) {
    return StopOrReset(handle, false);
}

MMRESULT WINAPI midiInReset(HMIDIIN handle) {
    return StopOrReset(handle, true);
}

MMRESULT WINAPI midiInMessage(HMIDIIN handle, UINT message, DWORD_PTR param1, DWORD_PTR param2) {
    return PortMessage(true, reinterpret_cast<UINT_PTR>(handle), message, param1, param2);
}

} // extern "C"
