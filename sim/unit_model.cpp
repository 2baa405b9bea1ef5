// What the unit answers: the running firmware (Status and the six settings) and the boot
// loader (Status, Erase, data records, Finish), with the scenario's faults on top.
#include "sim/unit_model.h"

#include <cstdint>
#include <initializer_list>

#include "protocol/messages.h"

namespace {

constexpr uint64_t kNever = UINT64_MAX;
constexpr uint8_t kStatus = 0x10;
constexpr uint8_t kErase = 0x12;
constexpr uint8_t kFinish = 0x50;
constexpr uint8_t kQuery = 0x7F;
constexpr uint8_t kBlank = 0x7F; // erased flash reads as all ones, in 7 bits

// The six setting commands, in the order of UnitSettings' bytes, and each one's largest value.
struct SettingCommand {
    uint8_t command;
    uint8_t maxValue;
};
constexpr SettingCommand kSettings[] = {{0x52, 1}, {0x55, 1},          {0x58, 1},
                                        {0x59, 1}, {0x53, MMC_ID_MAX}, {0x56, BRIGHTNESS_MAX}};

uint8_t& SettingValue(UnitSettings& settings, size_t slot) {
    return slot < 4 ? settings.options[slot] : slot == 4 ? settings.mmcId : settings.brightness;
}

// One reply to the message received at nowMs (plus extraMs of work). What would be due once
// the unit is gone is dropped: it never gets sent.
void Reply(UnitModel& unit, std::vector<UnitOutput>& out, uint64_t nowMs, uint64_t extraMs,
           std::initializer_list<uint8_t> bytes) {
    const uint64_t due = nowMs + extraMs + unit.scenario.replyDelayMs;
    if (due < unit.unplugAtMs)
        out.push_back(UnitOutput{due, false, std::vector<uint8_t>(bytes)});
}

void ScheduleUnplug(UnitModel& unit, uint64_t atMs) {
    if (atMs < unit.unplugAtMs)
        unit.unplugAtMs = atMs;
}

void AnswerStatus(UnitModel& unit, std::vector<UnitOutput>& out, uint64_t nowMs) {
    const int index = static_cast<int>(unit.statusRequests++);
    const bool running = !unit.updateMode || (unit.scenario.runningFromStatus >= 0 &&
                                              index >= unit.scenario.runningFromStatus);
    Reply(unit, out, nowMs, 0,
          {0xF0, 0x2C, 0x4D, running ? REPLY_RUNNING : REPLY_UPDATE_MODE, unit.version[0],
           unit.version[1], 0xF7});
}

void AnswerErase(UnitModel& unit, std::vector<UnitOutput>& out, uint64_t nowMs) {
    unit.erased = true;
    unit.flash.clear();
    unit.nextAddress = 0;
    unit.recordsAccepted = 0;
    unit.recordAttempts = 0;
    unit.version[0] = kBlank;
    unit.version[1] = kBlank;
    unit.busyUntilMs = nowMs + unit.scenario.eraseMs;
    if (unit.scenario.unplugDuringErase)
        ScheduleUnplug(unit, nowMs + unit.scenario.eraseMs / 2);
    Reply(unit, out, nowMs, unit.scenario.eraseMs, {0xF0, 0x2C, 0x4D, REPLY_ERASED, 0xF7});
}

// Whether a record is one the boot loader can write: the layout, the checksum, and the
// address it expects next (records must come in order, after an erase).
bool RecordWritable(const UnitModel& unit, const uint8_t* bytes, size_t length) {
    if (!unit.erased || length < RECORD_DATA_MIN + RECORD_OVERHEAD)
        return false;
    const size_t n = bytes[7];
    if (n < RECORD_DATA_MIN || n > RECORD_DATA_MAX || length != n + RECORD_OVERHEAD)
        return false;
    unsigned sum = 0;
    for (size_t i = 4; i < length - 1; ++i) {
        if (bytes[i] >= 0x80)
            return false;
        sum += bytes[i];
    }
    if (sum % 128 != 0 || bytes[length - 1] != SYSEX_END)
        return false;
    const uint32_t address = (uint32_t{bytes[4]} << 14) | (uint32_t{bytes[5]} << 7) | bytes[6];
    return address == unit.nextAddress && address + n <= FLASH_SIZE;
}

// The sendings of each record from the first one named meet its faults in turn: odd answers,
// rejections, silences, then a late acceptance. They stand for a garbled or lost transfer, so they
// come before any look at the record.
void AnswerRecord(UnitModel& unit, std::vector<UnitOutput>& out, uint64_t nowMs,
                  const uint8_t* bytes, size_t length) {
    const UnitScenario& s = unit.scenario;
    const int number = static_cast<int>(unit.recordsAccepted);
    unsigned attempt = unit.recordAttempts++;
    auto from = [number](int first, unsigned times) {
        return first >= 0 && number >= first ? times : 0;
    };
    const unsigned odd = from(s.oddRecord, s.oddTimes);
    const unsigned rejections = from(s.rejectRecord, s.rejectTimes);
    const unsigned silences = from(s.silentRecord, s.silentTimes);
    if (attempt < odd) {
        Reply(unit, out, nowMs, 0,
              {0xF0, 0x2C, 0x4D, REPLY_UPDATE_MODE, unit.version[0], unit.version[1], 0xF7});
        return;
    }
    attempt -= odd;
    if (attempt >= rejections && attempt < rejections + silences)
        return;
    if (attempt < rejections || !RecordWritable(unit, bytes, length)) {
        Reply(unit, out, nowMs, 0, {0xF0, 0x2C, 0x4D, REPLY_RECORD_REJECTED, 0xF7});
        return;
    }
    const size_t n = bytes[7];
    unit.flash.insert(unit.flash.end(), bytes + 8, bytes + 8 + n);
    unit.nextAddress += static_cast<uint32_t>(n);
    ++unit.recordsAccepted;
    unit.recordAttempts = 0;
    unit.version[0] = unit.flash[0];
    unit.version[1] = unit.flash.size() > 1 ? unit.flash[1] : kBlank;
    Reply(unit, out, nowMs, from(s.lateRecord, s.lateMs),
          {0xF0, 0x2C, 0x4D, REPLY_RECORD_ACCEPTED, 0xF7});
}

// The boot loader starts what it holds. The version stays what Status reported from the flash.
void AnswerFinish(UnitModel& unit, std::vector<UnitOutput>& out, uint64_t nowMs) {
    Reply(unit, out, nowMs, unit.scenario.finishMs, {0xF0, 0x2C, 0x4D, REPLY_FINISHED, 0xF7});
    unit.updateMode = false;
}

// A set stores its value only when it is one the setting can take: 0/1 for the options,
// 0..126 for the MMC ID, 0..15 for the brightness. 0x7F asks for the value. Anything else is
// not stored, like a device that ignores a value it cannot show; every one of them is
// answered with the value now held, so the host always learns what the unit really has.
void AnswerSetting(UnitModel& unit, std::vector<UnitOutput>& out, uint64_t nowMs, size_t slot,
                   uint8_t value) {
    uint8_t& held = SettingValue(unit.settings, slot);
    if (value != kQuery && value <= kSettings[slot].maxValue)
        held = value;
    Reply(unit, out, nowMs, 0,
          {0xF0, 0x2C, 0x4D, static_cast<uint8_t>(kSettings[slot].command + 0x10), held, 0xF7});
}

} // namespace

