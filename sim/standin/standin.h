// Inside the stand-in winmm.dll: the one process-wide record behind every exported call, and
// the helpers the exported functions share. Everything here runs under g.lock unless a
// comment says otherwise; client callbacks are never called with the lock held.
#pragma once
#define _WINMM_ // we define the WinMM functions, so mmsystem.h must not declare them imported
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sim/unit_model.h"

// The port side of a scenario (the keys sim_control.h lists).
struct PortSetup {
    std::vector<std::string> outputs{"Other", "tavi"};
    std::vector<std::string> inputs{"Other", "tavi MIDI In"};
    int unitOut = 1, unitIn = 1; // the first ports whose names begin "tavi"
    int busyOut = -1, busyIn = -1, capsFailOut = -1, capsFailIn = -1;
    unsigned asyncDoneMs = 0;
    unsigned refuseRelease = 0;
    MMRESULT goneCode = MMSYSERR_NODRIVER; // the classic stack's answer for a gone unit
    unsigned replugAfterMs = 0;            // an unplugged unit comes back this long after
    bool wms = false;                      // the newer Windows MIDI service's compatibility layer
    bool oldBuild = false;                 // its builds before the removal fixes of April 2026
    bool newNames = false;                 // "tavi Out" / "tavi In"
    bool numbered = true;                  // a second unit's names carry its number
    bool interfaces = true;                // the unit's ports answer the device interface query
    bool restart = false;   // the unit restarts on USB once it has confirmed the finish
    int units = 1;          // a second tavi gets a pair of ports of its own
    std::string secondBase; // the second unit's model base, when not the first's
    int secondOut = -1, secondIn = -1;
};

// Splits scenario text into the port keys and the unit model's text. 0, or -1 with error set.
int ParsePortSetup(const std::string& text, PortSetup& ports, std::string& modelText,
                   std::string& error);

// Where the client wants its notifications (the callback arguments of midiIn/OutOpen).
struct ClientCallback {
    DWORD kind;
    DWORD_PTR target, instance;
};

// One simulated tavi behind a pair of ports. Unit 0 is the one the control functions steer.
struct SimUnit {
    int out = -1; // its ports' indexes in PortSetup's lists
    int in = -1;
    const char* tag = ""; // transcript prefix of its own events: "" or "unit2 "
    UnitScenario scenario;
    UnitModel model{};
    unsigned plugSerial = 0;
    bool gone = true;
    uint64_t replugAtMs = UINT64_MAX;
    MIDIHDR* refusedHeader = nullptr;
    unsigned refusalsLeft = 0;
    bool refusalsOver = false;    // the first long message since plug-in has gone
    unsigned listedAfter = 0;     // on the service, plugged in again: listed after the others
    bool leaveAfterReply = false; // restarting: it leaves once its last reply is out
};
constexpr int MAX_UNITS = 2;

struct SimHandle {
    uint32_t id; // the handle value the client holds
    bool input;
    int port;            // index in PortSetup's list
    int unit;            // the unit wired to that port, or -1
    unsigned plugSerial; // the unit instance it was opened against
    ClientCallback callback;
    // input side
    std::deque<MIDIHDR*> queue; // buffers added, in order; the front one is being filled
    bool started = false;
    uint64_t startMs = 0;
    bool inSysEx = false;
    // output side: long messages whose completion is still due (asynchronous mode)
    std::vector<MIDIHDR*> pending;
    bool timedOut = false; // the service did not take a send: later ones fail at once
};

// Due times are performance-counter ticks since the DLL was first used (NowTicks).
struct DueCompletion {
    uint32_t handle;
    MIDIHDR* header;
    int64_t dueTicks;
};

// Unit output waiting for its moment on the cable.
struct DueReply {
    int64_t dueTicks;
    UnitOutput output;
    int unit = 0;
};

struct QueuedCallback {
    uint64_t serial;
    uint32_t handle;
    UINT message;
    DWORD_PTR param1, param2;
};

struct StandIn {
    CRITICAL_SECTION lock;
    CONDITION_VARIABLE delivered; // signalled whenever a queued callback has been delivered
    HANDLE wake = nullptr;        // auto-reset: the driver thread has new work
    bool driverSleeping = false;  // only then does new work need a SetEvent
    // News for a driver thread that yields until its next due moment, watched without the lock.
    std::atomic<unsigned> news{0};
    DWORD driverThreadId = 0;
    LARGE_INTEGER frequency{};
    LARGE_INTEGER origin{};

    PortSetup ports;
    SimUnit units[MAX_UNITS];
    int unitCount = 1;
    unsigned plugIns = 0;

    std::vector<std::unique_ptr<SimHandle>> handles;
    uint32_t nextHandleId = 0x8001;
    std::vector<DueReply> replies; // unit output waiting for its due time, in due order
    std::vector<DueCompletion> completions;
    std::deque<QueuedCallback> callbacks;
    uint64_t nextCallbackSerial = 1;
    uint64_t deliveredSerial = 0;

    // The file is written in batches (a write per event would slow the record loop); fileLock
    // is taken before lock, and held across a write so that batches keep their order.
    CRITICAL_SECTION fileLock;
    HANDLE transcriptFile = INVALID_HANDLE_VALUE;
    std::string transcript;     // everything since the last clear, in memory
    std::string unwritten;      // lines not yet in the file
    int64_t unwrittenSince = 0; // when the oldest of them was logged
    bool ready = false;         // initialised: the locks exist
};

