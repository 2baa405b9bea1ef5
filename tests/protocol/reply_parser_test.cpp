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
struct RecordingSink {
    SettingsSink sink{this, OnOption, OnMmcId, OnBrightness};
    Calls calls;

    static void OnOption(void* context, Option option, bool on) {
        static const char* const kNames[OPTION_COUNT] = {"blank zero", "blank frames",
                                                         "no stationary LTC", "flywheel"};
        Record(context, std::string(kNames[option]) + (on ? " on" : " off"));
    }
    static void OnMmcId(void* context, int id) {
        Record(context, id == MMC_ID_NONE ? "MMC ID none" : "MMC ID " + std::to_string(id));
    }
    static void OnBrightness(void* context, uint8_t level) {
        Record(context, "brightness " + std::to_string(level));
    }
    static void Record(void* context, std::string call) {
        static_cast<RecordingSink*>(context)->calls.push_back(std::move(call));
    }
};

// A state that differs from every value a reply could store, so that any change shows.
constexpr uint8_t kNoCode = 0;
constexpr uint8_t kOldMajor = '1';
constexpr uint8_t kOldMinor = '9';

void Prime(DeviceState& state) {
    state.ReplyCode = kNoCode;
    state.DeviceMode = Absent;
    state.FirmwareVersion[0] = kOldMajor;
    state.FirmwareVersion[1] = kOldMinor;
}

struct Expected {
    uint8_t code;
    uint8_t mode;
    uint8_t major;
    uint8_t minor;
};
constexpr Expected kUnchanged{kNoCode, Absent, kOldMajor, kOldMinor};

struct Case {
    const char* name;
    Bytes reply; // parsed with exactly its own length, so any read past it is caught by ASan
    Expected state;
    Calls calls;
};

std::string Hex(const Bytes& bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        static const char kDigits[] = "0123456789ABCDEF";
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
        text += ' ';
    }
    return text;
}

void Check(const Case& c, bool withSink) {
    DeviceState state;
    Prime(state);
    RecordingSink recorder;
    if (withSink) {
        InstallSettingsSink(state, &recorder.sink);
    }
    const int result = ReplyParser(state, c.reply.data(), c.reply.size());
    const std::string where = std::string(c.name) + ": " + Hex(c.reply);
    EXPECT_EQ(result, c.state.code == kNoCode ? 0 : 1) << where;
    EXPECT_EQ(state.ReplyCode, c.state.code) << where;
    EXPECT_EQ(state.DeviceMode, c.state.mode) << where;
    EXPECT_EQ(state.FirmwareVersion[0], c.state.major) << where;
    EXPECT_EQ(state.FirmwareVersion[1], c.state.minor) << where;
    EXPECT_EQ(recorder.calls, withSink ? c.calls : Calls{}) << where;
}

