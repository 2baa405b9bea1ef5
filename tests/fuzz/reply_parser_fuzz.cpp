// Any buffer the MIDI input could deliver: the parser must stay inside it, and what it stores
// must follow from the bytes it was given.
#include <cstdlib>

#include "protocol/reply_parser.h"

namespace {

struct Calls {
    int count;
    bool bad;
};

void OnOption(void* context, Option option, bool) {
    auto* calls = static_cast<Calls*>(context);
    ++calls->count;
    calls->bad |= option < 0 || option >= OPTION_COUNT;
}
void OnMmcId(void* context, int id) {
    auto* calls = static_cast<Calls*>(context);
    ++calls->count;
    calls->bad |= id != MMC_ID_NONE && (id < 0 || id > MMC_ID_MAX);
}
void OnBrightness(void* context, uint8_t) {
    ++static_cast<Calls*>(context)->count;
}

bool IsSettingReply(uint8_t code) {
    return code == 0x62 || code == 0x63 || code == 0x65 || code == 0x66 || code == 0x68 ||
           code == 0x69;
}

void Require(bool condition) {
    if (!condition) {
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DeviceState state;
    Calls calls{0, false};
    const SettingsSink sink{&calls, OnOption, OnMmcId, OnBrightness};
    InstallSettingsSink(state, &sink);

    const int stored = ReplyParser(state, data, size);

    const uint8_t code = state.ReplyCode;
    if (stored == 0) {
        Require(code == 0 && state.DeviceMode == Absent && state.FirmwareVersion[0] == 0 &&
                calls.count == 0);
        return 0;
    }
    Require(stored == 1 && size >= 5 && data[0] == 0xF0 && data[1] == 0x2C && data[2] == 0x4D &&
            code == data[3]);
    if (code == 0x20 || code == 0x21) {
        Require(size >= 7 && state.DeviceMode == (code == 0x20 ? Update : Normal) &&
                state.FirmwareVersion[0] == data[4] && state.FirmwareVersion[1] == data[5]);
    } else {
        Require(state.DeviceMode == Absent && state.FirmwareVersion[0] == 0);
    }
    Require(!calls.bad && calls.count == (IsSettingReply(code) ? 1 : 0));
    return 0;
}
