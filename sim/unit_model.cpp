// What the unit answers: the running firmware (Status and the six settings) and the boot
// loader (Status, Erase, data records, Finish), with the scenario's faults on top.
#include "sim/unit_model.h"

#include <cstdint>
#include <initializer_list>
#include <utility>

#include "protocol/messages.h"

namespace {

constexpr uint64_t NEVER = UINT64_MAX;
constexpr uint8_t CMD_STATUS = 0x10;
constexpr uint8_t CMD_ERASE = 0x12;
constexpr uint8_t CMD_FINISH = 0x50;
constexpr uint8_t VALUE_QUERY = 0x7F;
constexpr uint8_t FLASH_BLANK = 0x7F; // erased flash reads as all ones, in 7 bits

// The six setting commands, where each lives in UnitSettings, and its largest value.
enum SettingSlot {
    SLOT_OPTION_0,
    SLOT_OPTION_1,
    SLOT_OPTION_2,
    SLOT_OPTION_3,
    SLOT_MMC,
    SLOT_LEVEL
};
struct SettingCommand {
    uint8_t command;
    SettingSlot slot;
    uint8_t maxValue;
};
constexpr SettingCommand SETTING_COMMANDS[] = {
    {0x52, SLOT_OPTION_0, 1}, {0x55, SLOT_OPTION_1, 1},     {0x58, SLOT_OPTION_2, 1},
    {0x59, SLOT_OPTION_3, 1}, {0x53, SLOT_MMC, MMC_ID_MAX}, {0x56, SLOT_LEVEL, BRIGHTNESS_MAX},
};

uint8_t& SettingValue(UnitSettings& settings, SettingSlot slot) {
    if (slot == SLOT_MMC)
        return settings.mmcId;
    if (slot == SLOT_LEVEL)
        return settings.brightness;
    return settings.options[slot];
}

// Drops what would be due once the unit is gone: it never gets sent.
void Emit(UnitModel& unit, std::vector<UnitOutput>& out, uint64_t dueMs, bool shortMessage,
          std::initializer_list<uint8_t> bytes) {
    if (dueMs >= unit.unplugAtMs)
        return;
    out.push_back(UnitOutput{dueMs, shortMessage, std::vector<uint8_t>(bytes)});
}

void EmitNoise(UnitModel& unit, std::vector<UnitOutput>& out, uint64_t dueMs) {
    if (!unit.updateMode && unit.answersSettings)
        Emit(unit, out, dueMs, false, {0xF0, 0x2C, 0x4D, 0x66, unit.settings.brightness, 0xF7});
    Emit(unit, out, dueMs, false, {0xF0, 0x41, 0x10, 0x62, 0x01, 0xF7});
    Emit(unit, out, dueMs, false, {0xF0, 0x2C, 0x4D, 0x21, 0xF7});
    if (dueMs < unit.unplugAtMs) {
        std::vector<uint8_t> oversized(NOISE_OVERSIZED_LENGTH, 0x01);
        oversized[0] = 0xF0;
        oversized[1] = 0x2C;
        oversized[2] = 0x4D;
        oversized[3] = 0x62;
        oversized.back() = 0xF7;
        out.push_back(UnitOutput{dueMs, false, std::move(oversized)});
    }
    Emit(unit, out, dueMs, false, {0xF0, 0x2C, 0x4D, 0x62, 0x01});
    Emit(unit, out, dueMs, false, {0x2C, 0x4D, 0x62, 0x01, 0xF7});
    Emit(unit, out, dueMs, true, {0xFE});
    Emit(unit, out, dueMs, true, {0x90, 0x3C, 0x40});
}

// One reply to the message received at nowMs (plus extraMs of work), with noise when due.
void Reply(UnitModel& unit, std::vector<UnitOutput>& out, uint64_t nowMs, uint64_t extraMs,
           std::initializer_list<uint8_t> bytes) {
    const uint64_t due = nowMs + extraMs + unit.scenario.replyDelayMs;
    ++unit.replies;
    if (unit.scenario.noiseEvery != 0 && unit.replies % unit.scenario.noiseEvery == 0)
        EmitNoise(unit, out, due);
    Emit(unit, out, due, false, bytes);
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
    unit.version[0] = FLASH_BLANK;
    unit.version[1] = FLASH_BLANK;
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

void AnswerRecord(UnitModel& unit, std::vector<UnitOutput>& out, uint64_t nowMs,
                  const uint8_t* bytes, size_t length) {
    const UnitScenario& s = unit.scenario;
    const int number = static_cast<int>(unit.recordsAccepted);
    const unsigned attempt = unit.recordAttempts++;
    if (number == s.unplugAtRecord) {
        ScheduleUnplug(unit, nowMs);
        return;
    }
    // Scripted losses come before any look at the record: they stand for a garbled or lost
    // transfer, whatever the record held.
    const unsigned rejections = number == s.rejectRecord ? s.rejectTimes : 0;
    if (attempt < rejections) {
        Reply(unit, out, nowMs, 0, {0xF0, 0x2C, 0x4D, REPLY_RECORD_REJECTED, 0xF7});
        return;
    }
    if (number == s.silentRecord && attempt < rejections + s.silentTimes)
        return;
    if (!RecordWritable(unit, bytes, length)) {
        Reply(unit, out, nowMs, 0, {0xF0, 0x2C, 0x4D, REPLY_RECORD_REJECTED, 0xF7});
        return;
    }
    const size_t n = bytes[7];
    unit.flash.insert(unit.flash.end(), bytes + 8, bytes + 8 + n);
    unit.nextAddress += static_cast<uint32_t>(n);
    ++unit.recordsAccepted;
    unit.recordAttempts = 0;
    if (s.checkReportsInvalid) {
        unit.version[0] = FLASH_BLANK;
        unit.version[1] = FLASH_BLANK;
    } else {
        unit.version[0] = unit.flash[0];
        unit.version[1] = unit.flash.size() > 1 ? unit.flash[1] : FLASH_BLANK;
    }
    Reply(unit, out, nowMs, 0, {0xF0, 0x2C, 0x4D, REPLY_RECORD_ACCEPTED, 0xF7});
}

// The boot loader starts what it holds; after an erase that is the new firmware, which knows
// the setting messages. The version stays what Status reported from the flash.
void AnswerFinish(UnitModel& unit, std::vector<UnitOutput>& out, uint64_t nowMs) {
    Reply(unit, out, nowMs, 0, {0xF0, 0x2C, 0x4D, REPLY_FINISHED, 0xF7});
    unit.updateMode = false;
    if (unit.erased)
        unit.answersSettings = true;
}

void SaveSettings(UnitModel& unit) {
    if (unit.scenario.stateFile.empty())
        return;
    ++unit.stateWrites;
    unit.stateWriteFailed = WriteUnitState(unit.scenario.stateFile, unit.settings) != 0;
}

// A set stores its value only when it is one the setting can take: 0/1 for the options,
// 0..126 for the MMC ID, 0..15 for the brightness. 0x7F asks for the value. Anything else is
// not stored, like a device that ignores a value it cannot show; every one of them is
// answered with the value now held, so the host always learns what the unit really has.
void AnswerSetting(UnitModel& unit, std::vector<UnitOutput>& out, uint64_t nowMs,
                   const SettingCommand& setting, uint8_t value) {
    uint8_t& held = SettingValue(unit.settings, setting.slot);
    if (value != VALUE_QUERY && value <= setting.maxValue && value != held) {
        held = value;
        SaveSettings(unit);
    }
    Reply(unit, out, nowMs, 0,
          {0xF0, 0x2C, 0x4D, static_cast<uint8_t>(setting.command + 0x10), held, 0xF7});
}

const SettingCommand* FindSetting(uint8_t command) {
    for (const SettingCommand& setting : SETTING_COMMANDS)
        if (setting.command == command)
            return &setting;
    return nullptr;
}

} // namespace

void UnitPlugIn(UnitModel& unit, const UnitScenario& scenario, uint64_t nowMs) {
    unit.scenario = scenario;
    unit.settings = scenario.initialSettings;
    if (!scenario.stateFile.empty())
        ReadUnitState(scenario.stateFile, unit.settings); // missing or garbled: keep defaults
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
    unit.replies = 0;
    unit.pluggedAtMs = nowMs;
    unit.unplugged = false;
    unit.unplugAtMs = NEVER;
    if (scenario.unplugAfterMs >= 0)
        unit.unplugAtMs = nowMs + static_cast<uint64_t>(scenario.unplugAfterMs);
    unit.busyUntilMs = nowMs;
    unit.shortMessages = 0;
    unit.stateWrites = 0;
    unit.stateWriteFailed = false;
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
    if (command == CMD_STATUS && length == 5) {
        AnswerStatus(unit, out, nowMs);
        return;
    }
    if (unit.updateMode) {
        if (command == CMD_ERASE && length == 5)
            AnswerErase(unit, out, nowMs);
        else if (command == CMD_DATA_RECORD)
            AnswerRecord(unit, out, nowMs, bytes, length);
        else if (command == CMD_FINISH && length == 5)
            AnswerFinish(unit, out, nowMs);
        return;
    }
    const SettingCommand* setting = FindSetting(command);
    if (setting != nullptr && unit.answersSettings && length == 6)
        AnswerSetting(unit, out, nowMs, *setting, bytes[4]);
}

void UnitReceiveShort(UnitModel& unit, uint64_t nowMs, const uint8_t* bytes, size_t length) {
    if (UnitUnplugged(unit, nowMs) || bytes == nullptr || length == 0)
        return;
    ++unit.shortMessages;
}

int MakeDataRecord(uint32_t address, const uint8_t* data, size_t n, std::vector<uint8_t>& out) {
    if (n < RECORD_DATA_MIN || n > RECORD_DATA_MAX || address >= FLASH_SIZE || data == nullptr)
        return -1;
    for (size_t i = 0; i < n; ++i)
        if (data[i] >= 0x80)
            return -1;
    out.assign({SYSEX_START, MANUFACTURER_BYTE, DEVICE_BYTE, CMD_DATA_RECORD,
                static_cast<uint8_t>((address >> 14) & 0x7F),
                static_cast<uint8_t>((address >> 7) & 0x7F), static_cast<uint8_t>(address & 0x7F),
                static_cast<uint8_t>(n)});
    out.insert(out.end(), data, data + n);
    unsigned sum = 0;
    for (size_t i = 4; i < out.size(); ++i)
        sum += out[i];
    out.push_back(static_cast<uint8_t>((128 - sum % 128) % 128));
    out.push_back(SYSEX_END);
    return 0;
}
