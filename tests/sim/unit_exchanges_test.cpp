// The unit's answers to each message, as the host sees them on the wire.
#include <gtest/gtest.h>

#include "firmware/image.h"
#include "tests/support/test_image.h"
#include "unit_exchange.h"

namespace {

constexpr const char* ACCEPTED = "F0 2C 4D 40 F7";
constexpr const char* REJECTED = "F0 2C 4D 4E F7";

TEST(UnitRunningFirmware, AnswersStatusAndSettingsAndNothingElse) {
    UnitModel unit = PluggedIn(""); // an empty scenario is a running 2.1
    Play(unit, {
                   // The opening queries: the default settings, then the version.
                   {0, "F0 2C 4D 52 7F F7", "F0 2C 4D 62 00 F7"},
                   {0, "F0 2C 4D 55 7F F7", "F0 2C 4D 65 00 F7"},
                   {0, "F0 2C 4D 53 7F F7", "F0 2C 4D 63 00 F7"},
                   {0, "F0 2C 4D 58 7F F7", "F0 2C 4D 68 00 F7"},
                   {0, "F0 2C 4D 59 7F F7", "F0 2C 4D 69 00 F7"},
                   {0, "F0 2C 4D 56 7F F7", "F0 2C 4D 66 08 F7"},
                   {0, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 31 F7"},
                   // A set is confirmed with the value the unit now holds: out of range, the old.
                   {1, "F0 2C 4D 52 01 F7", "F0 2C 4D 62 01 F7"},
                   {1, "F0 2C 4D 52 02 F7", "F0 2C 4D 62 01 F7"},
                   {1, "F0 2C 4D 55 01 F7", "F0 2C 4D 65 01 F7"},
                   {1, "F0 2C 4D 58 01 F7", "F0 2C 4D 68 01 F7"},
                   {1, "F0 2C 4D 59 01 F7", "F0 2C 4D 69 01 F7"},
                   {1, "F0 2C 4D 53 7E F7", "F0 2C 4D 63 7E F7"},
                   {1, "F0 2C 4D 56 0F F7", "F0 2C 4D 66 0F F7"},
                   {1, "F0 2C 4D 56 10 F7", "F0 2C 4D 66 0F F7"},
                   {2, "F0 2C 4D 55 7F F7", "F0 2C 4D 65 01 F7"},
                   {2, "F0 2C 4D 53 7F F7", "F0 2C 4D 63 7E F7"},
                   // Boot loader commands, and anything not a whole message of this unit.
                   {3, "F0 2C 4D 12 F7", ""},
                   {3, "F0 2C 4D 30 00 00 00 02 32 31 1B F7", ""},
                   {3, "F0 2C 4D 50 F7", ""},
                   {3, "F0 41 10 10 F7", ""},
                   {3, "F0 2C 4D 10 00 F7", ""},
                   {3, "F0 2C 4D 10", ""},
                   {3, "F0 2C 4D 52 F7", ""},
                   {3, "F0 2C 4D 57 01 F7", ""},
                   {3, "", ""},
                   {4, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 31 F7"},
               });
}

TEST(UnitBootLoader, AnswersStatusEraseRecordsAndFinishButNoSettings) {
    UnitModel unit = PluggedIn("update;erase=100");
    Play(unit, {
                   {0, "F0 2C 4D 52 7F F7", ""},
                   {0, "F0 2C 4D 53 05 F7", ""},
                   {0, "F0 2C 4D 56 7F F7", ""},
                   {0, "F0 2C 4D 10 F7", "F0 2C 4D 20 32 31 F7"},
                   {0, "F0 2C 4D 30 00 00 00 02 32 31 1B F7", REJECTED}, // not erased yet
                   {10, "F0 2C 4D 12 F7", "+100 F0 2C 4D 22 F7"},
                   {50, "F0 2C 4D 10 F7", ""}, // erasing
                   {110, "F0 2C 4D 10 F7", "F0 2C 4D 20 7F 7F F7"},
                   // Damaged records are refused, and refusing one changes nothing.
                   {110, "F0 2C 4D 30 00 00 00 02 32 31 1C F7", REJECTED},    // checksum
                   {110, "F0 2C 4D 30 00 00 00 02 32 32 1B F7", REJECTED},    // data changed
                   {110, "F0 2C 4D 30 00 00 02 02 32 31 19 F7", REJECTED},    // address 2 first
                   {110, "F0 2C 4D 30 00 00 00 01 32 4D F7", REJECTED},       // count 1
                   {110, "F0 2C 4D 30 00 00 00 03 32 31 1A F7", REJECTED},    // says 3, holds 2
                   {110, "F0 2C 4D 30 00 00 00 02 32 31 00 1B F7", REJECTED}, // says 2, holds 3
                   {110, "F0 2C 4D 30 00 00 00 02 B2 31 1B F7", REJECTED},    // top bit set
                   {110, "F0 2C 4D 30 F7", REJECTED},
                   {110, "F0 2C 4D 30 00 00 00 02 32 31 1B F7", ACCEPTED},
                   {110, "F0 2C 4D 30 00 00 00 02 32 31 1B F7", REJECTED},    // a repeat
                   {110, "F0 2C 4D 30 00 00 05 03 05 06 07 66 F7", REJECTED}, // skips ahead
                   {110, "F0 2C 4D 30 00 00 02 03 05 06 07 69 F7", ACCEPTED},
                   // A second erase starts the flash again.
                   {111, "F0 2C 4D 12 F7", "+100 F0 2C 4D 22 F7"},
                   {211, "F0 2C 4D 10 F7", "F0 2C 4D 20 7F 7F F7"},
                   {211, "F0 2C 4D 30 00 00 02 03 05 06 07 69 F7", REJECTED},
                   {211, "F0 2C 4D 30 00 00 00 02 32 31 1B F7", ACCEPTED},
                   {211, "F0 2C 4D 30 00 00 02 03 05 06 07 69 F7", ACCEPTED},
                   {220, "F0 2C 4D 10 F7", "F0 2C 4D 20 32 31 F7"},
                   {230, "F0 2C 4D 50 F7", "F0 2C 4D 60 F7"},
                   {240, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 31 F7"},
                   {250, "F0 2C 4D 53 7F F7", "F0 2C 4D 63 00 F7"},
               });
    EXPECT_EQ((std::vector<uint8_t>{0x32, 0x31, 0x05, 0x06, 0x07}), unit.flash);
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
}

// After an update the unit runs what was written: its version comes from flash addresses 0
// and 1, and it answers the setting messages even where the old firmware did not.
TEST(UnitFinish, RunsTheWrittenFirmwareWithTheVersionFromFlash) {
    struct Case {
        bool erase;
        size_t records;
        const char* statusBeforeFinish;
        const char* statusAfterFinish;
        const char* query;
    };
    const Case cases[] = {
        {true, 40, "F0 2C 4D 20 33 35 F7", "F0 2C 4D 21 33 35 F7", "F0 2C 4D 62 00 F7"},
        {true, 0, "F0 2C 4D 20 7F 7F F7", "F0 2C 4D 21 7F 7F F7", "F0 2C 4D 62 00 F7"},
        {false, 0, "F0 2C 4D 20 32 30 F7", "F0 2C 4D 21 32 30 F7", ""}, // the old 2.0 again
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.statusAfterFinish);
        UnitModel unit = PluggedIn("update;version=3230");
        unit.answersSettings = false; // the installed 2.0 knows no settings
        if (c.erase) {
            EXPECT_EQ("F0 2C 4D 22 F7", Send(unit, 0, "F0 2C 4D 12 F7"));
        }
        for (const std::vector<uint8_t>& record : FirmwareRecords(c.records, '3', '5'))
            EXPECT_EQ(ACCEPTED, SendBytes(unit, 1, record));
        EXPECT_EQ(c.statusBeforeFinish, Send(unit, 2, "F0 2C 4D 10 F7"));
        EXPECT_EQ("F0 2C 4D 60 F7", Send(unit, 3, "F0 2C 4D 50 F7"));
        EXPECT_EQ(c.statusAfterFinish, Send(unit, 4, "F0 2C 4D 10 F7"));
        EXPECT_EQ(c.query, Send(unit, 5, "F0 2C 4D 52 7F F7"));
        EXPECT_EQ("", Send(unit, 6, "F0 2C 4D 50 F7")) << "the firmware knows no Finish";
    }
}

// The image the program embeds is generated in the layout the model checks: every record of
// it, sent in order, is taken, and the unit then runs the version the image carries.
TEST(UnitRecords, TakesEveryRecordOfTheEmbeddedImage) {
    const FirmwareImage image = MakeFirmwareImage(kTestImage, kTestImageSize);
    ImageCursor cursor = image.start;
    ASSERT_EQ(0, CheckImageHeader(image, cursor));
    UnitModel unit = PluggedIn("update;version=7F7F");
    EXPECT_EQ("F0 2C 4D 22 F7", Send(unit, 0, "F0 2C 4D 12 F7"));
    SysExMessage record;
    unsigned count = 0;
    for (; NextRecord(image, cursor, record) == 1; cursor += record.length, ++count) {
        const std::vector<uint8_t> bytes(record.bytes, record.bytes + record.length);
        ASSERT_EQ(ACCEPTED, SendBytes(unit, 1, bytes)) << "record " << count;
    }
    EXPECT_EQ(count, unit.recordsAccepted);
    EXPECT_LT(0u, count);
    Play(unit, {
                   {3, "F0 2C 4D 50 F7", "F0 2C 4D 60 F7"},
                   {4, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 31 F7"},
               });
}

} // namespace
