// How tests steer the stand-in winmm.dll and read what happened on the simulated MIDI cable.
//
// Two ways in, both optional:
//   - environment, read once when the DLL is first used:
//       TAVI_SIM      scenario text (below); unset means "normal" with the default ports
//       TAVI_SIM_LOG  transcript file path; lines are appended in order, in batches at most
//                     a few milliseconds after they happen, and the rest when the process
//                     ends (a process that is killed may lose its last few milliseconds)
//   - the exported functions below, looked up with GetProcAddress (SimLoadApi does that).
//
// Scenario text: the unit model's own text (sim/unit_model.h: base;key=value...) mixed with
// the port keys of the stand-in, which are taken out before the rest goes to the model. A
// text that starts with a key (contains '=') gets the base "normal".
//   outputs=A|B|...     output port names in index order (default Other|tavi); empty: none
//   inputs=A|B|...      input port names (default Other|tavi MIDI In); empty: none
//   no_ports=1          no outputs and no inputs at all
//   unit_out=N          output index wired to the unit (default: first name starting "tavi")
//   unit_in=N           input index wired to the unit (same default rule); -1: none
//   busy_out=N          opening output N answers MMSYSERR_ALLOCATED (4), as if another
//   busy_in=N           program had it; likewise input N
//   caps_fail_out=N     midiOutGetDevCaps for output N answers MMSYSERR_NODRIVER (6)
//   caps_fail_in=N      likewise for input N
//   async_done=MS       midiOutLongMsg returns at once, MHDR_DONE and MOM_DONE come MS later
//                       from the driver thread (default 0: done before the call returns)
//   refuse_release=K    midiOutUnprepareHeader answers MIDIERR_STILLPLAYING (65) K times for
//   refuse_release_at=N   the N-th long message (0-based, counted from the last configure or
//                       plug-in; default 0) before it lets the header go
//   unplug_code=C       what data calls answer once the unit is gone: 6 (default), 5, or 1
//                       (the unit's handles stay valid after an unplug: midiOutLongMsg,
//                       midiOutShortMsg, midiInStart and midiInAddBuffer answer C; stop,
//                       reset, prepare, release and close still work. MMSYSERR_INVALHANDLE
//                       proper is for handles that were closed, never opened, or of the
//                       other direction)
//   keep_ports=1        the unit's ports stay listed after an unplug (default: they vanish)
//   block_after_unplug=MS  midiOutLongMsg and midiOutShortMsg on a gone unit's handle take MS
//                       before they answer unplug_code
//   replug_after=MS     an unplugged unit is plugged in again MS later, without its scripted
//                       unplug (the same port indexes, a fresh unit model)
//   old_build=1         the newer layer's builds before its fixes: unplug_code=1,
//                       block_after_unplug=5000 and keep_ports=1, unless given otherwise
//   stack=classic|wms   wms: the newer Windows MIDI layer's WinMM behaviour. Every port opens,
//                       however many hold it (busy_out and busy_in answer nothing); a long
//                       send is done within the call (async_done is ignored); a SysEx byte
//                       that finds no queued buffer waits for one, 1 ms at its F0 and 10 ms
//                       inside it, before it and the rest of its message are dropped (classic:
//                       dropped at once)
//   names=legacy|new    the default port names: tavi / tavi MIDI In, or tavi Out / tavi In
//   units=2             a second tavi, with its own unit model, on a pair of ports added at
//                       the end of both lists: 2- tavi / 2- tavi MIDI In, or under new names
//                       tavi (2) Out / tavi (2) In. It runs the same knobs. The control
//                       functions steer unit 1
//   second=BASE         the second unit's base (normal, update, old), when not the first's
//
// Transcript: one line per event, "<ms> <event>\n", where <ms> is milliseconds since the DLL
// was first used, printed with three decimals ("12.345"). Hex bytes are upper case, two
// digits, single spaces. Events:
// The second unit's own events (plug, unplug, rx, tx) begin "unit2 ": "unit2 rx F0 ...".
//   begin <pid>                         first line written by a process
//   configure <scenario text>           a scenario took effect (environment or SimConfigure)
//   configure-error <message>           a scenario was refused; the old one stays
//   plug                                the unit was plugged in (fresh unit model)
//   unplug                              the unit vanished (scenario or SimUnplug)
//   open out <index>  /  open in <index>     a port was opened (index at open time)
//   close out  /  close in              a port was closed
//   refused <function> <code>           e.g. "refused midiInClose 65", "refused midiOutOpen 4",
//                                       "refused midiOutUnprepareHeader 65" (scripted refusals,
//                                       pending buffers, busy ports, calls after an unplug)
//   start in  /  stop in  /  reset in  /  reset out   ("start in" only when a stopped input
//                                       starts: the liveness probe repeats midiInStart)
//   rx <hex>                            the unit received a message from the host (long or
//                                       short; midiOutReset's 32 channel messages included)
//   tx <hex>                            the unit sent a message at its due time (SimInject's
//                                       bytes too)
//   other <hex>                         the host sent to a port that is not the unit's
//   dropped <n> no-input                a unit message found no started input to go to
//   dropped <n> no-buffer               n bytes of SysEx found no queued buffer
//   dropped <n> stray                   n bytes outside any SysEx (no F0 before them)
//   done out                            an asynchronous long message completed
//   late <function>                     callbacks for that call were still undelivered after
//                                       2 s (the client's callback is blocked)
//
// How the simulated driver behaves, where WinMM leaves it open:
//   - MIM_OPEN/MIM_CLOSE/MOM_OPEN/MOM_CLOSE, and MOM_DONE of a synchronous send, come on the
//     caller's thread inside the call; everything else from the stand-in's own driver thread.
//   - The driver thread takes one due output at a time and runs its notifications before it
//     takes the next, as a cable gives each message its own time on the wire. One output that
//     holds two messages (SimInject with both) fills both buffers before the first
//     notification runs, as with a driver that fills in the kernel and notifies later.
//   - midiInStop, midiInReset and midiOutReset return once the driver thread has delivered the
//     buffers they handed back (at most 2 s, see "late"); called from inside a notification
//     they deliver in place.
//   - Notifications still queued for a handle that has been closed are dropped.
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// What a test may want to check on the unit after a run.
typedef struct SimUnitView {
    int present;              // 1 while plugged in
    int updateMode;           // 1 while the boot loader runs
    unsigned char version[2]; // what the running firmware reports
    int erased;
    unsigned recordsAccepted;
    unsigned flashBytes;       // bytes written by records
    unsigned char settings[6]; // options[4], mmcId, brightness
    unsigned messagesReceived; // complete messages the unit took in since plug-in
} SimUnitView;

