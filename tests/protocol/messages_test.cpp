// The outgoing message bytes, written out as the unit expects them on the wire.
#include <gtest/gtest.h>

#include <vector>

#include "protocol/messages.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const SysExMessage& m) {
    return Bytes(m.bytes, m.bytes + m.length);
}

template <size_t N> Bytes ToBytes(const uint8_t (&m)[N]) {
    return Bytes(m, m + N);
}

TEST(MessageTable, HoldsEveryMessageWithItsExactBytesInOrder) {
    const Bytes expected[MSG_COUNT] = {
        {0xF0, 0x2C, 0x4D, 0x10, 0xF7},       // status request
        {0xF0, 0x2C, 0x4D, 0x12, 0xF7},       // erase request
        {0xF0, 0x2C, 0x4D, 0x50, 0xF7},       // finish request
        {0xF0, 0x2C, 0x4D, 0x52, 0x00, 0xF7}, // blank leading zero off
        {0xF0, 0x2C, 0x4D, 0x52, 0x01, 0xF7}, // ... on
        {0xF0, 0x2C, 0x4D, 0x52, 0x7F, 0xF7}, // ... query
        {0xF0, 0x2C, 0x4D, 0x55, 0x00, 0xF7}, // blank frames off
        {0xF0, 0x2C, 0x4D, 0x55, 0x01, 0xF7}, // ... on
        {0xF0, 0x2C, 0x4D, 0x55, 0x7F, 0xF7}, // ... query
        {0xF0, 0x2C, 0x4D, 0x53, 0x00, 0xF7}, // MMC ID set (value placed when sent)
        {0xF0, 0x2C, 0x4D, 0x53, 0x7F, 0xF7}, // MMC ID query
        {0xF0, 0x2C, 0x4D, 0x56, 0x00, 0xF7}, // brightness set (value placed when sent)
        {0xF0, 0x2C, 0x4D, 0x56, 0x7F, 0xF7}, // brightness query
        {0xF0, 0x2C, 0x4D, 0x58, 0x00, 0xF7}, // stationary LTC off
        {0xF0, 0x2C, 0x4D, 0x58, 0x01, 0xF7}, // ... on
        {0xF0, 0x2C, 0x4D, 0x58, 0x7F, 0xF7}, // ... query
        {0xF0, 0x2C, 0x4D, 0x59, 0x00, 0xF7}, // flywheel off
        {0xF0, 0x2C, 0x4D, 0x59, 0x01, 0xF7}, // ... on
        {0xF0, 0x2C, 0x4D, 0x59, 0x7F, 0xF7}, // ... query
    };
    for (int id = 0; id < MSG_COUNT; ++id) {
        EXPECT_EQ(ToBytes(MessageTable[id]), expected[id]) << "message " << id;
    }
}

TEST(MessageTable, OptionMessagesSwitchTheRightSetting) {
    struct Case {
        Option option;
        bool on;
        Bytes bytes;
    };
    const Case cases[] = {
        {OPTION_BLANK_ZERO, false, {0xF0, 0x2C, 0x4D, 0x52, 0x00, 0xF7}},
        {OPTION_BLANK_ZERO, true, {0xF0, 0x2C, 0x4D, 0x52, 0x01, 0xF7}},
        {OPTION_BLANK_FRAMES, false, {0xF0, 0x2C, 0x4D, 0x55, 0x00, 0xF7}},
        {OPTION_BLANK_FRAMES, true, {0xF0, 0x2C, 0x4D, 0x55, 0x01, 0xF7}},
        {OPTION_NO_STATIONARY_LTC, false, {0xF0, 0x2C, 0x4D, 0x58, 0x00, 0xF7}},
        {OPTION_NO_STATIONARY_LTC, true, {0xF0, 0x2C, 0x4D, 0x58, 0x01, 0xF7}},
        {OPTION_FLYWHEEL, false, {0xF0, 0x2C, 0x4D, 0x59, 0x00, 0xF7}},
        {OPTION_FLYWHEEL, true, {0xF0, 0x2C, 0x4D, 0x59, 0x01, 0xF7}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToBytes(OptionMessage(c.option, c.on)), c.bytes)
            << "option " << c.option << (c.on ? " on" : " off");
    }
}

TEST(MessageTable, OpeningQueriesAskTheSixSettingsThenTheStatus) {
    const Bytes expected[OPENING_QUERY_COUNT] = {
        {0xF0, 0x2C, 0x4D, 0x52, 0x7F, 0xF7}, {0xF0, 0x2C, 0x4D, 0x55, 0x7F, 0xF7},
        {0xF0, 0x2C, 0x4D, 0x53, 0x7F, 0xF7}, {0xF0, 0x2C, 0x4D, 0x58, 0x7F, 0xF7},
        {0xF0, 0x2C, 0x4D, 0x59, 0x7F, 0xF7}, {0xF0, 0x2C, 0x4D, 0x56, 0x7F, 0xF7},
        {0xF0, 0x2C, 0x4D, 0x10, 0xF7},
    };
    for (int i = 0; i < OPENING_QUERY_COUNT; ++i) {
        EXPECT_EQ(ToBytes(MessageTable[OpeningQueries[i]]), expected[i]) << "query " << i;
    }
}

// 0x7F in the value byte would turn a set into a query, and a wider value would wrap into a
// valid-looking byte: both are refused with the buffer left as it was.
TEST(SetMessages, CarryTheValueAndRefuseWhatTheUnitWouldMisread) {
    using Build = int (*)(unsigned, uint8_t(&)[SET_MESSAGE_LENGTH]);
    struct Case {
        const char* name;
        Build build;
        unsigned value;
        Bytes bytes; // empty: refused
    };
    const Case cases[] = {
        {"MMC ID 0", BuildMmcIdSet, 0, {0xF0, 0x2C, 0x4D, 0x53, 0x00, 0xF7}},
        {"MMC ID 5", BuildMmcIdSet, 5, {0xF0, 0x2C, 0x4D, 0x53, 0x05, 0xF7}},
        {"MMC ID 126", BuildMmcIdSet, 126, {0xF0, 0x2C, 0x4D, 0x53, 0x7E, 0xF7}},
        {"MMC ID 127", BuildMmcIdSet, 127, {}},
        {"MMC ID 256", BuildMmcIdSet, 256, {}},
        {"brightness 0", BuildBrightnessSet, 0, {0xF0, 0x2C, 0x4D, 0x56, 0x00, 0xF7}},
        {"brightness 15", BuildBrightnessSet, 15, {0xF0, 0x2C, 0x4D, 0x56, 0x0F, 0xF7}},
        {"brightness 16", BuildBrightnessSet, 16, {}},
        {"brightness 127", BuildBrightnessSet, 127, {}},
        {"brightness 271", BuildBrightnessSet, 271, {}},
    };
    for (const Case& c : cases) {
        uint8_t out[SET_MESSAGE_LENGTH] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        const int result = c.build(c.value, out);
        if (c.bytes.empty()) {
            EXPECT_EQ(result, -1) << c.name;
            EXPECT_EQ(ToBytes(out), Bytes(SET_MESSAGE_LENGTH, 0xAA)) << c.name;
        } else {
            EXPECT_EQ(result, 0) << c.name;
            EXPECT_EQ(ToBytes(out), c.bytes) << c.name;
        }
    }
}

} // namespace
