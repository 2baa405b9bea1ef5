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
//   reject=RECORDxTIMES     data record RECORD (0-based) is answered 0x4E its first TIMES times
//   silent=RECORDxTIMES     data record RECORD gets no answer for TIMES sendings (after any
//                           rejections of the same record)
//   unplug_record=N         the unit vanishes when data record N arrives (it is not answered)
//   unplug_erase=1          the unit vanishes halfway through erasing (before 0x22)
//   unplug_after=MS         the unit vanishes MS after it was plugged in
//   running_from_status=N   Status requests from the N-th on (0-based, counted from plug-in)
//                           are answered 0x21, even by the boot loader
//   version=HHHH            the two version bytes, in hex (3231 = '2','1'; 327F; 7F7F): what
//                           the running firmware reports, or the boot loader before erasing
//   check_invalid=1         once a record has been written, Status reports version 7F 7F
//   noise=N                 every N-th reply (1-based count: N, 2N, ...) is preceded by unasked
//                           and malformed traffic (see UnitNoise below)
//   state=PATH              settings are kept in this text file across plug-ins
//   settings=B,F,L,W,ID,LV  settings at plug-in when no state file supplies them: blank zero,
//                           blank frames, no stationary LTC, flywheel (0/1), MMC ID (0..126),
//                           brightness (0..15). Default 0,0,0,0,0,8.
// A record's number is its position in the image: the count of records accepted since the
// last erase when it arrives. A resend of a record keeps its number.

struct UnitSettings {
    uint8_t options[4]; // blank zero, blank frames, no stationary LTC, flywheel: 0 or 1
    uint8_t mmcId;      // 0..126
    uint8_t brightness; // 0..15
};

// The knobs of a scenario. Default-initialised means: a unit running firmware 2.1 that answers
// everything at once.
struct UnitScenario {
    bool updateMode = false;          // starts as the boot loader (both keys held at plug-in)
    uint8_t version[2] = {'2', '1'};  // what the running firmware reports
    bool answersSettings = true;      // false: older firmware that answers Status only
    unsigned replyDelayMs = 0;        // every reply is sent this long after its request
    unsigned eraseMs = 0;             // how long erasing takes
    int rejectRecord = -1;            // this record (0-based position in the image)...
    unsigned rejectTimes = 0;         // ...is answered 0x4E this many times first
    int silentRecord = -1;            // this record...
    unsigned silentTimes = 0;         // ...gets no answer this many times first
    int unplugAtRecord = -1;          // the unit vanishes on receiving this record
    bool unplugDuringErase = false;   // the unit vanishes while erasing
    long unplugAfterMs = -1;          // the unit vanishes this long after it was plugged in
    int runningFromStatus = -1;       // status requests from this one on (0-based) answer 0x21
    bool checkReportsInvalid = false; // after writing, Status reports version 7F 7F
    unsigned noiseEvery = 0;          // every n-th reply comes with unasked and malformed traffic
    std::string stateFile;            // settings are kept here across restarts, when given
    UnitSettings initialSettings = {{0, 0, 0, 0}, 0, 8}; // when no state file supplies them
};

// Parses the scenario text above into scenario (which starts from the defaults). 0, or -1 with
// error set to what was not understood (scenario is then left at the defaults).
int ParseScenario(const std::string& text, UnitScenario& scenario, std::string& error);

// One thing the unit sends back: a SysEx message (or a malformed long message, for noise),
// or a short message (shortMessage true, its 1..3 bytes in bytes, status byte first).
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
    unsigned replies;
    uint64_t pluggedAtMs;
    bool unplugged;
    uint64_t unplugAtMs;    // the unit vanishes at this time (UINT64_MAX: not scheduled)
    uint64_t busyUntilMs;   // erasing: no answer before this
    unsigned shortMessages; // short messages received (and ignored)
    unsigned stateWrites;   // times the state file was written
    bool stateWriteFailed;  // the last write of the state file failed
};

// Plugs the unit in at nowMs; reads the state file when the scenario names one. Call it
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

// What a noisy reply is preceded by, in this order, all due with the reply itself:
//   F0 2C 4D 66 lv F7     unasked brightness report with the current level (running firmware
//                         only: the boot loader sends no setting reports)
//   F0 41 10 62 01 F7     another maker's head, with a command byte that means something here
//   F0 2C 4D 21 F7        a status reply too short for its version bytes
//   F0 2C 4D 62 01 .. F7  600 bytes: longer than any receive buffer
//   F0 2C 4D 62 01        cut off before its F7
//   2C 4D 62 01 F7        its F0 lost
//   FE                    short: active sensing
//   90 3C 40              short: a note on
// Each reaches a careful host without effect (the unasked report repeats what it knows).
constexpr size_t NOISE_OVERSIZED_LENGTH = 600;

// Builds a data record in the layout above: 0 and out filled, or -1 when n is outside 2..19,
// the address does not fit 21 bits or a data byte is not below 0x80.
int MakeDataRecord(uint32_t address, const uint8_t* data, size_t n, std::vector<uint8_t>& out);

// The state file: six "key=value" lines (blank_zero, blank_frames, no_stationary_ltc,
// flywheel, mmc_id, brightness). Read: 0, or -1 (settings untouched) when the file is missing,
// unreadable, or not exactly those six keys with values in range. Write: 0 or -1.
int ReadUnitState(const std::string& path, UnitSettings& settings);
int WriteUnitState(const std::string& path, const UnitSettings& settings);
