#include "protocol/reply_parser.h"

DeviceState TheDevice;

namespace {

constexpr size_t kCodeOffset = 3;
constexpr size_t kMinimumReply = 5; // F0 2C 4D code F7

// Bytes a reply must hold, its closing F7 included, for the data its code carries.
size_t NeededLength(uint8_t code) {
    switch (code) {
    case REPLY_UPDATE_MODE:
    case REPLY_RUNNING:
        return 7; // major, minor
    case REPLY_BLANK_ZERO:
    case REPLY_MMC_ID:
    case REPLY_BLANK_FRAMES:
    case REPLY_BRIGHTNESS:
    case REPLY_STATIONARY_LTC:
    case REPLY_FLYWHEEL:
        return 6; // one value
    default:
        return kMinimumReply;
    }
}

void ReportOption(const SettingsSink* sink, Option option, uint8_t value) {
    if (sink && sink->OptionReported) {
        sink->OptionReported(sink->context, option, value == 0x01);
    }
}

} // namespace

int ReplyParser(DeviceState& state, const uint8_t* bytes, size_t count) {
    if (!bytes || count < kMinimumReply || bytes[0] != SYSEX_START ||
        bytes[1] != MANUFACTURER_BYTE || bytes[2] != DEVICE_BYTE) {
        return 0;
    }
    const uint8_t code = bytes[kCodeOffset];
    if (count < NeededLength(code)) {
        // A truncated reply would hand on whatever follows it in the buffer as data.
        return 0;
    }
    const SettingsSink* sink = state.sink.load(std::memory_order_acquire);
    switch (code) {
    case REPLY_UPDATE_MODE:
    case REPLY_RUNNING:
        state.FirmwareVersion[0].store(bytes[4], std::memory_order_relaxed);
        state.FirmwareVersion[1].store(bytes[5], std::memory_order_relaxed);
        // Release: the window reads the version once it sees the mode.
        state.DeviceMode.store(code == REPLY_UPDATE_MODE ? Update : Normal,
                               std::memory_order_release);
        break;
    case REPLY_BLANK_ZERO:
        ReportOption(sink, OPTION_BLANK_ZERO, bytes[4]);
        break;
    case REPLY_BLANK_FRAMES:
        ReportOption(sink, OPTION_BLANK_FRAMES, bytes[4]);
        break;
    case REPLY_STATIONARY_LTC:
        ReportOption(sink, OPTION_NO_STATIONARY_LTC, bytes[4]);
        break;
    case REPLY_FLYWHEEL:
        ReportOption(sink, OPTION_FLYWHEEL, bytes[4]);
        break;
    case REPLY_MMC_ID:
        if (sink && sink->MmcIdReported) {
            sink->MmcIdReported(sink->context, bytes[4] <= MMC_ID_MAX ? bytes[4] : MMC_ID_NONE);
        }
        break;
    case REPLY_BRIGHTNESS:
        if (sink && sink->BrightnessReported) {
            sink->BrightnessReported(sink->context, bytes[4]);
        }
        break;
    default:
        break;
    }
    // Last, and with release order: whoever sees the code also sees the data stored above.
    state.ReplyCode.store(code, std::memory_order_release);
    return 1;
}
