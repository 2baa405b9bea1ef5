// Any buffer the MIDI input could deliver: the parser stays inside it (ASan), stores a code only
// from this unit's reply holding its data (a code of 0 stores nothing), and hands the sink valid
// values.
#include <cstdlib>
#include <cstring>
#include "protocol/reply_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool valid;
    valid = true;
    const SettingsSink sink{nullptr,
                            [](void*, Option o, bool) { valid &= o >= 0 && o < OPTION_COUNT; },
                            [](void*, int id) { valid &= id >= MMC_ID_NONE && id <= MMC_ID_MAX; },
                            [](void*, uint8_t) {}};
    DeviceState state;
    InstallSettingsSink(state, &sink);
    const int stored = ReplyParser(state, data, size);
    const uint8_t code = state.ReplyCode;
    const bool version = code == 0x20 || code == 0x21;
    if (!valid || (!stored && code != 0) || (stored && memcmp(data, "\xF0\x2C\x4D", 3) != 0) ||
        (stored && code != data[3]) ||
        (version && (size < 7 || state.FirmwareVersion[1] != data[5]))) {
        abort();
    }
    return 0;
}
