// The rest of what a program may import from winmm: error texts, the multimedia timer
// functions, and refusing stubs for the parts of WinMM the unit never needs (streams, audio).
// With the stand-in in place it is the only winmm in the process, so a missing export would
// stop the program from loading at all.
#include "sim/standin/standin.h"

namespace {

const char* ErrorText(MMRESULT code) {
    switch (code) {
    case MMSYSERR_NOERROR:
        return "The command completed.";
    case MMSYSERR_ERROR:
        return "An unspecified error occurred.";
    case MMSYSERR_BADDEVICEID:
        return "The device identifier is out of range.";
    case MMSYSERR_NOTENABLED:
        return "The driver is not enabled.";
    case MMSYSERR_ALLOCATED:
        return "The device is already in use by another program.";
    case MMSYSERR_INVALHANDLE:
        return "The device handle is not valid.";
    case MMSYSERR_NODRIVER:
        return "No driver is installed for the device.";
    case MMSYSERR_NOMEM:
        return "Not enough memory.";
    case MMSYSERR_NOTSUPPORTED:
        return "The function is not supported.";
    case MMSYSERR_BADERRNUM:
        return "The error number is not defined.";
    case MMSYSERR_INVALFLAG:
        return "A flag is not valid.";
    case MMSYSERR_INVALPARAM:
        return "A parameter is not valid.";
    case MMSYSERR_HANDLEBUSY:
        return "The handle is in use by another thread.";
    case MIDIERR_UNPREPARED:
        return "The header is not prepared.";
    case MIDIERR_STILLPLAYING:
        return "The buffers are still in use.";
    case MIDIERR_NOMAP:
        return "There is no MIDI map.";
    case MIDIERR_NOTREADY:
        return "The MIDI port is busy; try again.";
    case MIDIERR_NODEVICE:
        return "The MIDI device of the map is not present.";
    case MIDIERR_INVALIDSETUP:
        return "The MIDI setup is damaged.";
    case MIDIERR_BADOPENMODE:
        return "The operation does not suit the mode the port was opened in.";
    case MIDIERR_DONT_CONTINUE:
        return "The thru device stops this message.";
    default:
        return nullptr;
    }
}

template <typename Char> MMRESULT CopyErrorText(MMRESULT code, Char* text, UINT size) {
    if (!text || size == 0)
        return MMSYSERR_INVALPARAM;
    const char* message = ErrorText(code);
    if (!message) {
        text[0] = 0;
        return MMSYSERR_BADERRNUM;
    }
    UINT i = 0;
    for (; message[i] && i + 1 < size; ++i)
        text[i] = static_cast<Char>(message[i]);
    text[i] = 0;
    return MMSYSERR_NOERROR;
}

DWORD MillisecondsSinceBoot() {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<DWORD>(static_cast<uint64_t>(now.QuadPart) * 1000u /
                              static_cast<uint64_t>(frequency.QuadPart));
}

} // namespace

extern "C" {

MMRESULT WINAPI midiOutGetErrorTextA(MMRESULT code, LPSTR text, UINT size) {
    return CopyErrorText(code, text, size);
}
MMRESULT WINAPI midiOutGetErrorTextW(MMRESULT code, LPWSTR text, UINT size) {
    return CopyErrorText(code, text, size);
}
MMRESULT WINAPI midiInGetErrorTextA(MMRESULT code, LPSTR text, UINT size) {
    return CopyErrorText(code, text, size);
}
MMRESULT WINAPI midiInGetErrorTextW(MMRESULT code, LPWSTR text, UINT size) {
    return CopyErrorText(code, text, size);
}

DWORD WINAPI timeGetTime(void) {
    return MillisecondsSinceBoot();
}

MMRESULT WINAPI timeGetSystemTime(LPMMTIME time, UINT size) {
    if (!time || size < sizeof(MMTIME))
        return MMSYSERR_INVALPARAM;
    time->wType = TIME_MS;
    time->u.ms = MillisecondsSinceBoot();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI timeGetDevCaps(LPTIMECAPS caps, UINT size) {
    if (!caps || size < sizeof(TIMECAPS))
        return TIMERR_NOCANDO;
    caps->wPeriodMin = 1;
    caps->wPeriodMax = 65535;
    return TIMERR_NOERROR;
}

// The timer resolution is the host's business under Wine; like Wine, accept any sane period.
MMRESULT WINAPI timeBeginPeriod(UINT period) {
    return (period >= 1 && period <= 65535) ? TIMERR_NOERROR : TIMERR_NOCANDO;
}
MMRESULT WINAPI timeEndPeriod(UINT period) {
    return (period >= 1 && period <= 65535) ? TIMERR_NOERROR : TIMERR_NOCANDO;
}

// Periodic multimedia timers are not offered: 0 is timeSetEvent's failure answer.
MMRESULT WINAPI timeSetEvent(UINT, UINT, LPTIMECALLBACK, DWORD_PTR, UINT) {
    return 0;
}
MMRESULT WINAPI timeKillEvent(UINT) {
    return MMSYSERR_INVALPARAM;
}

// Streams, thru connections and audio devices do not exist behind the stand-in.
MMRESULT WINAPI midiStreamOpen(LPHMIDISTRM stream, LPUINT, DWORD, DWORD_PTR, DWORD_PTR, DWORD) {
    if (stream)
        *stream = nullptr;
    return MMSYSERR_NOTSUPPORTED;
}
MMRESULT WINAPI midiStreamClose(HMIDISTRM) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI midiStreamProperty(HMIDISTRM, LPBYTE, DWORD) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI midiStreamPosition(HMIDISTRM, LPMMTIME, UINT) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI midiStreamOut(HMIDISTRM, LPMIDIHDR, UINT) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI midiStreamPause(HMIDISTRM) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI midiStreamRestart(HMIDISTRM) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI midiStreamStop(HMIDISTRM) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI midiConnect(HMIDI, HMIDIOUT, LPVOID) {
    return MMSYSERR_NOTSUPPORTED;
}
MMRESULT WINAPI midiDisconnect(HMIDI, HMIDIOUT, LPVOID) {
    return MMSYSERR_NOTSUPPORTED;
}

UINT WINAPI waveOutGetNumDevs(void) {
    return 0;
}
UINT WINAPI waveInGetNumDevs(void) {
    return 0;
}
UINT WINAPI auxGetNumDevs(void) {
    return 0;
}
UINT WINAPI mixerGetNumDevs(void) {
    return 0;
}
UINT WINAPI joyGetNumDevs(void) {
    return 0;
}
WINBOOL WINAPI PlaySoundA(LPCSTR, HMODULE, DWORD) {
    return FALSE;
}
WINBOOL WINAPI PlaySoundW(LPCWSTR, HMODULE, DWORD) {
    return FALSE;
}
WINBOOL WINAPI sndPlaySoundA(LPCSTR, UINT) {
    return FALSE;
}
WINBOOL WINAPI sndPlaySoundW(LPCWSTR, UINT) {
    return FALSE;
}

} // extern "C"
