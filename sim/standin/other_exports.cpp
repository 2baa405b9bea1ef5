// The rest of what the program imports from winmm: the timer resolution, which is the host's
// business under Wine. With the stand-in in place it is the only winmm in the process, so a
// missing export would stop the program from loading at all.
#include "sim/standin/standin.h"

extern "C" {

MMRESULT WINAPI timeBeginPeriod(UINT period) {
    return (period >= 1 && period <= 65535) ? TIMERR_NOERROR : TIMERR_NOCANDO;
}
MMRESULT WINAPI timeEndPeriod(UINT period) {
    return (period >= 1 && period <= 65535) ? TIMERR_NOERROR : TIMERR_NOCANDO;
}

} // extern "C"
