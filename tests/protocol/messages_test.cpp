// The outgoing message bytes, written out as the unit expects them on the wire.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/messages.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const SysExMessage& m) {
    return Bytes(m.bytes, m.bytes + m.length);
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

// 0x7F in the value byte would turn a set into a query, and a wider value would wrap into a
// valid-looking byte: both are refused with the buffer left as it was.
TEST(SetMessages, CarryTheValueAndRefuseWhatTheUnitWouldMisread) {
    using Build = int (*)(unsigned, uint8_t(&)[SET_MESSAGE_LENGTH]);
    struct Case {
        Build build;
        unsigned value;
        Bytes bytes; // empty: refused
    };
    const Case cases[] = {
        {BuildMmcIdSet, 0, {0xF0, 0x2C, 0x4D, 0x53, 0x00, 0xF7}},
        {BuildMmcIdSet, 126, {0xF0, 0x2C, 0x4D, 0x53, 0x7E, 0xF7}},
        {BuildMmcIdSet, 127, {}},
        {BuildMmcIdSet, 256, {}},
        {BuildBrightnessSet, 0, {0xF0, 0x2C, 0x4D, 0x56, 0x00, 0xF7}},
        {BuildBrightnessSet, 15, {0xF0, 0x2C, 0x4D, 0x56, 0x0F, 0xF7}},
        {BuildBrightnessSet, 16, {}},
        {BuildBrightnessSet, 271, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.build == BuildMmcIdSet ? "MMC ID " : "brightness ") +
                     std::to_string(c.value));
        uint8_t out[SET_MESSAGE_LENGTH] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        EXPECT_EQ(c.build(c.value, out), c.bytes.empty() ? -1 : 0);
        EXPECT_EQ(Bytes(out, out + SET_MESSAGE_LENGTH),
                  c.bytes.empty() ? Bytes(SET_MESSAGE_LENGTH, 0xAA) : c.bytes);
    }
}

} // namespace
