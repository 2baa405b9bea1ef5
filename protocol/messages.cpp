#include "protocol/messages.h"

namespace {

#define HEAD SYSEX_START, MANUFACTURER_BYTE, DEVICE_BYTE
const uint8_t kStatus[] = {HEAD, 0x10, SYSEX_END};
const uint8_t kErase[] = {HEAD, 0x12, SYSEX_END};
const uint8_t kFinish[] = {HEAD, 0x50, SYSEX_END};
const uint8_t kBlankZeroOff[] = {HEAD, 0x52, 0x00, SYSEX_END};
const uint8_t kBlankZeroOn[] = {HEAD, 0x52, 0x01, SYSEX_END};
const uint8_t kBlankZeroQuery[] = {HEAD, 0x52, 0x7F, SYSEX_END};
const uint8_t kBlankFramesOff[] = {HEAD, 0x55, 0x00, SYSEX_END};
const uint8_t kBlankFramesOn[] = {HEAD, 0x55, 0x01, SYSEX_END};
const uint8_t kBlankFramesQuery[] = {HEAD, 0x55, 0x7F, SYSEX_END};
const uint8_t kMmcIdSet[] = {HEAD, 0x53, 0x00, SYSEX_END};
const uint8_t kMmcIdQuery[] = {HEAD, 0x53, 0x7F, SYSEX_END};
const uint8_t kBrightnessSet[] = {HEAD, 0x56, 0x00, SYSEX_END};
const uint8_t kBrightnessQuery[] = {HEAD, 0x56, 0x7F, SYSEX_END};
const uint8_t kStationaryOff[] = {HEAD, 0x58, 0x00, SYSEX_END};
const uint8_t kStationaryOn[] = {HEAD, 0x58, 0x01, SYSEX_END};
const uint8_t kStationaryQuery[] = {HEAD, 0x58, 0x7F, SYSEX_END};
const uint8_t kFlywheelOff[] = {HEAD, 0x59, 0x00, SYSEX_END};
const uint8_t kFlywheelOn[] = {HEAD, 0x59, 0x01, SYSEX_END};
const uint8_t kFlywheelQuery[] = {HEAD, 0x59, 0x7F, SYSEX_END};
#undef HEAD

#define ENTRY(a)                                                                                   \
    { a, sizeof(a) }

// Offset of the value byte in a 6-byte setting message.
constexpr size_t kValueOffset = 4;

int BuildSet(MessageId id, unsigned value, unsigned max, uint8_t (&out)[SET_MESSAGE_LENGTH]) {
    if (value > max) {
        return -1;
    }
    const SysExMessage& m = MessageTable[id];
    for (size_t i = 0; i < SET_MESSAGE_LENGTH; ++i) {
        out[i] = m.bytes[i];
    }
    out[kValueOffset] = static_cast<uint8_t>(value);
    return 0;
}

} // namespace

const SysExMessage MessageTable[MSG_COUNT] = {
    ENTRY(kStatus),          ENTRY(kErase),         ENTRY(kFinish),
    ENTRY(kBlankZeroOff),    ENTRY(kBlankZeroOn),   ENTRY(kBlankZeroQuery),
    ENTRY(kBlankFramesOff),  ENTRY(kBlankFramesOn), ENTRY(kBlankFramesQuery),
    ENTRY(kMmcIdSet),        ENTRY(kMmcIdQuery),    ENTRY(kBrightnessSet),
    ENTRY(kBrightnessQuery), ENTRY(kStationaryOff), ENTRY(kStationaryOn),
    ENTRY(kStationaryQuery), ENTRY(kFlywheelOff),   ENTRY(kFlywheelOn),
    ENTRY(kFlywheelQuery),
};
#undef ENTRY

const MessageId OpeningQueries[OPENING_QUERY_COUNT] = {
    MSG_BLANK_ZERO_QUERY, MSG_BLANK_FRAMES_QUERY, MSG_MMC_ID_QUERY,   MSG_STATIONARY_LTC_QUERY,
    MSG_FLYWHEEL_QUERY,   MSG_BRIGHTNESS_QUERY,   MSG_STATUS_REQUEST,
};

const SysExMessage& OptionMessage(Option option, bool on) {
    static const MessageId kOff[OPTION_COUNT] = {MSG_BLANK_ZERO_OFF, MSG_BLANK_FRAMES_OFF,
                                                 MSG_STATIONARY_LTC_OFF, MSG_FLYWHEEL_OFF};
    static const MessageId kOn[OPTION_COUNT] = {MSG_BLANK_ZERO_ON, MSG_BLANK_FRAMES_ON,
                                                MSG_STATIONARY_LTC_ON, MSG_FLYWHEEL_ON};
    return MessageTable[on ? kOn[option] : kOff[option]];
}

int BuildMmcIdSet(unsigned id, uint8_t (&out)[SET_MESSAGE_LENGTH]) {
    return BuildSet(MSG_MMC_ID_SET, id, MMC_ID_MAX, out);
}

int BuildBrightnessSet(unsigned level, uint8_t (&out)[SET_MESSAGE_LENGTH]) {
    return BuildSet(MSG_BRIGHTNESS_SET, level, BRIGHTNESS_MAX, out);
}
