// The unit's answers to each message, as the host sees them on the wire.
#include <gtest/gtest.h>

#include "unit_exchange.h"

namespace {

UnitModel PluggedIn(const std::string& scenario, uint64_t atMs = 0) {
    UnitModel unit;
    UnitPlugIn(unit, Scenario(scenario), atMs);
    return unit;
}

TEST(UnitRunningFirmware, AnswersStatusAndTheOpeningQueriesWithItsDefaults) {
    UnitModel unit = PluggedIn("normal");
    Play(unit, {
                   {0, "F0 2C 4D 52 7F F7", "F0 2C 4D 62 00 F7"},
                   {50, "F0 2C 4D 55 7F F7", "F0 2C 4D 65 00 F7"},
                   {100, "F0 2C 4D 53 7F F7", "F0 2C 4D 63 00 F7"},
                   {150, "F0 2C 4D 58 7F F7", "F0 2C 4D 68 00 F7"},
                   {200, "F0 2C 4D 59 7F F7", "F0 2C 4D 69 00 F7"},
                   {250, "F0 2C 4D 56 7F F7", "F0 2C 4D 66 08 F7"},
                   {300, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 31 F7"},
               });
}

TEST(UnitRunningFirmware, ConfirmsEverySetWithTheValueItNowHolds) {
    UnitModel unit = PluggedIn("normal");
    Play(unit, {
                   {0, "F0 2C 4D 52 01 F7", "F0 2C 4D 62 01 F7"},
                   {1, "F0 2C 4D 52 7F F7", "F0 2C 4D 62 01 F7"},
                   {2, "F0 2C 4D 55 01 F7", "F0 2C 4D 65 01 F7"},
                   {3, "F0 2C 4D 58 01 F7", "F0 2C 4D 68 01 F7"},
                   {4, "F0 2C 4D 59 01 F7", "F0 2C 4D 69 01 F7"},
                   {5, "F0 2C 4D 59 00 F7", "F0 2C 4D 69 00 F7"},
                   {6, "F0 2C 4D 53 00 F7", "F0 2C 4D 63 00 F7"},
                   {7, "F0 2C 4D 53 7E F7", "F0 2C 4D 63 7E F7"},
                   {8, "F0 2C 4D 53 7F F7", "F0 2C 4D 63 7E F7"},
                   {9, "F0 2C 4D 56 0F F7", "F0 2C 4D 66 0F F7"},
                   {10, "F0 2C 4D 56 00 F7", "F0 2C 4D 66 00 F7"},
                   {11, "F0 2C 4D 56 7F F7", "F0 2C 4D 66 00 F7"},
               });
    EXPECT_EQ(1, unit.settings.options[0]);
    EXPECT_EQ(1, unit.settings.options[1]);
    EXPECT_EQ(1, unit.settings.options[2]);
    EXPECT_EQ(0, unit.settings.options[3]);
    EXPECT_EQ(126, unit.settings.mmcId);
    EXPECT_EQ(0, unit.settings.brightness);
}

// A value the setting cannot take is not stored; the answer tells the host what still holds.
TEST(UnitRunningFirmware, KeepsItsValueForASetOutOfRange) {
    UnitModel unit = PluggedIn("normal;settings=1,0,0,1,9,4");
    Play(unit, {
                   {0, "F0 2C 4D 52 02 F7", "F0 2C 4D 62 01 F7"},
                   {1, "F0 2C 4D 55 7E F7", "F0 2C 4D 65 00 F7"},
                   {2, "F0 2C 4D 59 10 F7", "F0 2C 4D 69 01 F7"},
                   {3, "F0 2C 4D 56 10 F7", "F0 2C 4D 66 04 F7"},
                   {4, "F0 2C 4D 56 7E F7", "F0 2C 4D 66 04 F7"},
                   {5, "F0 2C 4D 53 7F F7", "F0 2C 4D 63 09 F7"},
               });
}

TEST(UnitRunningFirmware, LeavesBootLoaderCommandsUnanswered) {
    UnitModel unit = PluggedIn("normal");
    Play(unit, {
                   {0, "F0 2C 4D 12 F7", ""},
                   {1, "F0 2C 4D 30 00 00 00 02 32 31 1B F7", ""},
                   {2, "F0 2C 4D 50 F7", ""},
                   {3, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 31 F7"},
               });
    EXPECT_FALSE(unit.updateMode);
}

// Nothing that is not a whole, well-framed message of this unit gets an answer.
TEST(UnitRunningFirmware, IgnoresMessagesItDoesNotKnow) {
    UnitModel unit = PluggedIn("normal");
    Play(unit, {
                   {0, "F0 41 10 10 F7", ""},       // another maker
                   {1, "F0 2C 4E 10 F7", ""},       // another device
                   {2, "F0 2C 4D 10 00 F7", ""},    // Status with a stray byte
                   {3, "F0 2C 4D 10", ""},          // cut off
                   {4, "F0 2C 4D F7", ""},          // no command
                   {5, "F0 2C 4D 52 F7", ""},       // a set without its value
                   {6, "F0 2C 4D 52 01 01 F7", ""}, // a set with two values
                   {7, "F0 2C 4D 11 F7", ""},       // no such command
                   {8, "F0 2C 4D 57 01 F7", ""},    // no such setting
                   {9, "", ""},
                   {10, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 31 F7"},
               });
    EXPECT_EQ(0, unit.settings.options[0]);
}

TEST(UnitBootLoader, AnswersStatusEraseAndFinishButNoSettings) {
    UnitModel unit = PluggedIn("update");
    Play(unit, {
                   {0, "F0 2C 4D 52 7F F7", ""},
                   {50, "F0 2C 4D 53 05 F7", ""},
                   {100, "F0 2C 4D 56 7F F7", ""},
                   {150, "F0 2C 4D 10 F7", "F0 2C 4D 20 32 31 F7"},
                   {200, "F0 2C 4D 12 F7", "F0 2C 4D 22 F7"},
                   {250, "F0 2C 4D 10 F7", "F0 2C 4D 20 7F 7F F7"},
                   {300, "F0 2C 4D 30 00 00 00 02 32 31 1B F7", "F0 2C 4D 40 F7"},
                   {301, "F0 2C 4D 30 00 00 02 03 05 06 07 69 F7", "F0 2C 4D 40 F7"},
                   {350, "F0 2C 4D 10 F7", "F0 2C 4D 20 32 31 F7"},
                   {400, "F0 2C 4D 50 F7", "F0 2C 4D 60 F7"},
                   {450, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 31 F7"},
                   {500, "F0 2C 4D 53 7F F7", "F0 2C 4D 63 00 F7"},
               });
    EXPECT_EQ(0, unit.settings.mmcId);
}

TEST(UnitOldFirmware, ReportsVersionTwoZeroAndNoSettings) {
    UnitModel unit = PluggedIn("old");
    Play(unit, {
                   {0, "F0 2C 4D 52 7F F7", ""},
                   {50, "F0 2C 4D 52 01 F7", ""},
                   {100, "F0 2C 4D 56 7F F7", ""},
                   {150, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 30 F7"},
                   {200, "F0 2C 4D 12 F7", ""},
               });
    EXPECT_EQ(0, unit.settings.options[0]);
}

// After an update the unit runs what was written: its version comes from flash addresses 0
// and 1, and it answers the setting messages even where the old firmware did not.
TEST(UnitFinish, RunsTheWrittenFirmwareWithTheVersionFromFlash) {
    struct Case {
        const char* name;
        bool erase;
        size_t records;
        const char* statusBeforeFinish;
        const char* statusAfterFinish;
        const char* query;
    };
    const Case cases[] = {
        {"whole firmware 3.5", true, 40, "F0 2C 4D 20 33 35 F7", "F0 2C 4D 21 33 35 F7",
         "F0 2C 4D 62 00 F7"},
        {"erased, nothing written", true, 0, "F0 2C 4D 20 7F 7F F7", "F0 2C 4D 21 7F 7F F7",
         "F0 2C 4D 62 00 F7"},
        {"never erased: old firmware again", false, 0, "F0 2C 4D 20 32 30 F7",
         "F0 2C 4D 21 32 30 F7", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UnitScenario scenario = Scenario("update;version=3230");
        scenario.answersSettings = false; // the installed 2.0 knows no settings
        UnitModel unit;
        UnitPlugIn(unit, scenario, 0);
        if (c.erase) {
            EXPECT_EQ("F0 2C 4D 22 F7", Send(unit, 0, "F0 2C 4D 12 F7"));
        }
        for (const std::vector<uint8_t>& record : FirmwareRecords(c.records, '3', '5'))
            EXPECT_EQ("F0 2C 4D 40 F7", SendBytes(unit, 1, record));
        EXPECT_EQ(c.statusBeforeFinish, Send(unit, 2, "F0 2C 4D 10 F7"));
        EXPECT_EQ("F0 2C 4D 60 F7", Send(unit, 3, "F0 2C 4D 50 F7"));
        EXPECT_EQ(c.statusAfterFinish, Send(unit, 4, "F0 2C 4D 10 F7"));
        EXPECT_EQ(c.query, Send(unit, 5, "F0 2C 4D 52 7F F7"));
        EXPECT_EQ("", Send(unit, 6, "F0 2C 4D 50 F7")) << "the firmware knows no Finish";
    }
}

TEST(UnitShortMessages, APortResetIsTakenSilently) {
    UnitModel unit = PluggedIn("normal");
    for (uint8_t channel = 0; channel < 16; ++channel) {
        const uint8_t allNotesOff[3] = {static_cast<uint8_t>(0xB0 | channel), 0x7B, 0x00};
        const uint8_t resetControllers[3] = {static_cast<uint8_t>(0xB0 | channel), 0x79, 0x00};
        UnitReceiveShort(unit, 0, allNotesOff, 3);
        UnitReceiveShort(unit, 0, resetControllers, 3);
    }
    const uint8_t activeSensing = 0xFE;
    UnitReceiveShort(unit, 1, &activeSensing, 1);
    EXPECT_EQ(33u, unit.shortMessages);
    EXPECT_EQ(0u, unit.replies);
    Play(unit, {{2, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 31 F7"}});
}

// Whatever arrives, the unit answers at most once, and only with a whole reply of its own:
// head F0 2C 4D, a code from its table, the length that code has, and F7.
TEST(UnitAnyInput, AnswersOnlyWithWellFormedRepliesOfItsTable) {
    struct Shape {
        uint8_t code;
        size_t length;
    };
    const Shape shapes[] = {{0x20, 7}, {0x21, 7}, {0x22, 5}, {0x40, 5}, {0x4E, 5}, {0x60, 5},
                            {0x62, 6}, {0x63, 6}, {0x65, 6}, {0x66, 6}, {0x68, 6}, {0x69, 6}};
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return static_cast<uint8_t>(seed >> 16);
    };
    for (const char* scenario : {"normal", "update", "old"}) {
        UnitModel unit;
        UnitPlugIn(unit, Scenario(scenario), 0);
        std::vector<UnitOutput> out;
        for (int i = 0; i < 20000; ++i) {
            // Mostly messages with the unit's head and a plausible command, some pure noise.
            std::vector<uint8_t> bytes(4 + next() % 26);
            for (uint8_t& b : bytes)
                b = next() & 0x7F;
            if (next() % 8 != 0) {
                const uint8_t commands[] = {0x10, 0x12, 0x30, 0x50, 0x52, 0x53,
                                            0x55, 0x56, 0x58, 0x59, 0x7F};
                bytes[0] = 0xF0;
                bytes[1] = 0x2C;
                bytes[2] = 0x4D;
                bytes[3] = commands[next() % sizeof commands];
                bytes.back() = 0xF7;
            }
            out.clear();
            UnitReceive(unit, static_cast<uint64_t>(i), bytes.data(), bytes.size(), out);
            ASSERT_LE(out.size(), 1u) << HexText(bytes);
            if (out.empty())
                continue;
            const std::vector<uint8_t>& reply = out[0].bytes;
            bool known = false;
            for (const Shape& shape : shapes)
                known = known || (reply.size() == shape.length && reply[3] == shape.code);
            ASSERT_TRUE(known && reply[0] == 0xF0 && reply[1] == 0x2C && reply[2] == 0x4D &&
                        reply.back() == 0xF7)
                << HexText(bytes) << " -> " << HexText(reply);
            for (size_t k = 1; k + 1 < reply.size(); ++k)
                ASSERT_LT(reply[k], 0x80) << HexText(reply);
        }
        EXPECT_LE(unit.settings.mmcId, 126);
        EXPECT_LE(unit.settings.brightness, 15);
        for (uint8_t option : unit.settings.options)
            EXPECT_LE(option, 1);
    }
}

} // namespace