// 0, or -1 when the text is not understood (the reason goes to the transcript and to
// SimConfigureError). On success the new ports and a freshly plugged unit take effect at once;
// handles opened before stay open but the unit behind them is gone.
typedef int (*SimConfigureFn)(const char* scenarioText);
// The text of the last refusal of SimConfigure, copied into buffer (always NUL-terminated).
typedef void (*SimConfigureErrorFn)(char* buffer, int size);
// Unplugs the unit now: pending replies are lost, data calls on its handles answer
// unplug_code, its ports vanish from the lists (unless keep_ports=1).
typedef void (*SimUnplugFn)(void);
// Plugs a fresh unit in with the current scenario; handles opened before stay dead.
typedef void (*SimPlugInFn)(void);
// Unplug, then SimConfigure(scenarioText). 0 or -1 as SimConfigure (then still unplugged).
typedef int (*SimReplugWithScenarioFn)(const char* scenarioText);
// Where the transcript goes from now on (NULL or "": nowhere). 0, or -1 if it cannot be opened.
typedef int (*SimSetTranscriptPathFn)(const char* path);
// The current transcript path, "" when none.
typedef const char* (*SimTranscriptPathFn)(void);
// The transcript kept in memory since the last clear: copies up to size-1 bytes and a NUL,
// returns the full length (call with size 0 to measure).
typedef int (*SimReadTranscriptFn)(char* buffer, int size);
typedef void (*SimClearTranscriptFn)(void);
// Fills view; 0.
typedef int (*SimUnitSnapshotFn)(SimUnitView* view);
// The unit sends these bytes now, as if its firmware had: a long message (isShort 0, any
// bytes, even malformed or split ones) or a short message (isShort 1, 1..3 bytes). 0, or -1
// when the unit is unplugged or the arguments are bad. For receive-path tests.
typedef int (*SimInjectFn)(const unsigned char* bytes, int length, int isShort);

#ifdef __cplusplus
}
#endif

#ifdef _WIN32
#include <windows.h>

typedef struct SimApi {
    SimConfigureFn configure;
    SimConfigureErrorFn configureError;
    SimUnplugFn unplug;
    SimPlugInFn plugIn;
    SimReplugWithScenarioFn replugWithScenario;
    SimSetTranscriptPathFn setTranscriptPath;
    SimTranscriptPathFn transcriptPath;
    SimReadTranscriptFn readTranscript;
    SimClearTranscriptFn clearTranscript;
    SimUnitSnapshotFn unitSnapshot;
    SimInjectFn inject;
} SimApi;

// Finds the control functions in the winmm.dll this process has loaded. 0, or -1 when the
// loaded winmm is not the stand-in (a test then knows it runs against the system's WinMM).
static inline int SimLoadApi(SimApi* api) {
    HMODULE module = GetModuleHandleA("winmm.dll");
    if (!module)
        module = LoadLibraryA("winmm.dll");
    if (!module)
        return -1;
#define SIM_LOOKUP(field, name, type)                                                              \
    api->field = (type)(void (*)(void))GetProcAddress(module, name)
    SIM_LOOKUP(configure, "SimConfigure", SimConfigureFn);
    SIM_LOOKUP(configureError, "SimConfigureError", SimConfigureErrorFn);
    SIM_LOOKUP(unplug, "SimUnplug", SimUnplugFn);
    SIM_LOOKUP(plugIn, "SimPlugIn", SimPlugInFn);
    SIM_LOOKUP(replugWithScenario, "SimReplugWithScenario", SimReplugWithScenarioFn);
    SIM_LOOKUP(setTranscriptPath, "SimSetTranscriptPath", SimSetTranscriptPathFn);
    SIM_LOOKUP(transcriptPath, "SimTranscriptPath", SimTranscriptPathFn);
    SIM_LOOKUP(readTranscript, "SimReadTranscript", SimReadTranscriptFn);
    SIM_LOOKUP(clearTranscript, "SimClearTranscript", SimClearTranscriptFn);
    SIM_LOOKUP(unitSnapshot, "SimUnitSnapshot", SimUnitSnapshotFn);
    SIM_LOOKUP(inject, "SimInject", SimInjectFn);
#undef SIM_LOOKUP
    if (!api->configure || !api->configureError || !api->unplug || !api->plugIn ||
        !api->replugWithScenario || !api->setTranscriptPath || !api->transcriptPath ||
        !api->readTranscript || !api->clearTranscript || !api->unitSnapshot || !api->inject)
        return -1;
    return 0;
}
#endif
