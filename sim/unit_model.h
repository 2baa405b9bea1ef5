// The simulated unit: what a tavi answers to each message, with scripted faults. Platform
// free: the native tests drive it with a virtual clock, the stand-in winmm.dll with the real
// one. Times are milliseconds on the caller's clock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The data records the unit's boot loader takes (command 0x30). The program never looks inside
// them; the stand-in image is generated in this layout (tools/make_firmware_image.py) so that
// the model can tell a good record from a damaged or misplaced one:
//   F0 2C 4D 30  a2 a1 a0  n  d[0] .. d[n-1]  c  F7          (length n + 10, n = 2..19)
//   a2 a1 a0: flash address of d[0], 21 bits, 7 per byte, most significant first; each record
//             continues where the previous one ended (the first starts at 0)
//   c:        (128 - (a2 + a1 + a0 + n + d[0] + .. + d[n-1]) % 128) % 128
// The firmware keeps its two version characters at flash addresses 0 and 1.

// Scenario text, for ParseScenario: a base, then ";key=value" knobs.
//   bases: normal (firmware 2.1 running), update (boot loader), old (firmware 2.0: answers
//          Status, leaves setting queries unanswered)
//   delay=MS  erase=MS  reject=RECORDxTIMES  silent=RECORDxTIMES  unplug_record=N
//   unplug_erase=1  unplug_after=MS  running_from_status=N  version=HHHH (two hex bytes)
//   check_invalid=1  noise=N  state=PATH

// The knobs of a scenario. Zero-initialised means: a unit running firmware 2.1 that answers
// everything at once.
struct UnitScenario {
    bool updateMode = false;         // starts as the boot loader (both keys held at plug-in)
    uint8_t version[2] = {'2', '1'}; // what the running firmware reports
    bool answersSettings = true;     // false: older firmware that answers Status only
    unsigned replyDelayMs = 0;       // every reply is sent this long after its request
    unsigned eraseMs = 0;            // how long erasing takes
    int rejectRecord = -1;           // this record (0-based, in sending order of acceptance)...
    unsigned rejectTimes = 0;        // ...is answered 0x4E this many times first
    int silentRecord = -1;           // this record...
    unsigned silentTimes = 0;        // ...gets no answer this many times first
    int unplugAtRecord = -1;         // the unit vanishes on receiving this record
    bool unplugDuringErase = false;  // the unit vanishes while erasing
    long unplugAfterMs = -1;         // the unit vanishes this long after it was plugged in
    int runningFromStatus = -1;      // status requests from this one on (0-based) answer 0x21
    bool checkReportsInvalid = false; // after writing, Status reports version 7F 7F
    unsigned noiseEvery = 0;         // every n-th reply comes with unasked and malformed traffic
    std::string stateFile;           // settings are kept here across restarts, when given
};

// Parses "name[;knob=value]..." (see sim/unit_model.cpp for the names). 0, or -1 with
// error set to what was not understood.
int ParseScenario(const std::string& text, UnitScenario& scenario, std::string& error);

struct UnitSettings {
    uint8_t options[4];  // blank zero, blank frames, no stationary LTC, flywheel: 0 or 1
    uint8_t mmcId;       // 0..126
    uint8_t brightness;  // 0..15
};

// One thing the unit sends back: a SysEx message, or a short message (shortMessage true, the
// packed bytes in bytes[0..2]).
struct UnitOutput {
    uint64_t dueMs;
    bool shortMessage;
    std::vector<uint8_t> bytes;
};

struct UnitModel {
    UnitScenario scenario;
    UnitSettings settings;
    bool updateMode;
    uint8_t version[2];
    bool erased;
    uint32_t nextAddress;   // address the next data record must carry
    unsigned recordsAccepted;
    unsigned recordAttempts; // answers withheld or rejected for the current record so far
    std::vector<uint8_t> flash; // data written by the records
    unsigned statusRequests;
    unsigned replies;
    uint64_t pluggedAtMs;
    bool unplugged;
    uint64_t busyUntilMs;   // erasing: no answer before this
};

// Plugs the unit in at nowMs; reads the state file when the scenario names one.
void UnitPlugIn(UnitModel& unit, const UnitScenario& scenario, uint64_t nowMs);

// The host sent one complete message at nowMs. Appends what the unit answers, with due times.
void UnitReceive(UnitModel& unit, uint64_t nowMs, const uint8_t* bytes, size_t length,
                 std::vector<UnitOutput>& out);

// True once the unit has been unplugged by its scenario (at or before nowMs).
bool UnitUnplugged(UnitModel& unit, uint64_t nowMs);
