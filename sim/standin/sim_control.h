// How tests steer the stand-in winmm.dll and read what happened on the simulated MIDI cable.
//
// Environment, read once when the DLL is first used: TAVI_SIM, the scenario text (unset:
// "normal"), and TAVI_SIM_LOG, the transcript file (appended in batches a few milliseconds
// late); and the functions below, looked up with GetProcAddress (SimLoadApi).
//
// Scenario text: the unit model's own text (sim/unit_model.h: base;key=value...) mixed with
// the port keys below, which are taken out before the rest goes to the model.
//   stack=classic|wms   wms: Windows 11's MIDI service behind WinMM. Ports are shared by every
//                       program that opens them (busy_out/busy_in answer nothing); a long send
//                       is done within the call (async_done is ignored); a SysEx byte that
//                       finds no buffer waits 1 ms at its F0, 10 ms inside it, then it and the
//                       rest of its message are dropped; stop returns a partly filled buffer
//                       as MIM_LONGERROR and reset returns the buffers on the caller's thread;
//                       midiOutReset sends nothing; a unit plugged in again is listed after
//                       the other ports. A removed unit's handles answer 6 to every call
//                       except midiOutClose (0) and midiInClose (65 while buffers are queued,
//                       which is for ever)
//   old_build=1         (wms) builds before those removal answers: midiInStart and
//                       midiInAddBuffer answer 0, a send answers 1 after 1 s, later ones at once
//   unplug_code=C       (classic) what sends, midiInStart and midiInAddBuffer on a gone unit's
//                       handles answer: 6 (default), 5 or 1; stop, reset, release, close work
//   outputs=A|B|...     port names in index order; default Other|tavi and Other|tavi MIDI In
//   inputs=A|B|...      (classic), Other|tavi both ways (wms), Other|tavi Out / Other|tavi In
//   names=legacy|new    (new). The unit's ports are the first whose names begin "tavi".
//   units=2             a second tavi with its own model on ports added at the end of both
//                       lists: its names are the first's after "2- " (classic) or "2 - " (wms),
//   numbered=0          or the same names as the first's. Its events begin "unit2 "
//   second=BASE         the second unit's base (normal, update, old), when not the first's
//   interfaces=0        the units' ports tell no device interface (DRV_QUERYDEVICEINTERFACE*;
//                       otherwise a unit's two ports share one, classic drivers of other ports
//                       answer 8, the service answers an empty one)
//   busy_out=N, busy_in=N   opening that port answers 4, as if another program had it
//   caps_fail_out=N, caps_fail_in=N   its capabilities answer 6
//   async_done=MS       midiOutLongMsg returns at once, MHDR_DONE and MOM_DONE come MS later
//   refuse_release=K    midiOutUnprepareHeader answers 65 K times for the first long message
//   replug_after=MS     an unplugged unit is plugged in again MS later (a fresh model)
//   restart=1           once the unit has confirmed the end of an update it leaves USB and
//                       (with replug_after) comes back running the new firmware
//
// Transcript: one line per event, "<ms> <event>" (ms since the DLL was first used, three
// decimals; hex upper case): begin <pid>, configure <text>, configure-error <why>, plug,
// unplug, open out|in <index>, close out|in, start|stop|reset in, reset out, rx <hex> (the
// unit received), tx <hex> (it sent), other <hex> (sent to another port), refused <function>
// <code>, reused <function> (a header queued on another open handle was used), dropped <n>
// no-input|no-buffer|stray, done out (an asynchronous send), late <function> (notifications
// undelivered after 2 s). The second unit's events begin "unit2 ". Open, close and a
// synchronous send notify on the caller's thread, the rest from the driver thread, one due
// message at a time; classic stop and reset return once their notifications ran.
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// 0, or -1 when the text is not understood (the reason goes to the transcript). The new
// ports and a freshly plugged unit take effect at once; handles opened before stay open but
// the unit behind them is gone.
typedef int (*SimConfigureFn)(const char* scenarioText);
// Unplugs the unit now, as the scenario's stack does.
typedef void (*SimUnplugFn)(void);
// The transcript since the last clear: copies up to size-1 bytes and a NUL, returns the full
// length (size 0 measures).
typedef int (*SimReadTranscriptFn)(char* buffer, int size);
typedef void (*SimClearTranscriptFn)(void);
// The unit sends these bytes now: a long message (isShort 0, any bytes, even malformed) or a
// short one (isShort 1, 1..3 bytes). 0, or -1 when it is unplugged or the arguments are bad.
typedef int (*SimInjectFn)(const unsigned char* bytes, int length, int isShort);

#ifdef __cplusplus
}
#endif

#ifdef _WIN32
#include <windows.h>

typedef struct SimApi {
    SimConfigureFn configure;
    SimUnplugFn unplug;
    SimReadTranscriptFn readTranscript;
    SimClearTranscriptFn clearTranscript;
    SimInjectFn inject;
} SimApi;

// Finds the control functions in the winmm.dll this process has loaded. 0, or -1 when the
// loaded winmm is not the stand-in.
static inline int SimLoadApi(SimApi* api) {
    HMODULE module = GetModuleHandleA("winmm.dll");
    if (!module)
        module = LoadLibraryA("winmm.dll");
    if (!module)
        return -1;
#define SIM_LOOKUP(field, name, type)                                                              \
    api->field = (type)(void (*)(void))GetProcAddress(module, name)
    SIM_LOOKUP(configure, "SimConfigure", SimConfigureFn);
    SIM_LOOKUP(unplug, "SimUnplug", SimUnplugFn);
    SIM_LOOKUP(readTranscript, "SimReadTranscript", SimReadTranscriptFn);
    SIM_LOOKUP(clearTranscript, "SimClearTranscript", SimClearTranscriptFn);
    SIM_LOOKUP(inject, "SimInject", SimInjectFn);
#undef SIM_LOOKUP
    return api->configure && api->unplug && api->readTranscript && api->clearTranscript &&
                   api->inject
               ? 0
               : -1;
}
#endif
