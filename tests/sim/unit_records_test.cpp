// How the boot loader judges data records: layout, checksum, order, erase first.
#include <gtest/gtest.h>

#include "firmware/image.h"
#include "tests/support/test_image.h"
#include "unit_exchange.h"

namespace {

constexpr const char* ACCEPTED = "F0 2C 4D 40 F7";
constexpr const char* REJECTED = "F0 2C 4D 4E F7";

UnitModel Erased() {
    UnitModel unit;
    UnitPlugIn(unit, Scenario("update"), 0);
    EXPECT_EQ("F0 2C 4D 22 F7", Send(unit, 0, "F0 2C 4D 12 F7"));
    return unit;
}

TEST(UnitRecordLayout, MakeDataRecordWritesTheDocumentedBytes) {
    std::vector<uint8_t> record;
    const uint8_t version[2] = {'2', '1'};
    ASSERT_EQ(0, MakeDataRecord(0, version, 2, record));
    EXPECT_EQ("F0 2C 4D 30 00 00 00 02 32 31 1B F7", HexText(record));
    const uint8_t data[3] = {0x05, 0x06, 0x07};
    ASSERT_EQ(0, MakeDataRecord(0x4081, data, 3, record));
    EXPECT_EQ("F0 2C 4D 30 01 01 01 03 05 06 07 68 F7", HexText(record));
    const uint8_t zeros[19] = {};
    ASSERT_EQ(0, MakeDataRecord(0, zeros, 19, record));
    EXPECT_EQ(29u, record.size());
    EXPECT_EQ(0x6D, record[27]);
}

TEST(UnitRecordLayout, MakeDataRecordRefusesWhatTheLayoutCannotHold) {
    std::vector<uint8_t> record = {0xAA};
    const uint8_t data[20] = {};
    const uint8_t high[2] = {0x01, 0x80};
    EXPECT_EQ(-1, MakeDataRecord(0, data, 1, record));
    EXPECT_EQ(-1, MakeDataRecord(0, data, 20, record));
    EXPECT_EQ(-1, MakeDataRecord(FLASH_SIZE, data, 2, record));
    EXPECT_EQ(-1, MakeDataRecord(0, high, 2, record));
    EXPECT_EQ(std::vector<uint8_t>{0xAA}, record);
}

// Each damaged or misplaced record is refused with 0x4E, and refusing it changes nothing:
// the good first record is still taken afterwards.
TEST(UnitRecordChecks, RefusesEveryFlawAndStaysReadyForTheRightRecord) {
    struct Case {
        const char* flaw;
        const char* record;
    };
    const Case cases[] = {
        {"checksum off by one", "F0 2C 4D 30 00 00 00 02 32 31 1C F7"},
        {"data byte changed", "F0 2C 4D 30 00 00 00 02 32 32 1B F7"},
        {"address 2 before 0", "F0 2C 4D 30 00 00 02 02 32 31 19 F7"},
        {"count 1", "F0 2C 4D 30 00 00 00 01 32 4D F7"},
        {"count 20, length fits",
         "F0 2C 4D 30 00 00 00 14 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 6C "
         "F7"},
        {"count says 3, holds 2", "F0 2C 4D 30 00 00 00 03 32 31 1A F7"},
        {"count says 2, holds 3", "F0 2C 4D 30 00 00 00 02 32 31 00 1B F7"},
        {"byte with the top bit set", "F0 2C 4D 30 00 00 00 02 B2 31 1B F7"},
        {"no payload at all", "F0 2C 4D 30 F7"},
        {"head and address only", "F0 2C 4D 30 00 00 00 F7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flaw);
        UnitModel unit = Erased();
        EXPECT_EQ(REJECTED, Send(unit, 1, c.record));
        EXPECT_EQ(0u, unit.recordsAccepted);
        EXPECT_EQ(ACCEPTED, Send(unit, 2, "F0 2C 4D 30 00 00 00 02 32 31 1B F7"));
        EXPECT_EQ(2u, unit.nextAddress);
    }
}

TEST(UnitRecordChecks, RefusesRecordsBeforeAnErase) {
    UnitModel unit;
    UnitPlugIn(unit, Scenario("update"), 0);
    Play(unit, {
                   {0, "F0 2C 4D 30 00 00 00 02 32 31 1B F7", REJECTED},
                   {1, "F0 2C 4D 10 F7", "F0 2C 4D 20 32 31 F7"},
               });
}

// Records must follow each other: a repeat of the record just taken, or one that skips
// ahead, is refused; the record that continues the flash is still taken.
TEST(UnitRecordChecks, TakesRecordsOnlyInOrder) {
    UnitModel unit = Erased();
    Play(unit, {
                   {1, "F0 2C 4D 30 00 00 00 02 32 31 1B F7", ACCEPTED},
                   {2, "F0 2C 4D 30 00 00 00 02 32 31 1B F7", REJECTED},
                   {3, "F0 2C 4D 30 00 00 05 03 05 06 07 66 F7", REJECTED},
                   {4, "F0 2C 4D 30 00 00 02 03 05 06 07 69 F7", ACCEPTED},
               });
    EXPECT_EQ((std::vector<uint8_t>{0x32, 0x31, 0x05, 0x06, 0x07}), unit.flash);
    EXPECT_EQ(2u, unit.recordsAccepted);
}

TEST(UnitRecordChecks, ASecondEraseStartsTheFlashAgain) {
    UnitModel unit = Erased();
    Play(unit, {
                   {1, "F0 2C 4D 30 00 00 00 02 32 31 1B F7", ACCEPTED},
                   {2, "F0 2C 4D 12 F7", "F0 2C 4D 22 F7"},
                   {3, "F0 2C 4D 10 F7", "F0 2C 4D 20 7F 7F F7"},
                   {4, "F0 2C 4D 30 00 00 02 03 05 06 07 69 F7", REJECTED},
                   {5, "F0 2C 4D 30 00 00 00 02 32 31 1B F7", ACCEPTED},
               });
}

TEST(UnitRecordChecks, TakesAWholeFirmwareOfTheShippedSize) {
    UnitModel unit = Erased();
    const std::vector<std::vector<uint8_t>> records = FirmwareRecords(2357, '2', '1');
    std::vector<UnitOutput> out;
    for (const std::vector<uint8_t>& record : records)
        UnitReceive(unit, 1, record.data(), record.size(), out);
    ASSERT_EQ(records.size(), out.size());
    for (const UnitOutput& reply : out)
        ASSERT_EQ(ACCEPTED, HexText(reply.bytes));
    EXPECT_EQ(2356u * 19 + 7, unit.nextAddress);
    Play(unit, {
                   {2, "F0 2C 4D 10 F7", "F0 2C 4D 20 32 31 F7"},
                   {3, "F0 2C 4D 50 F7", "F0 2C 4D 60 F7"},
               });
}

// The image the program embeds is generated in the layout the model checks: every record of
// it, sent in order, is taken, and the unit then reports the version the image carries.
TEST(UnitRecordChecks, TakesEveryRecordOfTheEmbeddedImage) {
    const FirmwareImage image = MakeFirmwareImage(kTestImage, kTestImageSize);
    ImageCursor cursor = image.start;
    ASSERT_EQ(0, CheckImageHeader(image, cursor));
    UnitModel unit = Erased();
    SysExMessage record;
    size_t count = 0;
    std::vector<UnitOutput> out;
    while (NextRecord(image, cursor, record) == 1) {
        out.clear();
        UnitReceive(unit, 1, record.bytes, record.length, out);
        ASSERT_EQ(1u, out.size()) << "record " << count;
        ASSERT_EQ(ACCEPTED, HexText(out[0].bytes)) << "record " << count;
        cursor += record.length;
        ++count;
    }
    EXPECT_EQ(count, unit.recordsAccepted);
    EXPECT_LT(0u, count);
    Play(unit, {
                   {2, "F0 2C 4D 10 F7", "F0 2C 4D 20 32 31 F7"},
                   {3, "F0 2C 4D 50 F7", "F0 2C 4D 60 F7"},
                   {4, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 31 F7"},
               });
}

} // namespace