void UnitPlugIn(UnitModel& unit, const UnitScenario& scenario, uint64_t nowMs) {
    unit.scenario = scenario;
    unit.settings = scenario.initialSettings;
    unit.updateMode = scenario.updateMode;
    unit.version[0] = scenario.version[0];
    unit.version[1] = scenario.version[1];
    unit.answersSettings = scenario.answersSettings;
    unit.erased = false;
    unit.nextAddress = 0;
    unit.recordsAccepted = 0;
    unit.recordAttempts = 0;
    unit.flash.clear();
    unit.statusRequests = 0;
    unit.unplugged = false;
    unit.unplugAtMs = kNever;
    if (scenario.unplugAfterMs >= 0)
        unit.unplugAtMs = nowMs + static_cast<uint64_t>(scenario.unplugAfterMs);
    unit.busyUntilMs = nowMs;
    unit.shortMessages = 0;
}

bool UnitUnplugged(UnitModel& unit, uint64_t nowMs) {
    if (!unit.unplugged && nowMs >= unit.unplugAtMs)
        unit.unplugged = true;
    return unit.unplugged;
}

// Only whole messages with the unit's head reach the dispatch below; anything else is not
// addressed to this unit and goes unanswered, as does anything heard while erasing.
void UnitReceive(UnitModel& unit, uint64_t nowMs, const uint8_t* bytes, size_t length,
                 std::vector<UnitOutput>& out) {
    if (UnitUnplugged(unit, nowMs) || nowMs < unit.busyUntilMs)
        return;
    if (bytes == nullptr || length < 5 || bytes[0] != SYSEX_START ||
        bytes[1] != MANUFACTURER_BYTE || bytes[2] != DEVICE_BYTE || bytes[length - 1] != SYSEX_END)
        return;
    const uint8_t command = bytes[3];
    if (command == kStatus && length == 5) {
        AnswerStatus(unit, out, nowMs);
        return;
    }
    if (unit.updateMode) {
        if (command == kErase && length == 5)
            AnswerErase(unit, out, nowMs);
        else if (command == CMD_DATA_RECORD)
            AnswerRecord(unit, out, nowMs, bytes, length);
        else if (command == kFinish && length == 5)
            AnswerFinish(unit, out, nowMs);
        return;
    }
    for (size_t slot = 0; slot < 6; ++slot)
        if (kSettings[slot].command == command && unit.answersSettings && length == 6)
            AnswerSetting(unit, out, nowMs, slot, bytes[4]);
}

void UnitReceiveShort(UnitModel& unit, uint64_t nowMs, const uint8_t* bytes, size_t length) {
    if (UnitUnplugged(unit, nowMs) || bytes == nullptr || length == 0)
        return;
    ++unit.shortMessages;
}
