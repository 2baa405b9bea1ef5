// The message bytes on the wire; what each reply does to the device state and the settings sink.
#include <gtest/gtest.h>
#include <chrono>
#include <string>
#include <thread>
#include <vector>
#include "protocol/reply_parser.h"

using Bytes = std::vector<uint8_t>;

std::string Hex(const uint8_t* bytes, size_t length) {
    std::string hex;
    for (size_t i = 0; i < length; ++i) {
        char byte[4];
        snprintf(byte, sizeof byte, " %02X", bytes[i]);
        hex += byte;
    }
    return hex.erase(0, 1);
}
// What each message holds between F0 2C 4D and F7, in the table's order.
TEST(MessageTable, HoldsEveryMessageWithItsExactBytesInOrder) {
    const char* const expected[MSG_COUNT] = {
        "10",    "12",    "50",    "52 00", "52 01", "52 7F", "55 00", "55 01", "55 7F", "53 00",
        "53 7F", "56 00", "56 7F", "58 00", "58 01", "58 7F", "59 00", "59 01", "59 7F"};
    for (int id = 0; id < MSG_COUNT; ++id) {
        EXPECT_EQ(Hex(MessageTable[id].bytes, MessageTable[id].length),
                  "F0 2C 4D " + std::string(expected[id]) + " F7");
    }
}

// 0x7F in the value byte would turn a set into a query, and a wider value would wrap into a
// valid-looking byte: both are refused with the buffer left as it was.
TEST(SetMessages, CarryTheValueAndRefuseWhatTheUnitWouldMisread) {
    const char* const refused = "AA AA AA AA AA AA";
    const unsigned values[] = {0, 126, 127, 256, 0, 15, 16, 271}; // MMC ID, then brightness
    const char* const expected[] = {"F0 2C 4D 53 00 F7", "F0 2C 4D 53 7E F7", refused, refused,
                                    "F0 2C 4D 56 00 F7", "F0 2C 4D 56 0F F7", refused, refused};
    for (int i = 0; i < 8; ++i) {
        uint8_t out[SET_MESSAGE_LENGTH] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        EXPECT_EQ((i < 4 ? BuildMmcIdSet : BuildBrightnessSet)(values[i], out),
                  expected[i] == refused ? -1 : 0);
        EXPECT_EQ(Hex(out, SET_MESSAGE_LENGTH), expected[i]);
    }
}

void Heard(void* heard, const std::string& call) {
    *static_cast<std::string*>(heard) += ", " + call;
}
// Parses an exactly sized reply (ASan sees a read past it) into a state unlike any a reply could
// store; gives code, mode, major and minor in hex, then what the sink heard.
std::string Effect(const Bytes& reply, bool withSink) {
    DeviceState state;
    state.FirmwareVersion[0] = '1', state.FirmwareVersion[1] = '9';
    std::string heard;
    const SettingsSink sink = {
        &heard,
        [](void* h, Option o, bool on) {
            const char* names[] = {"blank zero", "blank frames", "no stationary LTC", "flywheel"};
            Heard(h, names[o] + std::string(on ? " on" : " off"));
        },
        [](void* h, int id) { Heard(h, "MMC ID " + (id < 0 ? "none" : std::to_string(id))); },
        [](void* h, uint8_t level) { Heard(h, "brightness " + std::to_string(level)); }};
    if (withSink) {
        InstallSettingsSink(state, &sink);
    }
    const int stored = ReplyParser(state, reply.data(), reply.size());
    const uint8_t seen[] = {state.ReplyCode, state.DeviceMode, state.FirmwareVersion[0],
                            state.FirmwareVersion[1]};
    return Hex(seen, 4) + (stored == (seen[0] != 0) ? "" : " stored?") + heard;
}

// Until the window installs its sink, setting replies only answer a waiting request. A reply not
// this unit's, or too short for its data, is ignored: a waiting update would take a code for one.
TEST(ReplyParser, AppliesEachReplyToStateAndSinkAndIgnoresTheRest) {
    const std::string ignored = "00 00 31 39";
    const std::pair<Bytes, std::string> cases[] = {
        {{0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31, 0xF7}, "21 01 32 31"},
        {{0xF0, 0x2C, 0x4D, 0x20, 0x7F, 0x7F, 0xF7}, "20 02 7F 7F"},
        {{0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31, 0x00, 0xF7}, "21 01 32 31"}, // more is no reason
        {{0xF0, 0x2C, 0x4D, 0x40, 0xF7}, "40 00 31 39"},
        {{0xF0, 0x2C, 0x4D, 0x62, 0x01, 0xF7}, "62 00 31 39, blank zero on"},
        {{0xF0, 0x2C, 0x4D, 0x62, 0x02, 0xF7}, "62 00 31 39, blank zero off"},
        {{0xF0, 0x2C, 0x4D, 0x65, 0x01, 0xF7}, "65 00 31 39, blank frames on"},
        {{0xF0, 0x2C, 0x4D, 0x68, 0x01, 0xF7}, "68 00 31 39, no stationary LTC on"},
        {{0xF0, 0x2C, 0x4D, 0x69, 0x01, 0xF7}, "69 00 31 39, flywheel on"},
        {{0xF0, 0x2C, 0x4D, 0x63, 0x7E, 0xF7}, "63 00 31 39, MMC ID 126"},
        {{0xF0, 0x2C, 0x4D, 0x63, 0x7F, 0xF7}, "63 00 31 39, MMC ID none"},
        {{0xF0, 0x2C, 0x4D, 0x66, 0x0F, 0xF7}, "66 00 31 39, brightness 15"},
        {{0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7}, ignored},
        {{0xF0, 0x2C, 0x4E, 0x21, 0x32, 0x31, 0xF7}, ignored},
        {{0xF1, 0x2C, 0x4D, 0x40, 0xF7}, ignored},
        {{0xF0, 0x2C, 0x4D, 0x20, 0x32, 0xF7}, ignored},
        {{0xF0, 0x2C, 0x4D, 0x62, 0xF7}, ignored},
        {{0xF0, 0x2C, 0x4D, 0xF7}, ignored},
        {{}, ignored},
    };
    for (const auto& [reply, effect] : cases) {
        EXPECT_EQ(Effect(reply, true), effect) << testing::PrintToString(reply);
        EXPECT_EQ(Effect(reply, false), effect.substr(0, 11)) << testing::PrintToString(reply);
    }
}

// The worker reads the version once it sees the code, the window once it sees the mode: under
// ThreadSanitizer a plain variable written before the parse shows a missing release as a race.
TEST(ReplyParser, VersionIsVisibleToWhoeverSeesTheCodeOrTheMode) {
    for (auto load : {LoadReplyCode, LoadDeviceMode}) {
        DeviceState state;
        int writtenBeforeReply = 0;
        std::thread parser([&] {
            writtenBeforeReply = 1;
            const uint8_t reply[] = {0xF0, 0x2C, 0x4D, 0x21, '2', '1', 0xF7};
            ReplyParser(state, reply, sizeof(reply));
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (load(state) == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        EXPECT_NE(load(state), 0);
        EXPECT_EQ(writtenBeforeReply, 1);
        parser.join();
    }
}
