// The one process-wide PortLink record, shared by the files of the port link only.
#pragma once
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "midi/port_pairing.h"

constexpr size_t RECEIVE_BUFFER_BYTES = 512;
// A driver that never lets go of a closed input keeps its buffers; the next input gets another
// set. On Windows 11's MIDI service that happens whenever the unit leaves USB while its input
// is open, which it does after every update: a few sets last a long session.
constexpr size_t RECEIVE_SETS = 8;
constexpr size_t SEND_HEADERS = 4; // likewise for an output whose close is refused

struct ReceiveSet {
    uint8_t bufferA[RECEIVE_BUFFER_BYTES]{};
    uint8_t bufferB[RECEIVE_BUFFER_BYTES]{};
    MIDIHDR headerX{}; // describes bufferA
    MIDIHDR headerY{}; // describes bufferB
    // True once the notification has finished with that buffer since the driver returned it.
    // A driver may return both buffers before the first notification runs; handing back a
    // buffer whose own notification is still to come would let the driver overwrite (and
    // zero the count of) a reply that was never read.
    std::atomic<bool> readX{false};
    std::atomic<bool> readY{false};
    // Left with an input whose close was refused for good: never prepared or queued again.
    bool abandoned = false;
};

struct PortLink {
    // Atomic so that PortsOpen can look without taking the link lock, which a send may hold
    // for up to half a second.
    std::atomic<HMIDIOUT> output{nullptr};
    std::atomic<HMIDIIN> input{nullptr};
    MIDIHDR sendHeaders[SEND_HEADERS]{};
    size_t sendHeader = 0; // the one in use; those before it were left with refused outputs
    ReceiveSet sets[RECEIVE_SETS];
    std::atomic<ReceiveSet*> receive{nullptr}; // the set of the input open now
    // Set while the input is being closed: the receive notification then hands no buffer back,
    // so the buffers that stop and reset return stay out of the driver and the close can finish.
    std::atomic<bool> inputClosing{false};
    // The open ports as they were listed when opened, to find them again in the lists.
    PortIdentity outputListed;
    PortIdentity inputListed;
};

extern PortLink TheLink;

// What a port tells of itself without being opened: its name and its device interface.
PortIdentity ReadIdentity(bool input, unsigned index);

// Opening, closing and sending all run under this one lock (a CRITICAL_SECTION, so the send
// may close the ports on its own thread without deadlocking itself). The receive notification
// never takes it: native drivers call the notification while midiInReset is blocked, and a
// lock shared with it would deadlock the close.
void LockLink();
void UnlockLink();

// Repeats call() for as long as it answers MIDIERR_STILLPLAYING, pausing briefly between tries,
// until the deadline (a GetTickCount64 value). A driver that never lets go must not hang the
// window in a close: each close operation gives all its calls 700 ms together, so closing
// both ports stays under a second and a half. Returns the last answer.
constexpr ULONGLONG CLOSE_BUDGET_MS = 700;
template <typename Call> MMRESULT RepeatWhileStillPlaying(Call call, ULONGLONG deadline) {
    constexpr DWORD kPauseMs = 5;
    MMRESULT result = call();
    while (result == MIDIERR_STILLPLAYING && GetTickCount64() < deadline) {
        Sleep(kPauseMs);
        result = call();
    }
    return result;
}
