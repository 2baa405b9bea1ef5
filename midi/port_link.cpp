// Opening and closing the pair of ports, and the receive path that feeds the reply parser.
#include "midi/port_link.h"

#include "midi/port_link_record.h"
#include "protocol/reply_parser.h"

PortLink TheLink;

namespace {

struct LinkLockHolder {
    CRITICAL_SECTION section;
    LinkLockHolder() { InitializeCriticalSection(&section); }
};

// Made on first use and kept for the whole run, like the record it guards.
CRITICAL_SECTION& LinkSection() {
    static LinkLockHolder holder;
    return holder.section;
}

void ResetReceiveHeader(MIDIHDR& header, uint8_t* buffer) {
    header = MIDIHDR{};
    header.lpData = reinterpret_cast<LPSTR>(buffer);
    header.dwBufferLength = RECEIVE_BUFFER_BYTES;
    header.dwFlags = 0;
}

// A reply is whole when the buffer ends in F7; a longer message split across both buffers
// ends one of them without it, and its other part lacks the F0 2C 4D head, so neither is read.
void ParseIfComplete(const MIDIHDR& completed) {
    const DWORD count = completed.dwBytesRecorded;
    if (count == 0 || count > RECEIVE_BUFFER_BYTES) {
        return;
    }
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(completed.lpData);
    if (bytes[count - 1] != 0xF7) {
        return;
    }
    if (ReplyParser(TheDevice, bytes, count) != 0) {
        SetEvent(ReplyStoredEvent());
    }
}

// Runs on the driver's notification thread. It allocates nothing, takes no lock and never
// waits: the window thread may be inside midiInReset waiting for it to return.
void CALLBACK ReceiveNotification(HMIDIIN input, UINT message, DWORD_PTR /*instance*/,
                                  DWORD_PTR param1, DWORD_PTR /*param2*/) {
    if (message != MIM_LONGDATA && message != MIM_LONGERROR) {
        return;
    }
    // Drivers may deliver a notification late, after its input was closed and perhaps another
    // opened on the same headers: only the input open now is listened to.
    if (input != TheLink.input.load()) {
        return;
    }
    ReceiveSet* set = TheLink.receive.load();
    MIDIHDR* completed = reinterpret_cast<MIDIHDR*>(param1);
    MIDIHDR* other = nullptr;
    std::atomic<bool>* completedRead = nullptr;
    std::atomic<bool>* otherRead = nullptr;
    if (set && completed == &set->headerX) {
        other = &set->headerY;
        completedRead = &set->readX;
        otherRead = &set->readY;
    } else if (set && completed == &set->headerY) {
        other = &set->headerX;
        completedRead = &set->readY;
        otherRead = &set->readX;
    } else {
        return; // not one of ours: a late notification for a header we no longer know
    }
    // The driver fills the other buffer while this one is read. Only a buffer already read goes
    // back: on the first completion the other is still queued, and when the driver returned
    // both at once the other's own notification follows and hands this one back instead.
    // Once closing has begun nothing goes back, or reset would never empty the queue.
    if (!TheLink.inputClosing.load(std::memory_order_acquire) && otherRead->load()) {
        if (midiInAddBuffer(input, other, sizeof(MIDIHDR)) == MMSYSERR_NOERROR) {
            otherRead->store(false);
        }
    }
    if (message == MIM_LONGDATA) {
        ParseIfComplete(*completed);
    }
    completedRead->store(true);
}

} // namespace

void LockLink() {
    EnterCriticalSection(&LinkSection());
}
void UnlockLink() {
    LeaveCriticalSection(&LinkSection());
}

int OpenOutputPort(unsigned output) {
    LockLink();
    CloseOutputPort();
    int result = 0;
    if (output >= midiOutGetNumDevs()) {
        result = -1;
    } else {
        TheLink.outputListed = ReadIdentity(false, output);
        HMIDIOUT handle = nullptr;
        if (midiOutOpen(&handle, output, 0, 0, CALLBACK_NULL) == MMSYSERR_NOERROR) {
            TheLink.output.store(handle);
        } else {
            result = -2;
        }
    }
    UnlockLink();
    return result;
}

