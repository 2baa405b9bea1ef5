// What each reply of the unit does to the device state and to the settings sink.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "protocol/reply_parser.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Calls = std::vector<std::string>;

// A sink that writes down every call, the way the window would receive them.
void Note(void* calls, const std::string& call) {
    static_cast<Calls*>(calls)->push_back(call);
}

SettingsSink RecordingSink(Calls& calls) {
    return {&calls,
            [](void* c, Option option, bool on) {
                static const char* const kNames[OPTION_COUNT] = {"blank zero", "blank frames",
                                                                 "no stationary LTC", "flywheel"};
                Note(c, std::string(kNames[option]) + (on ? " on" : " off"));
            },
            [](void* c, int id) {
                Note(c, id == MMC_ID_NONE ? "MMC ID none" : "MMC ID " + std::to_string(id));
            },
            [](void* c, uint8_t level) { Note(c, "brightness " + std::to_string(level)); }};
}

// A state that differs from every value a reply could store, so that any change shows.
void Prime(DeviceState& state) {
    state.ReplyCode = 0;
    state.DeviceMode = Absent;
    state.FirmwareVersion[0] = '1';
    state.FirmwareVersion[1] = '9';
}

std::string Version(const DeviceState& state) {
    return {static_cast<char>(state.FirmwareVersion[0]),
            static_cast<char>(state.FirmwareVersion[1])};
}

struct Case {
    Bytes reply;  // parsed with exactly its own length, so a read past it shows under ASan
    uint8_t code; // 0: ignored, and nothing may change
    uint8_t mode;
    const char* version;
    const char* call; // what the sink hears, "" for nothing
};

const Case kCases[] = {
    // Replies the unit sends: each stores its code, after its own data.
    {{0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31, 0xF7}, 0x21, Normal, "21", ""},
    {{0xF0, 0x2C, 0x4D, 0x20, 0x7F, 0x7F, 0xF7}, 0x20, Update, "\x7F\x7F", ""},
    {{0xF0, 0x2C, 0x4D, 0x40, 0xF7}, 0x40, Absent, "19", ""},
    {{0xF0, 0x2C, 0x4D, 0x70, 0x01, 0xF7}, 0x70, Absent, "19", ""},
    {{0xF0, 0x2C, 0x4D, 0x62, 0x01, 0xF7}, 0x62, Absent, "19", "blank zero on"},
    {{0xF0, 0x2C, 0x4D, 0x62, 0x02, 0xF7}, 0x62, Absent, "19", "blank zero off"},
    {{0xF0, 0x2C, 0x4D, 0x65, 0x01, 0xF7}, 0x65, Absent, "19", "blank frames on"},
    {{0xF0, 0x2C, 0x4D, 0x68, 0x01, 0xF7}, 0x68, Absent, "19", "no stationary LTC on"},
    {{0xF0, 0x2C, 0x4D, 0x69, 0x7F, 0xF7}, 0x69, Absent, "19", "flywheel off"},
    {{0xF0, 0x2C, 0x4D, 0x69, 0x01, 0xF7}, 0x69, Absent, "19", "flywheel on"},
    {{0xF0, 0x2C, 0x4D, 0x63, 0x00, 0xF7}, 0x63, Absent, "19", "MMC ID 0"},
    {{0xF0, 0x2C, 0x4D, 0x63, 0x7E, 0xF7}, 0x63, Absent, "19", "MMC ID 126"},
    {{0xF0, 0x2C, 0x4D, 0x63, 0x7F, 0xF7}, 0x63, Absent, "19", "MMC ID none"},
    {{0xF0, 0x2C, 0x4D, 0x66, 0x0F, 0xF7}, 0x66, Absent, "19", "brightness 15"},
    {{0xF0, 0x2C, 0x4D, 0x66, 0x7F, 0xF7}, 0x66, Absent, "19", "brightness 127"},
    // Not this unit's, or too short for what its code carries: not even the code is stored,
    // which a waiting update would take for an answer.
    {{0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7}, 0, Absent, "19", ""},
    {{0xF0, 0x2C, 0x4E, 0x21, 0x32, 0x31, 0xF7}, 0, Absent, "19", ""},
    {{0xF1, 0x2C, 0x4D, 0x40, 0xF7}, 0, Absent, "19", ""},
    {{}, 0, Absent, "19", ""},
    {{0xF0, 0x2C, 0x4D, 0xF7}, 0, Absent, "19", ""},
    {{0xF0, 0x2C, 0x4D, 0x21, 0xF7}, 0, Absent, "19", ""},
    {{0xF0, 0x2C, 0x4D, 0x20, 0x32, 0xF7}, 0, Absent, "19", ""},
    {{0xF0, 0x2C, 0x4D, 0x62, 0xF7}, 0, Absent, "19", ""},
    {{0xF0, 0x2C, 0x4D, 0x63, 0xF7}, 0, Absent, "19", ""},
    {{0xF0, 0x2C, 0x4D, 0x66, 0xF7}, 0, Absent, "19", ""},
};

