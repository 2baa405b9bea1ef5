#include "midi/pause.h"

namespace {

constexpr LONGLONG kSpinMs = 2; // only without a wake event

LONGLONG Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

} // namespace

bool PauseUntil(unsigned ms, bool (*done)(const void* arg), const void* arg, HANDLE wake) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const LONGLONG start = Ticks();
    const LONGLONG spinEnd = wake ? start : start + frequency.QuadPart * kSpinMs / 1000;
    const LONGLONG end = start + frequency.QuadPart * ms / 1000;
    for (;;) {
        if (done(arg)) {
            return true;
        }
        const LONGLONG now = Ticks();
        if (now >= end) {
            return false;
        }
        if (now < spinEnd) {
            SwitchToThread();
            continue;
        }
        const auto leftMs =
            static_cast<DWORD>(((end - now) * 1000 + frequency.QuadPart - 1) / frequency.QuadPart);
        if (wake == nullptr || WaitForSingleObject(wake, leftMs) == WAIT_FAILED) {
            wake = nullptr;
            Sleep(1);
        }
    }
}
