#include "firmware/update_worker.h"

#include <mmsystem.h>

#include <atomic>

#include "firmware/update_sequence.h"
#include "midi/pause.h"
#include "midi/port_link.h"
#include "protocol/device_state.h"

namespace {

std::atomic<HWND> targetWindow{nullptr};
std::atomic<const FirmwareImage*> targetImage{nullptr};

HWND Window(void* context) {
    return static_cast<HWND>(context);
}

void PostCommand(HWND window, unsigned command, LPARAM value) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(command, 0), value);
}

void Send(void*, const uint8_t* bytes, size_t length) {
    SendSysEx(bytes, length);
}

uint8_t ReadReplyCode(void*) {
    return LoadReplyCode(TheDevice);
}

void ClearReply(void*) {
    ClearReplyCode(TheDevice);
}

void ReadVersion(void*, uint8_t version[2]) {
    version[0] = TheDevice.FirmwareVersion[0].load(std::memory_order_relaxed);
    version[1] = TheDevice.FirmwareVersion[1].load(std::memory_order_relaxed);
}

struct AwaitedCodes {
    uint8_t awaited; // 0: any reply
    uint8_t alternative;
};

bool ReplyAwaited(const void* arg) {
    const auto* codes = static_cast<const AwaitedCodes*>(arg);
    const uint8_t code = LoadReplyCode(TheDevice);
    return code != 0 &&
           (codes->awaited == 0 || code == codes->awaited || code == codes->alternative);
}

// Every pause sleeps on the event the receive path sets after storing a reply, so the worker
// uses no processor while the unit works and sends the next record the moment the answer is
// stored. A stray reply wakes the worker but does not end the pause.
void WaitForReply(void*, unsigned ms, uint8_t awaited, uint8_t alternative) {
    const AwaitedCodes codes{awaited, alternative};
    PauseUntil(ms, ReplyAwaited, &codes, ReplyStoredEvent());
}

// Asked only while the unit erases, when nothing is sent that could find it gone: so besides
// the ports themselves, ask the input whether it still answers and the lists whether they
// still hold the ports (the status tick's checks, which the window does not run during an
// update).
bool LinkOpen(void*) {
    return PortsOpen() && !IsLostLinkCode(ProbeInputPort()) && PortsStillListed();
}

void PostStatus(void* context, int status) {
    PostCommand(Window(context), CMD_UPDATE_STATUS, status);
}

void PostProgress(void* context, uint16_t percent) {
    PostCommand(Window(context), CMD_UPDATE_PROGRESS, percent);
}

void ShowMessage(void* context, const char* text, const char* caption) {
    MessageBoxA(Window(context), text, caption, MB_OK);
}

void RequestClose(void* context) {
    PostMessageA(Window(context), WM_CLOSE, 0, 0);
}

void PostDone(void* context) {
    PostCommand(Window(context), CMD_UPDATE_DONE, 0);
}

DWORD WINAPI WorkerThread(LPVOID) {
    const UpdateIo io{targetWindow.load(), Send,         ReadReplyCode, ClearReply,
                      ReadVersion,         WaitForReply, LinkOpen,      PostStatus,
                      PostProgress,        ShowMessage,  RequestClose};
    // A stock Windows machine sleeps in whole 15.6 ms ticks; the 50 ms pauses and the send's
    // completion wait sleep, so raising the timer resolution for the worker's lifetime keeps
    // them near their nominal length.
    const bool raised = timeBeginPeriod(1) == TIMERR_NOERROR;
    RunUpdateWorker(io, targetImage.load(), PostDone);
    if (raised) {
        timeEndPeriod(1);
    }
    return 0;
}

} // namespace

void SetUpdateTarget(HWND window, const FirmwareImage* image) {
    targetWindow.store(window);
    targetImage.store(image);
}

int StartUpdateWorker() {
    HANDLE thread = CreateThread(nullptr, 0, WorkerThread, nullptr, 0, nullptr);
    if (!thread) {
        return -1;
    }
    // Nobody waits for the worker: it ends by itself, or with the process.
    CloseHandle(thread);
    return 0;
}