namespace {

// The steps of opening an input after the index was checked; the caller closes on failure.
int OpenInputSteps(unsigned input) {
    ReplyStoredEvent(); // made here, not first on the notification thread
    TheLink.inputClosing.store(false, std::memory_order_release);
    TheLink.inputListed = ReadIdentity(true, input);
    ReceiveSet* set = TheLink.sets;
    while (set->abandoned) {
        if (++set == TheLink.sets + RECEIVE_SETS) {
            return -6; // every set is still held by a driver
        }
    }
    TheLink.receive.store(set);
    HMIDIIN handle = nullptr;
    if (midiInOpen(&handle, input, reinterpret_cast<DWORD_PTR>(&ReceiveNotification), 0,
                   CALLBACK_FUNCTION | MIDI_IO_STATUS) != MMSYSERR_NOERROR) {
        return -4;
    }
    TheLink.input.store(handle);
    for (MIDIHDR* header : {&set->headerX, &set->headerY}) {
        ResetReceiveHeader(*header, header == &set->headerX ? set->bufferA : set->bufferB);
        if (midiInPrepareHeader(handle, header, sizeof(MIDIHDR)) != MMSYSERR_NOERROR) {
            return -6;
        }
    }
    set->readX.store(false);
    set->readY.store(false);
    if (midiInAddBuffer(handle, &set->headerX, sizeof(MIDIHDR)) != MMSYSERR_NOERROR ||
        midiInAddBuffer(handle, &set->headerY, sizeof(MIDIHDR)) != MMSYSERR_NOERROR) {
        return -7;
    }
    if (midiInStart(handle) != MMSYSERR_NOERROR) {
        return -8;
    }
    return 0;
}

} // namespace

int OpenInputPort(unsigned input) {
    LockLink();
    CloseInputPort();
    int result = -2;
    if (input < midiInGetNumDevs()) {
        result = OpenInputSteps(input);
        if (result != 0) {
            CloseInputPort();
        }
    }
    UnlockLink();
    return result;
}

void CloseOutputPort() {
    LockLink();
    HMIDIOUT handle = TheLink.output.load();
    if (handle) {
        const ULONGLONG deadline = GetTickCount64() + CLOSE_BUDGET_MS;
        midiOutReset(handle);
        // Should the driver still refuse after the bounded retries, the handle is given up
        // rather than the window hung, and with it the send header it may still hold.
        if (RepeatWhileStillPlaying([&] { return midiOutClose(handle); }, deadline) !=
                MMSYSERR_NOERROR &&
            TheLink.sendHeader < SEND_HEADERS) {
            ++TheLink.sendHeader;
        }
        TheLink.output.store(nullptr);
    }
    UnlockLink();
}

void CloseInputPort() {
    LockLink();
    HMIDIIN handle = TheLink.input.load();
    if (handle) {
        ReceiveSet& set = *TheLink.receive.load();
        ULONGLONG deadline = GetTickCount64() + CLOSE_BUDGET_MS;
        TheLink.inputClosing.store(true, std::memory_order_release);
        // With their flags cleared the headers no longer count as prepared, so a hand-back
        // racing with this close is refused by the driver as well.
        set.headerX.dwFlags = 0;
        set.headerY.dwFlags = 0;
        // A driver that answers for a lost unit here will never give the buffers back:
        // waiting for it would only keep the window from saying so.
        if (IsLostLinkCode(midiInStop(handle))) {
            deadline = 0;
        }
        for (MIDIHDR* header : {&set.headerX, &set.headerY}) {
            RepeatWhileStillPlaying(
                [&] { return midiInUnprepareHeader(handle, header, sizeof(MIDIHDR)); }, deadline);
        }
        midiInReset(handle);
        // A close still refused keeps its buffers queued for good (the newer Windows MIDI
        // service, once the unit has left USB): they are left to that handle.
        set.abandoned = RepeatWhileStillPlaying([&] { return midiInClose(handle); }, deadline) != 0;
        TheLink.input.store(nullptr);
    }
    UnlockLink();
}

bool PortsOpen() {
    return TheLink.output.load() != nullptr && TheLink.input.load() != nullptr;
}

unsigned ProbeInputPort() {
    // With no input open the probe is made on no handle at all, which the platform answers
    // like a lost port (5), so the caller needs no case of its own. Under the lock: the window
    // may close the input while the worker probes.
    LockLink();
    const unsigned result = midiInStart(TheLink.input.load());
    UnlockLink();
    return result;
}

bool IsLostLinkCode(unsigned result) {
    return result == MMSYSERR_ERROR || result == MMSYSERR_INVALHANDLE ||
           result == MMSYSERR_NODRIVER;
}

HANDLE ReplyStoredEvent() {
    static const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return event;
}
