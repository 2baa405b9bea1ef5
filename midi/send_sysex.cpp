// Sending one SysEx message and waiting, boundedly, until the driver has finished with it.
#include "midi/port_link.h"

#include "midi/pause.h"
#include "midi/port_link_record.h"

namespace {

constexpr unsigned kCompletionBoundMs = 250; // five pauses of 50 ms
constexpr int kReleaseAttempts = 5;
constexpr DWORD kReleasePauseMs = 50;

bool SendDone(const void* header) {
    // The driver sets the flag from its own thread.
    const DWORD flags =
        *static_cast<const volatile DWORD*>(&static_cast<const MIDIHDR*>(header)->dwFlags);
    return (flags & MHDR_DONE) != 0;
}

void CloseBothPorts() {
    CloseInputPort();
    CloseOutputPort();
}

} // namespace

void SendSysEx(const uint8_t* bytes, size_t length) {
    // The window and the update worker may both send, and there is one send header: sends are
    // taken one at a time.
    LockLink();
    const HMIDIOUT output = TheLink.output.load();
    // Every send header left with a refused output: nothing can be sent safely any more.
    if (!output || !bytes || length == 0 || TheLink.sendHeader == SEND_HEADERS) {
        UnlockLink();
        return;
    }
    MIDIHDR& header = TheLink.sendHeaders[TheLink.sendHeader];
    header = MIDIHDR{};
    header.lpData = reinterpret_cast<LPSTR>(const_cast<uint8_t*>(bytes));
    header.dwBufferLength = static_cast<DWORD>(length);
    header.dwFlags = 0;
    const MMRESULT prepared = midiOutPrepareHeader(output, &header, sizeof(MIDIHDR));
    if (prepared != MMSYSERR_NOERROR) {
        if (IsLostLinkCode(prepared)) {
            CloseBothPorts(); // the newer Windows MIDI service refuses even this once it is gone
        }
        UnlockLink();
        return;
    }
    const MMRESULT sent = midiOutLongMsg(output, &header, sizeof(MIDIHDR));
    if (IsLostLinkCode(sent)) {
        // The unit is gone.
        midiOutUnprepareHeader(output, &header, sizeof(MIDIHDR));
        CloseBothPorts();
        UnlockLink();
        return;
    }
    // Tested in fine slices, not once per 50 ms: a driver that completes after 1 ms must not
    // cost each record a whole 50 ms pause.
    PauseUntil(kCompletionBoundMs, SendDone, &header, nullptr);
    for (int attempt = 1;; ++attempt) {
        if (midiOutUnprepareHeader(output, &header, sizeof(MIDIHDR)) != MIDIERR_STILLPLAYING) {
            break;
        }
        Sleep(kReleasePauseMs);
        if (attempt == kReleaseAttempts) {
            // The driver holds on to the buffer: treat the link as lost.
            CloseBothPorts();
            break;
        }
    }
    UnlockLink();
}
