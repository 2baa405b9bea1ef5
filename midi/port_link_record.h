// The one process-wide PortLink record, shared by the files of the port link only.
#pragma once
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

constexpr size_t RECEIVE_BUFFER_BYTES = 512;

struct PortLink {
    // Atomic so that PortsOpen and the liveness probe can look without taking the link lock,
    // which a send may hold for up to half a second.
    std::atomic<HMIDIOUT> output{nullptr};
    std::atomic<HMIDIIN> input{nullptr};
    MIDIHDR sendHeader{};
    uint8_t bufferA[RECEIVE_BUFFER_BYTES]{};
    uint8_t bufferB[RECEIVE_BUFFER_BYTES]{};
    MIDIHDR headerX{}; // describes bufferA
    MIDIHDR headerY{}; // describes bufferB
    // Set while the input is being closed: the receive notification then hands no buffer back,
    // so the buffers that stop and reset return stay out of the driver and the close can finish.
    std::atomic<bool> inputClosing{false};
    // True once the notification has finished with that buffer since the driver returned it.
    // A driver may return both buffers before the first notification runs; handing back a
    // buffer whose own notification is still to come would let the driver overwrite (and
    // zero the count of) a reply that was never read.
    std::atomic<bool> readX{false};
    std::atomic<bool> readY{false};
};

extern PortLink TheLink;

// Opening, closing and sending all run under this one lock (a CRITICAL_SECTION, so the send
// may close the ports on its own thread without deadlocking itself). The receive notification
// never takes it: native drivers call the notification while midiInReset is blocked, and a
// lock shared with it would deadlock the close.
void LockLink();
void UnlockLink();

// Repeats call() for as long as it answers MIDIERR_STILLPLAYING, pausing briefly between tries,
// until the deadline (a GetTickCount64 value). A driver that never lets go must not hang the
// window in a close: each close operation gives all its calls one second together. Returns
// the last answer.
constexpr ULONGLONG CLOSE_BUDGET_MS = 1000;
template <typename Call> MMRESULT RepeatWhileStillPlaying(Call call, ULONGLONG deadline) {
    constexpr DWORD kPauseMs = 5;
    MMRESULT result = call();
    while (result == MIDIERR_STILLPLAYING && GetTickCount64() < deadline) {
        Sleep(kPauseMs);
        result = call();
    }
    return result;
}