// Until the window installs its sink, setting replies only answer a waiting request.
TEST(ReplyParser, AppliesEachReplyToStateAndSinkAndIgnoresTheRest) {
    for (bool withSink : {true, false}) {
        for (const Case& c : kCases) {
            SCOPED_TRACE(testing::PrintToString(c.reply) + (withSink ? " with a sink" : ""));
            DeviceState state;
            Prime(state);
            Calls calls;
            const SettingsSink sink = RecordingSink(calls);
            if (withSink) {
                InstallSettingsSink(state, &sink);
            }
            EXPECT_EQ(ReplyParser(state, c.reply.data(), c.reply.size()), c.code ? 1 : 0);
            EXPECT_EQ(state.ReplyCode, c.code);
            EXPECT_EQ(state.DeviceMode, c.mode);
            EXPECT_EQ(Version(state), c.version);
            EXPECT_EQ(calls, withSink && *c.call ? Calls{c.call} : Calls{});
        }
    }
}

TEST(ReplyParser, ReadsOnlyWhatItIsGiven) {
    DeviceState state;
    Prime(state);
    EXPECT_EQ(ReplyParser(state, nullptr, 7), 0);
    // A 5-byte reply in a buffer that still holds an older, longer reply must not pick up that
    // reply's version.
    const uint8_t stale[] = {0xF0, 0x2C, 0x4D, 0x21, 0xF7, 0x32, 0x31, 0xF7};
    EXPECT_EQ(ReplyParser(state, stale, 5), 0);
    EXPECT_EQ(state.ReplyCode, 0);
    EXPECT_EQ(Version(state), "19");
    // Extra bytes after the data are no reason to refuse a reply.
    const uint8_t longer[] = {0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31, 0x00, 0xF7};
    EXPECT_EQ(ReplyParser(state, longer, sizeof(longer)), 1);
    EXPECT_EQ(Version(state), "21");
    // A sink with some operations missing takes what it has.
    Calls calls;
    SettingsSink partial = RecordingSink(calls);
    partial.OptionReported = nullptr;
    partial.BrightnessReported = nullptr;
    InstallSettingsSink(state, &partial);
    const Bytes replies[] = {{0xF0, 0x2C, 0x4D, 0x62, 0x01, 0xF7},
                             {0xF0, 0x2C, 0x4D, 0x66, 0x0F, 0xF7},
                             {0xF0, 0x2C, 0x4D, 0x63, 0x05, 0xF7}};
    for (const Bytes& reply : replies) {
        EXPECT_EQ(ReplyParser(state, reply.data(), reply.size()), 1);
    }
    EXPECT_EQ(calls, Calls{"MMC ID 5"});
}

// The update worker clears the code, waits for it, then reads the version: it must see the
// version of the reply whose code it saw. A parser thread answers each clear with a new
// version while this thread checks every one it is shown. sentRound is a plain variable
// written before each parse: under ThreadSanitizer, a code store without release (or a read
// without acquire) shows as a race on it even where the hardware keeps stores in order.
TEST(ReplyParser, VersionIsVisibleToWhoeverSeesTheCode) {
    constexpr int kRounds = 20000;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    auto inTime = [&] { return std::chrono::steady_clock::now() < deadline; };
    DeviceState state;
    std::atomic<bool> stop{false};
    int sentRound = -1;

    std::thread parser([&] {
        for (int round = 0; round < kRounds && !stop; ++round) {
            while (LoadReplyCode(state) != 0 && !stop) {
                std::this_thread::yield();
            }
            const uint8_t major = static_cast<uint8_t>(0x30 + round % 64);
            const uint8_t minor = static_cast<uint8_t>(0x30 + round / 64 % 64);
            const uint8_t code = round % 2 ? 0x21 : 0x20;
            const uint8_t reply[] = {0xF0, 0x2C, 0x4D, code, major, minor, 0xF7};
            sentRound = round;
            ReplyParser(state, reply, sizeof(reply));
        }
    });

    int mismatches = 0;
    int round = 0;
    for (; round < kRounds && inTime(); ++round) {
        uint8_t code = 0;
        while ((code = LoadReplyCode(state)) == 0 && inTime()) {
            std::this_thread::yield();
        }
        if (code == 0) {
            break;
        }
        const uint8_t major = state.FirmwareVersion[0].load(std::memory_order_relaxed);
        const uint8_t minor = state.FirmwareVersion[1].load(std::memory_order_relaxed);
        if (sentRound != round || code != (round % 2 ? 0x21 : 0x20) || major != 0x30 + round % 64 ||
            minor != 0x30 + round / 64 % 64) {
            ++mismatches;
        }
        ClearReplyCode(state);
    }
    stop = true;
    parser.join();
    EXPECT_EQ(round, kRounds) << "the parser thread stopped answering within 30 s";
    EXPECT_EQ(mismatches, 0);
}

// The window looks at the mode alone before it reads the version: ThreadSanitizer reports the
// plain write below as a race unless the mode is published with release order.
TEST(ReplyParser, VersionIsVisibleToWhoeverSeesTheMode) {
    DeviceState state;
    int writtenBeforeReply = 0;
    std::thread parser([&] {
        writtenBeforeReply = 1;
        const uint8_t reply[] = {0xF0, 0x2C, 0x4D, 0x21, '2', '1', 0xF7};
        ReplyParser(state, reply, sizeof(reply));
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (LoadDeviceMode(state) == Absent && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    ASSERT_EQ(LoadDeviceMode(state), Normal);
    EXPECT_EQ(writtenBeforeReply, 1);
    parser.join();
}

} // namespace
