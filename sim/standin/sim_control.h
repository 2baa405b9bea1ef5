// How tests steer the stand-in winmm.dll and read what happened on the simulated MIDI cable.
//
// Environment, read once when the DLL is first used:
//   TAVI_SIM      scenario text (below); unset means "normal" with the default ports
//   TAVI_SIM_LOG  transcript file path; lines are appended in batches a few milliseconds after
//                 they happen, the rest when the process ends
// and the functions below, looked up with GetProcAddress (SimLoadApi).
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
//   names=legacy|new    (new)
//   no_ports=1          no outputs and no inputs at all
//   unit_out=N          output index wired to the unit (default: first name starting "tavi")
//   unit_in=N           input index wired to the unit (same default rule); -1: none
//   units=2             a second tavi with its own model on ports added at the end of both
//                       lists: its names are the first's after "2- " (classic) or "2 - " (wms),
//   numbered=0          or the same names as the first's. Its events begin "unit2 "
//   second=BASE         the second unit's base (normal, update, old), when not the first's
//   interfaces=0        the units' ports tell no device interface (DRV_QUERYDEVICEINTERFACE*;
//                       otherwise a unit's two ports share one, classic drivers of other ports
//                       answer 8, the service answers an empty one)
//   busy_out=N          opening output N answers MMSYSERR_ALLOCATED (4), as if another
//   busy_in=N           program had it; likewise input N
//   caps_fail_out=N     midiOutGetDevCaps for output N answers MMSYSERR_NODRIVER (6)
//   caps_fail_in=N      likewise for input N
//   async_done=MS       midiOutLongMsg returns at once, MHDR_DONE and MOM_DONE come MS later
//   refuse_release=K    midiOutUnprepareHeader answers 65 K times for the N-th long message
//   refuse_release_at=N (0-based, counted from plug-in; default 0)
//   replug_after=MS     an unplugged unit is plugged in again MS later (a fresh model)
//   restart=1           once the unit has confirmed the end of an update it leaves USB and
//                       (with replug_after) comes back running the new firmware
//
// Transcript: one line per event, "<ms> <event>", ms since the DLL was first used with three
// decimals; hex bytes upper case, single spaces. The second unit's events begin "unit2 ".
//   begin <pid>; configure <text>; configure-error <message>; plug; unplug
//   open out|in <index>; close out|in; start in; stop in; reset in; reset out
//   refused <function> <code>           a call refused (busy, pending, gone, scripted)
//   reused <function>                   a header queued on another open handle was used
//   rx <hex> / tx <hex>                 the unit received / sent a message
//   other <hex>                         the host sent to a port that is not the unit's
//   dropped <n> no-input|no-buffer|stray   unit bytes that found no input, buffer or SysEx
//   done out                            an asynchronous long message completed
//   late <function>                     its notifications were undelivered after 2 s
//
// Notifications: open, close and a synchronous send's MOM_DONE come on the caller's thread
// inside the call; the rest from the stand-in's driver thread, one due message at a time.
// Classic stop, reset and midiOutReset return once that thread has delivered what they
// handed back (in place when called from a notification). Nothing reaches a closed handle.
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