// Replies the unit sends: each stores its code last, after its own data.
const Case kReplies[] = {
    {"running 2.1", {0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31, 0xF7}, {0x21, Normal, '2', '1'}, {}},
    {"update mode, invalid firmware",
     {0xF0, 0x2C, 0x4D, 0x20, 0x7F, 0x7F, 0xF7},
     {0x20, Update, 0x7F, 0x7F},
     {}},
    {"update mode 2.0", {0xF0, 0x2C, 0x4D, 0x20, 0x32, 0x30, 0xF7}, {0x20, Update, '2', '0'}, {}},
    {"erased", {0xF0, 0x2C, 0x4D, 0x22, 0xF7}, {0x22, Absent, kOldMajor, kOldMinor}, {}},
    {"record accepted", {0xF0, 0x2C, 0x4D, 0x40, 0xF7}, {0x40, Absent, kOldMajor, kOldMinor}, {}},
    {"record rejected", {0xF0, 0x2C, 0x4D, 0x4E, 0xF7}, {0x4E, Absent, kOldMajor, kOldMinor}, {}},
    {"finished", {0xF0, 0x2C, 0x4D, 0x60, 0xF7}, {0x60, Absent, kOldMajor, kOldMinor}, {}},
    {"code outside the table",
     {0xF0, 0x2C, 0x4D, 0x70, 0x01, 0xF7},
     {0x70, Absent, kOldMajor, kOldMinor},
     {}},
    {"blank zero on",
     {0xF0, 0x2C, 0x4D, 0x62, 0x01, 0xF7},
     {0x62, Absent, kOldMajor, kOldMinor},
     {"blank zero on"}},
    {"blank zero 00",
     {0xF0, 0x2C, 0x4D, 0x62, 0x00, 0xF7},
     {0x62, Absent, kOldMajor, kOldMinor},
     {"blank zero off"}},
    {"blank zero 02 is off, only 01 is on",
     {0xF0, 0x2C, 0x4D, 0x62, 0x02, 0xF7},
     {0x62, Absent, kOldMajor, kOldMinor},
     {"blank zero off"}},
    {"blank frames on",
     {0xF0, 0x2C, 0x4D, 0x65, 0x01, 0xF7},
     {0x65, Absent, kOldMajor, kOldMinor},
     {"blank frames on"}},
    {"stationary LTC disabled",
     {0xF0, 0x2C, 0x4D, 0x68, 0x01, 0xF7},
     {0x68, Absent, kOldMajor, kOldMinor},
     {"no stationary LTC on"}},
    {"flywheel on",
     {0xF0, 0x2C, 0x4D, 0x69, 0x01, 0xF7},
     {0x69, Absent, kOldMajor, kOldMinor},
     {"flywheel on"}},
    {"flywheel 7F is off",
     {0xF0, 0x2C, 0x4D, 0x69, 0x7F, 0xF7},
     {0x69, Absent, kOldMajor, kOldMinor},
     {"flywheel off"}},
    {"MMC ID 0",
     {0xF0, 0x2C, 0x4D, 0x63, 0x00, 0xF7},
     {0x63, Absent, kOldMajor, kOldMinor},
     {"MMC ID 0"}},
    {"MMC ID 126",
     {0xF0, 0x2C, 0x4D, 0x63, 0x7E, 0xF7},
     {0x63, Absent, kOldMajor, kOldMinor},
     {"MMC ID 126"}},
    {"MMC ID 7F means no ID",
     {0xF0, 0x2C, 0x4D, 0x63, 0x7F, 0xF7},
     {0x63, Absent, kOldMajor, kOldMinor},
     {"MMC ID none"}},
    {"brightness 15",
     {0xF0, 0x2C, 0x4D, 0x66, 0x0F, 0xF7},
     {0x66, Absent, kOldMajor, kOldMinor},
     {"brightness 15"}},
    {"brightness out of range is passed on as it came",
     {0xF0, 0x2C, 0x4D, 0x66, 0x7F, 0xF7},
     {0x66, Absent, kOldMajor, kOldMinor},
     {"brightness 127"}},
};

// Buffers that are not replies of this unit, or too short to hold what their code carries:
// nothing changes, not even the reply code a waiting update would take for an answer.
const Case kIgnored[] = {
    {"another maker's head", {0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7}, kUnchanged, {}},
    {"another device byte", {0xF0, 0x2C, 0x4E, 0x21, 0x32, 0x31, 0xF7}, kUnchanged, {}},
    {"no SysEx start", {0xF1, 0x2C, 0x4D, 0x40, 0xF7}, kUnchanged, {}},
    {"empty", {}, kUnchanged, {}},
    {"head only", {0xF0, 0x2C, 0x4D}, kUnchanged, {}},
    {"four bytes", {0xF0, 0x2C, 0x4D, 0xF7}, kUnchanged, {}},
    {"running without version", {0xF0, 0x2C, 0x4D, 0x21, 0xF7}, kUnchanged, {}},
    {"update mode with one version byte", {0xF0, 0x2C, 0x4D, 0x20, 0x32, 0xF7}, kUnchanged, {}},
    {"option without value", {0xF0, 0x2C, 0x4D, 0x62, 0xF7}, kUnchanged, {}},
    {"MMC ID without value", {0xF0, 0x2C, 0x4D, 0x63, 0xF7}, kUnchanged, {}},
    {"brightness without value", {0xF0, 0x2C, 0x4D, 0x66, 0xF7}, kUnchanged, {}},
};