extern StandIn g;

// Makes sure the record is initialised (environment read, unit plugged). Takes no lock.
void EnsureStandIn();

struct Locked {
    Locked() { EnterCriticalSection(&g.lock); }
    ~Locked() { LeaveCriticalSection(&g.lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

uint64_t NowMs(); // whole milliseconds, the unit model's clock
int64_t NowTicks();
uint64_t TicksToMs(int64_t ticks); // rounded down, as NowMs
int64_t MsToTicks(uint64_t ms);    // rounded up: never earlier than the milliseconds say
// Under the lock: the driver thread has something new to look at.
void WakeDriver();

// Transcript: appends "<ms> <text>\n" to the memory copy and to the lines due for the file.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string HexBytes(const uint8_t* bytes, size_t length);
// Without g.lock: writes the lines not yet in the file. Takes fileLock, then g.lock.
void FlushTranscript();

// 0, or -1 (logged). Replaces the ports and plugs fresh units in.
int ApplyScenario(const std::string& text);
void PlugInUnit(SimUnit& unit);
void UnplugUnit(SimUnit& unit);

SimHandle* FindHandle(HANDLE handle, bool input);
SimHandle* FindHandleById(uint32_t id);
// Unplugs each unit whose scenario says it is gone by now, and plugs in those due back.
void NoticeTimedUnplug();
// True when the unit behind this handle is gone (unplugged, or a later unit was plugged in).
bool UnitGoneFor(const SimHandle& h);
// The unit wired to this port (index in PortSetup's list), or -1.
int UnitAtPort(bool input, int port);
// Under the lock, for a handle whose unit is gone: what a call of this kind answers (0: the
// call goes on as on a live port), per stack and build. blockMs: how long a send waits first,
// without the lock.
enum class CallKind { Send, Start, AddBuffer, Other };
MMRESULT GoneAnswer(SimHandle& h, CallKind kind, const char* function, unsigned* blockMs = nullptr);
// Logs "reused <function>" when this header sits in the queue of another open handle.
void ReusedHeader(const SimHandle& h, const MIDIHDR* header, const char* function);

// Device ids: the positions among the ports that are currently listed.
std::vector<int> ListedOutputs();
std::vector<int> ListedInputs();

// A unit takes in one message from the host: logs it, runs the model, schedules replies.
void UnitTakes(SimUnit& unit, const uint8_t* bytes, size_t length, bool shortMessage);

// Queues a notification for the driver thread; returns its serial.
uint64_t QueueCallback(const SimHandle& h, UINT message, DWORD_PTR param1, DWORD_PTR param2);
// Without the lock: waits until every callback up to serial has been delivered (at most 2 s,
// then logs "late <function>"). On the driver thread itself it delivers them in place.
void AwaitCallbacks(uint64_t serial, const char* function);
// Without the lock: calls the client's notification on this thread.
void NotifyNow(const ClientCallback& callback, uint32_t handle, UINT message, DWORD_PTR param1,
               DWORD_PTR param2);
void StartDriverThread();

void DeliverToInput(SimHandle& h, const UnitOutput& output);
void ReturnFrontBuffer(SimHandle& h, UINT message);
// Driver thread, under the lock: lets the client's notifications run and waits up to ms for
// it to queue a buffer on this input. The handle again, or null once it was closed meanwhile.
SimHandle* AwaitBuffer(uint32_t id, unsigned ms);

MMRESULT CheckHeader(const MIDIHDR* header, UINT size);
MMRESULT CheckCallback(DWORD flags, DWORD allowedExtra);

// The port a device id names (its position among the ports listed now), or an open handle of
// that direction; -1 for neither. Under the lock.
int PortOf(bool input, UINT_PTR id);
// What midiOutMessage / midiInMessage answer: the device interface queries on a device id.
MMRESULT PortMessage(bool input, UINT_PTR id, UINT message, DWORD_PTR param1, DWORD_PTR param2);

// Copies only the bytes the caller asked for, as WinMM does (0 copies nothing).
template <typename Caps>
MMRESULT FillCaps(bool input, UINT_PTR id, Caps& full, void* caps, UINT size) {
    EnsureStandIn();
    if (!caps)
        return MMSYSERR_INVALPARAM;
    {
        Locked hold;
        const int port = PortOf(input, id);
        if (port < 0)
            return MMSYSERR_BADDEVICEID;
        if (port == (input ? g.ports.capsFailIn : g.ports.capsFailOut))
            return MMSYSERR_NODRIVER;
        const std::string& name = (input ? g.ports.inputs : g.ports.outputs)[size_t(port)];
        memcpy(full.szPname, name.c_str(), name.size() + 1); // names are under 32 bytes
    }
    full.wMid = 0xFFFF; // "unmapped" manufacturer and product ids
    full.wPid = 0xFFFF;
    full.vDriverVersion = 0x0100;
    memcpy(caps, &full, size < sizeof full ? size : sizeof full);
    return MMSYSERR_NOERROR;
}

// The common half of the midiIn*/midiOut* functions of the same name.
MMRESULT OpenPort(bool input, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags,
                  HANDLE* result);
MMRESULT ClosePort(HANDLE handle, bool input);
MMRESULT PrepareHeader(HANDLE handle, LPMIDIHDR header, UINT size, bool input);
MMRESULT UnprepareHeader(HANDLE handle, LPMIDIHDR header, UINT size, bool input);
