// Each scripted fault of a scenario, seen from the wire.
#include <gtest/gtest.h>

#include "unit_exchange.h"

namespace {

constexpr const char* ACCEPTED = "F0 2C 4D 40 F7";
constexpr const char* REJECTED = "F0 2C 4D 4E F7";

// Erases at 0 and sends records 0 .. count-1 of a small firmware at time 1, each accepted.
UnitModel WrittenUpTo(const std::string& scenario, size_t count,
                      std::vector<std::vector<uint8_t>>& records) {
    UnitModel unit;
    UnitPlugIn(unit, Scenario(scenario), 0);
    Send(unit, 0, "F0 2C 4D 12 F7");
    records = FirmwareRecords(10, '2', '1');
    for (size_t r = 0; r < count; ++r)
        EXPECT_EQ(ACCEPTED, SendBytes(unit, 1, records[r])) << "record " << r;
    return unit;
}

TEST(UnitFaultDelay, EveryReplyIsDueLater) {
    UnitModel unit;
    UnitPlugIn(unit, Scenario("update;delay=30;erase=200"), 1000);
    Play(unit, {
                   {1000, "F0 2C 4D 10 F7", "+30 F0 2C 4D 20 32 31 F7"},
                   {1100, "F0 2C 4D 12 F7", "+230 F0 2C 4D 22 F7"},
                   {1300, "F0 2C 4D 30 00 00 00 02 32 31 1B F7", "+30 F0 2C 4D 40 F7"},
                   {1400, "F0 2C 4D 50 F7", "+30 F0 2C 4D 60 F7"},
               });
}

TEST(UnitFaultErase, NothingIsAnsweredWhileErasing) {
    UnitModel unit;
    UnitPlugIn(unit, Scenario("update;erase=2000"), 0);
    Play(unit, {
                   {10, "F0 2C 4D 12 F7", "+2000 F0 2C 4D 22 F7"},
                   {500, "F0 2C 4D 10 F7", ""},
                   {1000, "F0 2C 4D 30 00 00 00 02 32 31 1B F7", ""},
                   {2009, "F0 2C 4D 12 F7", ""},
                   {2010, "F0 2C 4D 10 F7", "F0 2C 4D 20 7F 7F F7"},
                   {2011, "F0 2C 4D 30 00 00 00 02 32 31 1B F7", ACCEPTED},
               });
}

// The pattern the update sequence must survive: rejected twice, silent twice, then taken.
TEST(UnitFaultRecords, RejectAndSilentCountSendingsOfTheirRecord) {
    struct Case {
        const char* scenario;
        std::vector<const char*> answersToRecord3; // one per sending
    };
    const Case cases[] = {
        {"update;reject=3x2", {REJECTED, REJECTED, ACCEPTED}},
        {"update;silent=3x2", {"", "", ACCEPTED}},
        {"update;reject=3x2;silent=3x2", {REJECTED, REJECTED, "", "", ACCEPTED}},
        {"update;reject=3x3", {REJECTED, REJECTED, REJECTED, ACCEPTED}},
        {"update;reject=6x5;silent=7x5", {ACCEPTED}},
        {"update;reject=3x0", {ACCEPTED}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        std::vector<std::vector<uint8_t>> records;
        UnitModel unit = WrittenUpTo(c.scenario, 3, records);
        for (size_t sending = 0; sending < c.answersToRecord3.size(); ++sending)
            EXPECT_EQ(c.answersToRecord3[sending], SendBytes(unit, 2, records[3]))
                << "sending " << sending;
        EXPECT_EQ(4u, unit.recordsAccepted);
        EXPECT_EQ(ACCEPTED, SendBytes(unit, 3, records[4])) << "the next record is normal";
    }
}

// A scripted rejection stands for a transfer that went wrong: even a perfect record is
// refused, and the faults of one record do not spill onto a good resend of another.
TEST(UnitFaultRecords, TheFirstRecordCanBeFaultedToo) {
    std::vector<std::vector<uint8_t>> records;
    UnitModel unit = WrittenUpTo("update;reject=0x1;silent=1x1", 0, records);
    EXPECT_EQ(REJECTED, SendBytes(unit, 1, records[0]));
    EXPECT_EQ(ACCEPTED, SendBytes(unit, 1, records[0]));
    EXPECT_EQ("", SendBytes(unit, 1, records[1]));
    EXPECT_EQ(ACCEPTED, SendBytes(unit, 1, records[1]));
}

TEST(UnitFaultUnplug, AtARecordTheUnitVanishesUnanswered) {
    std::vector<std::vector<uint8_t>> records;
    UnitModel unit = WrittenUpTo("update;unplug_record=3", 3, records);
    EXPECT_FALSE(UnitUnplugged(unit, 5));
    EXPECT_EQ("", SendBytes(unit, 5, records[3]));
    EXPECT_TRUE(UnitUnplugged(unit, 5));
    EXPECT_EQ("", Send(unit, 6, "F0 2C 4D 10 F7"));
    EXPECT_EQ("", SendBytes(unit, 7, records[3]));
}

TEST(UnitFaultUnplug, DuringEraseTheUnitVanishesHalfway) {
    UnitModel unit;
    UnitPlugIn(unit, Scenario("update;erase=1000;unplug_erase=1"), 100);
    EXPECT_EQ("", Send(unit, 200, "F0 2C 4D 12 F7"));
    EXPECT_FALSE(UnitUnplugged(unit, 699));
    EXPECT_TRUE(UnitUnplugged(unit, 700));
    EXPECT_EQ("", Send(unit, 1300, "F0 2C 4D 10 F7"));
}

TEST(UnitFaultUnplug, AfterSomeTimeCountedFromPlugIn) {
    UnitModel unit;
    UnitPlugIn(unit, Scenario("normal;unplug_after=100;delay=30"), 1000);
    Play(unit, {
                   {1050, "F0 2C 4D 10 F7", "+30 F0 2C 4D 21 32 31 F7"},
                   {1070, "F0 2C 4D 10 F7", ""}, // its reply would be due at 1100: gone by then
               });
    EXPECT_FALSE(UnitUnplugged(unit, 1099));
    EXPECT_TRUE(UnitUnplugged(unit, 1100));
    EXPECT_EQ("", Send(unit, 1101, "F0 2C 4D 10 F7"));
}

TEST(UnitFaultUnplug, AReplugStartsAfresh) {
    UnitModel unit;
    UnitPlugIn(unit, Scenario("update;unplug_after=0"), 0);
    EXPECT_TRUE(UnitUnplugged(unit, 0));
    UnitPlugIn(unit, Scenario("update"), 10);
    EXPECT_FALSE(UnitUnplugged(unit, 1000000));
    EXPECT_EQ("F0 2C 4D 20 32 31 F7", Send(unit, 11, "F0 2C 4D 10 F7"));
}

TEST(UnitFaultStatus, AnswersRunningFromTheNthStatusRequestOn) {
    UnitModel unit;
    UnitPlugIn(unit, Scenario("update;running_from_status=1"), 0);
    Play(unit, {
                   {0, "F0 2C 4D 10 F7", "F0 2C 4D 20 32 31 F7"},
                   {50, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 31 F7"},
                   {100, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 31 F7"},
                   {150, "F0 2C 4D 52 7F F7", ""}, // still the boot loader
                   {200, "F0 2C 4D 12 F7", "F0 2C 4D 22 F7"},
               });
}

TEST(UnitFaultStatus, ReportsTheScriptedVersion) {
    struct Case {
        const char* scenario;
        const char* status;
    };
    const Case cases[] = {
        {"normal;version=327F", "F0 2C 4D 21 32 7F F7"},
        {"normal;version=7F7F", "F0 2C 4D 21 7F 7F F7"},
        {"update;version=7F7F", "F0 2C 4D 20 7F 7F F7"},
        {"update;version=3230", "F0 2C 4D 20 32 30 F7"},
        {"old;version=3139", "F0 2C 4D 21 31 39 F7"},
    };
    for (const Case& c : cases) {
        UnitModel unit;
        UnitPlugIn(unit, Scenario(c.scenario), 0);
        EXPECT_EQ(c.status, Send(unit, 0, "F0 2C 4D 10 F7")) << c.scenario;
    }
}

TEST(UnitFaultStatus, CheckInvalidReportsNoVersionAfterWriting) {
    std::vector<std::vector<uint8_t>> records;
    UnitModel unit = WrittenUpTo("update;check_invalid=1", 10, records);
    Play(unit, {
                   {5, "F0 2C 4D 10 F7", "F0 2C 4D 20 7F 7F F7"},
                   {6, "F0 2C 4D 50 F7", "F0 2C 4D 60 F7"},
                   {7, "F0 2C 4D 10 F7", "F0 2C 4D 21 7F 7F F7"},
               });
}

// The noise comes first, all due with the reply, so the real reply is the last word.
TEST(UnitFaultNoise, EveryNthReplyComesWithUnaskedAndMalformedTraffic) {
    std::string oversized = "F0 2C 4D 62";
    for (size_t i = 4; i + 1 < NOISE_OVERSIZED_LENGTH; ++i)
        oversized += " 01";
    oversized += " F7";
    const std::string noise = "F0 41 10 62 01 F7 | F0 2C 4D 21 F7 | " + oversized +
                              " | F0 2C 4D 62 01 | 2C 4D 62 01 F7 | short FE | short 90 3C 40";

    UnitModel unit;
    UnitPlugIn(unit, Scenario("normal;noise=2;settings=0,0,0,0,0,12"), 0);
    Play(unit, {
                   {0, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 31 F7"},
                   {10, "F0 2C 4D 52 7F F7",
                    ("F0 2C 4D 66 0C F7 | " + noise + " | F0 2C 4D 62 00 F7").c_str()},
                   {20, "F0 2C 4D 52 7F F7", "F0 2C 4D 62 00 F7"},
                   {30, "F0 2C 4D 10 F7",
                    ("F0 2C 4D 66 0C F7 | " + noise + " | F0 2C 4D 21 32 31 F7").c_str()},
               });

    UnitModel loader;
    UnitPlugIn(loader, Scenario("update;noise=1"), 0);
    EXPECT_EQ(noise + " | F0 2C 4D 20 32 31 F7", Send(loader, 0, "F0 2C 4D 10 F7"))
        << "the boot loader sends no setting reports";
}

TEST(UnitFaultNoise, ComesDueWithItsReply) {
    UnitModel unit;
    UnitPlugIn(unit, Scenario("update;noise=1;delay=7;erase=100"), 0);
    std::vector<UnitOutput> out;
    const std::vector<uint8_t> erase = Hex("F0 2C 4D 12 F7");
    UnitReceive(unit, 3, erase.data(), erase.size(), out);
    ASSERT_EQ(8u, out.size());
    for (const UnitOutput& o : out)
        EXPECT_EQ(110u, o.dueMs);
    EXPECT_EQ("F0 2C 4D 22 F7", HexText(out.back().bytes));
}

} // namespace
