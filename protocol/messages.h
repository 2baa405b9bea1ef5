// The fixed SysEx messages the program sends to the unit, and builders for the two set
// messages that carry a variable value byte.
#pragma once
#include <cstddef>
#include <cstdint>

// A complete message from 0xF0 through 0xF7. The bytes are never copied: they live in the
// constant table, in a caller's small buffer, or inside the firmware image.
struct SysExMessage {
    const uint8_t* bytes;
    size_t length;
};

// Indexes into MessageTable, in the table's order.
enum MessageId : int {
    MSG_STATUS_REQUEST,
    MSG_ERASE_REQUEST,
    MSG_FINISH_REQUEST,
    MSG_BLANK_ZERO_OFF,
    MSG_BLANK_ZERO_ON,
    MSG_BLANK_ZERO_QUERY,
    MSG_BLANK_FRAMES_OFF,
    MSG_BLANK_FRAMES_ON,
    MSG_BLANK_FRAMES_QUERY,
    MSG_MMC_ID_SET, // value byte 0 here; sent only through BuildMmcIdSet
    MSG_MMC_ID_QUERY,
    MSG_BRIGHTNESS_SET, // value byte 0 here; sent only through BuildBrightnessSet
    MSG_BRIGHTNESS_QUERY,
    MSG_STATIONARY_LTC_OFF,
    MSG_STATIONARY_LTC_ON,
    MSG_STATIONARY_LTC_QUERY,
    MSG_FLYWHEEL_OFF,
    MSG_FLYWHEEL_ON,
    MSG_FLYWHEEL_QUERY,
    MSG_COUNT
};

extern const SysExMessage MessageTable[MSG_COUNT];

// The four on/off options of the unit, in the order the window lists them.
enum Option : int {
    OPTION_BLANK_ZERO,
    OPTION_BLANK_FRAMES,
    OPTION_NO_STATIONARY_LTC,
    OPTION_FLYWHEEL,
    OPTION_COUNT
};

// The on or off message of an option.
const SysExMessage& OptionMessage(Option option, bool on);

// What the window sends right after a link opens: the six setting queries, then Status.
constexpr int OPENING_QUERY_COUNT = 7;
extern const MessageId OpeningQueries[OPENING_QUERY_COUNT];

constexpr size_t SET_MESSAGE_LENGTH = 6;
constexpr uint8_t MMC_ID_MAX = 126;
constexpr uint8_t BRIGHTNESS_MAX = 15;

// Fill out[] with the set message for the value. 0x7F would ask the unit to report instead of
// set, so out-of-range values are refused: -1 and out[] untouched. 0 on success.
int BuildMmcIdSet(unsigned id, uint8_t (&out)[SET_MESSAGE_LENGTH]);
int BuildBrightnessSet(unsigned level, uint8_t (&out)[SET_MESSAGE_LENGTH]);

// Command and reply bytes (byte 3 of the frame).
constexpr uint8_t SYSEX_START = 0xF0;
constexpr uint8_t SYSEX_END = 0xF7;
constexpr uint8_t MANUFACTURER_BYTE = 0x2C;
constexpr uint8_t DEVICE_BYTE = 0x4D;
constexpr uint8_t CMD_DATA_RECORD = 0x30;

constexpr uint8_t REPLY_UPDATE_MODE = 0x20;
constexpr uint8_t REPLY_RUNNING = 0x21;
constexpr uint8_t REPLY_ERASED = 0x22;
constexpr uint8_t REPLY_RECORD_ACCEPTED = 0x40;
constexpr uint8_t REPLY_RECORD_REJECTED = 0x4E;
constexpr uint8_t REPLY_FINISHED = 0x60;
constexpr uint8_t REPLY_BLANK_ZERO = 0x62;
constexpr uint8_t REPLY_MMC_ID = 0x63;
constexpr uint8_t REPLY_BLANK_FRAMES = 0x65;
constexpr uint8_t REPLY_BRIGHTNESS = 0x66;
constexpr uint8_t REPLY_STATIONARY_LTC = 0x68;
constexpr uint8_t REPLY_FLYWHEEL = 0x69;

// A version byte of 0x7F marks firmware the unit considers invalid.
constexpr uint8_t VERSION_INVALID = 0x7F;
