// The simulated unit: what a tavi answers to each message, with scripted faults. Platform
// free: the native tests drive it with a virtual clock, the stand-in winmm.dll with the real
// one. Times are milliseconds on the caller's clock (any origin; only differences matter).
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
constexpr size_t RECORD_DATA_MIN = 2;
constexpr size_t RECORD_DATA_MAX = 19;
constexpr size_t RECORD_OVERHEAD = 10; // head, command, address, count, checksum, end
constexpr uint32_t FLASH_SIZE = 1u << 21;

// Scenario text, for ParseScenario: an optional base, then ";key=value" knobs, e.g.
// "update;erase=2000;reject=5x2". Spaces around tokens are ignored; an empty text is "normal".
//   bases: normal (firmware 2.1 running), update (boot loader), old (firmware 2.0: answers
//          Status, leaves setting messages unanswered)
//   delay=MS                every reply is due MS after the message that asked for it
//   erase=MS                erasing takes MS; nothing is answered meanwhile
//   finish=MS               the boot loader answers Finish MS late (it starts the firmware)
//   odd=RECORDxTIMES        data records from RECORD on (0-based) are each first answered
//                           TIMES times with a status reply, neither acceptance nor rejection
//   reject=RECORDxTIMES     then answered 0x4E TIMES times
//   silent=RECORDxTIMES     then get no answer for TIMES sendings
//   late=RECORDxMS          then their acceptance comes MS late
//   unplug_erase=1          the unit vanishes halfway through erasing (before 0x22)
//   unplug_after=MS         the unit vanishes MS after it was plugged in
//   running_from_status=N   Status requests from the N-th on (0-based, counted from plug-in)
//                           are answered 0x21, even by the boot loader
//   version=HHHH            the two version bytes, in hex (3231 = '2','1'; 327F; 7F7F): what
//                           the running firmware reports, or the boot loader before erasing
//   settings=B,F,L,W,ID,LV  settings at plug-in: blank zero, blank frames, no stationary LTC,
//                           flywheel (0/1), MMC ID (0..126), brightness (0..15). Default
//                           0,0,0,0,0,8.
// A record's number is its position in the image: the count of records accepted since the
// last erase when it arrives. A resend of a record keeps its number. After an erase, Status
// reports the first two bytes written (7F 7F while none are).

struct UnitSettings {
    uint8_t options[4]; // blank zero, blank frames, no stationary LTC, flywheel: 0 or 1
    uint8_t mmcId;      // 0..126
    uint8_t brightness; // 0..15
};

// The knobs of a scenario. Default-initialised means: a unit running firmware 2.1 that answers
// everything at once.
struct UnitScenario {
    bool updateMode = false;         // starts as the boot loader (both keys held at plug-in)
    uint8_t version[2] = {'2', '1'}; // what the running firmware reports
    bool answersSettings = true;     // false: older firmware that answers Status only
    unsigned replyDelayMs = 0;       // every reply is sent this long after its request
    unsigned eraseMs = 0;            // how long erasing takes
    unsigned finishMs = 0;           // how long the boot loader takes to answer Finish
    // Faults of every record from the one named on, in the order its sendings meet them.
    int oddRecord = -1, rejectRecord = -1, silentRecord = -1, lateRecord = -1;
    unsigned oddTimes = 0, rejectTimes = 0, silentTimes = 0, lateMs = 0;
    bool unplugDuringErase = false; // the unit vanishes while erasing
    long unplugAfterMs = -1;        // the unit vanishes this long after it was plugged in
    int runningFromStatus = -1;     // status requests from this one on (0-based) answer 0x21
    UnitSettings initialSettings = {{0, 0, 0, 0}, 0, 8};
};

// Parses the scenario text above into scenario (which starts from the defaults). 0, or -1 with
// error set to what was not understood (scenario is then left at the defaults).
int ParseScenario(const std::string& text, UnitScenario& scenario, std::string& error);

// One thing that reaches the host's input: the unit's SysEx replies, or what a test injects,
// which may be a short message (shortMessage true, its 1..3 bytes, status byte first).
struct UnitOutput {
    uint64_t dueMs;
    bool shortMessage;
    std::vector<uint8_t> bytes;
};
struct UnitModel {
    UnitScenario scenario;
    UnitSettings settings;
    bool updateMode;
    uint8_t version[2];   // what Status reports now
    bool answersSettings; // the running firmware knows the setting messages
    bool erased;
    uint32_t nextAddress; // address the next data record must carry
    unsigned recordsAccepted;
    unsigned recordAttempts;    // sendings of the current record so far, answered or not
    std::vector<uint8_t> flash; // data written by the records since the erase (addresses 0..)
    unsigned statusRequests;
    bool unplugged;
    uint64_t unplugAtMs;    // the unit vanishes at this time (UINT64_MAX: not scheduled)
    uint64_t busyUntilMs;   // erasing: no answer before this
    unsigned shortMessages; // short messages received (and ignored)
};

// Plugs the unit in at nowMs. Call it
// before anything else: it sets every field of the record. Everything else starts afresh: a unit
// that was updated and is plugged in again follows its scenario.
void UnitPlugIn(UnitModel& unit, const UnitScenario& scenario, uint64_t nowMs);

// The host sent one complete long message at nowMs. Appends what the unit answers, with due
// times, in the order it sends them (due times never decrease within one call).
void UnitReceive(UnitModel& unit, uint64_t nowMs, const uint8_t* bytes, size_t length,
                 std::vector<UnitOutput>& out);

// The host sent a short message (status byte first, 1..3 bytes). The unit has no use for any:
// a port reset's All Notes Off / Reset All Controllers on 16 channels, active sensing and the
// like are counted and otherwise ignored. Never answered.
void UnitReceiveShort(UnitModel& unit, uint64_t nowMs, const uint8_t* bytes, size_t length);

// True once the unit has been unplugged by its scenario (at or before nowMs).
bool UnitUnplugged(UnitModel& unit, uint64_t nowMs);