TEST(ReplyParser, AppliesEachReplyToStateAndSink) {
    for (const Case& c : kReplies) {
        Check(c, true);
    }
}

TEST(ReplyParser, IgnoresForeignAndShortBuffers) {
    for (const Case& c : kIgnored) {
        Check(c, true);
    }
    DeviceState state;
    Prime(state);
    EXPECT_EQ(ReplyParser(state, nullptr, 7), 0);
    EXPECT_EQ(state.ReplyCode, kNoCode);
}

// Until the window installs its sink, setting replies only answer a waiting request.
TEST(ReplyParser, SettingRepliesBeforeASinkOnlyStoreTheCode) {
    for (const Case& c : kReplies) {
        Check(c, false);
    }
    // A sink with some operations missing takes what it has.
    DeviceState state;
    RecordingSink recorder;
    SettingsSink partial{&recorder, nullptr, RecordingSink::OnMmcId, nullptr};
    InstallSettingsSink(state, &partial);
    const Bytes replies[] = {{0xF0, 0x2C, 0x4D, 0x62, 0x01, 0xF7},
                             {0xF0, 0x2C, 0x4D, 0x66, 0x0F, 0xF7},
                             {0xF0, 0x2C, 0x4D, 0x63, 0x05, 0xF7}};
    for (const Bytes& reply : replies) {
        EXPECT_EQ(ReplyParser(state, reply.data(), reply.size()), 1);
    }
    EXPECT_EQ(recorder.calls, Calls{"MMC ID 5"});
    EXPECT_EQ(state.ReplyCode, 0x63);
}

// The count decides, not what lies in the receive buffer after it: a 5-byte reply in a buffer
// that still holds an older, longer reply must not pick up that reply's version.
TEST(ReplyParser, ReadsNothingBeyondTheCount) {
    const uint8_t buffer[] = {0xF0, 0x2C, 0x4D, 0x21, 0xF7, 0x32, 0x31, 0xF7};
    DeviceState state;
    Prime(state);
    EXPECT_EQ(ReplyParser(state, buffer, 5), 0);
    EXPECT_EQ(state.ReplyCode, kNoCode);
    EXPECT_EQ(state.FirmwareVersion[0], kOldMajor);
    // Extra bytes after the data are no reason to refuse a reply.
    const uint8_t longer[] = {0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31, 0x00, 0xF7};
    EXPECT_EQ(ReplyParser(state, longer, sizeof(longer)), 1);
    EXPECT_EQ(state.FirmwareVersion[0], '2');
    EXPECT_EQ(state.FirmwareVersion[1], '1');
}

// A reply that arrives later, or unasked, is applied like any other; the version stays until
// the next status reply.
TEST(ReplyParser, LaterRepliesOverwriteAndKeepWhatTheyDoNotCarry) {
    DeviceState state;
    Prime(state);
    const Bytes sequence[] = {{0xF0, 0x2C, 0x4D, 0x20, 0x32, 0x30, 0xF7},
                              {0xF0, 0x2C, 0x4D, 0x40, 0xF7},
                              {0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31, 0xF7},
                              {0xF0, 0x2C, 0x4D, 0x60, 0xF7}};
    for (const Bytes& reply : sequence) {
        ReplyParser(state, reply.data(), reply.size());
    }
    EXPECT_EQ(state.ReplyCode, 0x60);
    EXPECT_EQ(state.DeviceMode, Normal);
    EXPECT_EQ(state.FirmwareVersion[0], '2');
    EXPECT_EQ(state.FirmwareVersion[1], '1');
}

// The update worker clears the code, waits for it, then reads the version: it must see the
// version of the reply whose code it saw. Here a parser thread answers each clear with a new
// version while the worker side checks every one it is shown. sentRound is a plain variable
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

} // namespace
