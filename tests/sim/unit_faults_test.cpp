// Each scripted fault of a scenario, seen from the wire.
#include <gtest/gtest.h>

#include <utility>

#include "unit_exchange.h"

namespace {

constexpr const char* ACCEPTED = "F0 2C 4D 40 F7";
constexpr const char* REJECTED = "F0 2C 4D 4E F7";
constexpr const char* RECORD_0 = "F0 2C 4D 30 00 00 00 02 32 31 1B F7";

TEST(UnitFaultDelay, EveryReplyIsDueLater) {
    UnitModel unit = PluggedIn("update;delay=30;erase=200", 1000);
    Play(unit, {
                   {1000, "F0 2C 4D 10 F7", "+30 F0 2C 4D 20 32 31 F7"},
                   {1100, "F0 2C 4D 12 F7", "+230 F0 2C 4D 22 F7"},
                   {1300, RECORD_0, "+30 F0 2C 4D 40 F7"},
                   {1400, "F0 2C 4D 50 F7", "+30 F0 2C 4D 60 F7"},
               });
}

// The pattern the update must survive: rejected twice, silent twice, then taken. A scripted
// fault counts sendings of its own record only.
TEST(UnitFaultRecords, RejectAndSilentCountSendingsOfTheirRecord) {
    struct Case {
        const char* scenario;
        size_t record;
        std::vector<const char*> answers; // one per sending of the record
    };
    const Case cases[] = {
        {"update;reject=3x2", 3, {REJECTED, REJECTED, ACCEPTED}},
        {"update;silent=3x2", 3, {"", "", ACCEPTED}},
        {"update;reject=3x2;silent=3x2", 3, {REJECTED, REJECTED, "", "", ACCEPTED}},
        {"update;reject=6x5;silent=7x5", 3, {ACCEPTED}},
        {"update;reject=0x1", 0, {REJECTED, ACCEPTED}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        UnitModel unit = PluggedIn(c.scenario);
        Send(unit, 0, "F0 2C 4D 12 F7");
        const std::vector<std::vector<uint8_t>> records = FirmwareRecords(10, '2', '1');
        for (size_t r = 0; r < c.record; ++r)
            EXPECT_EQ(ACCEPTED, SendBytes(unit, 1, records[r])) << "record " << r;
        for (size_t sending = 0; sending < c.answers.size(); ++sending)
            EXPECT_EQ(c.answers[sending], SendBytes(unit, 2, records[c.record])) << sending;
        EXPECT_EQ(c.record + 1, unit.recordsAccepted);
        EXPECT_EQ(ACCEPTED, SendBytes(unit, 3, records[c.record + 1])) << "the next is normal";
    }
}

TEST(UnitFaultUnplug, TheUnitVanishesAtARecordDuringEraseOrAfterATime) {
    const std::vector<std::vector<uint8_t>> records = FirmwareRecords(2, '2', '1');
    UnitModel atRecord = PluggedIn("update;unplug_record=1");
    EXPECT_EQ("F0 2C 4D 22 F7", Send(atRecord, 0, "F0 2C 4D 12 F7"));
    EXPECT_EQ(ACCEPTED, SendBytes(atRecord, 1, records[0]));
    EXPECT_FALSE(UnitUnplugged(atRecord, 1));
    EXPECT_EQ("", SendBytes(atRecord, 2, records[1]));
    EXPECT_TRUE(UnitUnplugged(atRecord, 2));
    EXPECT_EQ("", Send(atRecord, 3, "F0 2C 4D 10 F7"));

    UnitModel duringErase = PluggedIn("update;erase=1000;unplug_erase=1", 100);
    EXPECT_EQ("", Send(duringErase, 200, "F0 2C 4D 12 F7"));
    EXPECT_FALSE(UnitUnplugged(duringErase, 699));
    EXPECT_TRUE(UnitUnplugged(duringErase, 700));
    EXPECT_EQ("", Send(duringErase, 1300, "F0 2C 4D 10 F7"));

    UnitModel afterTime = PluggedIn("normal;unplug_after=100;delay=30", 1000);
    Play(afterTime, {
                        {1050, "F0 2C 4D 10 F7", "+30 F0 2C 4D 21 32 31 F7"},
                        {1070, "F0 2C 4D 10 F7", ""}, // its reply would be due at 1100: gone
                    });
    EXPECT_FALSE(UnitUnplugged(afterTime, 1099));
    EXPECT_TRUE(UnitUnplugged(afterTime, 1100));
}

TEST(UnitFaultStatus, ReportsWhatTheScenarioScripts) {
    UnitModel unit = PluggedIn("update;running_from_status=1");
    Play(unit, {
                   {0, "F0 2C 4D 10 F7", "F0 2C 4D 20 32 31 F7"},
                   {1, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 31 F7"},
                   {2, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 31 F7"},
                   {3, "F0 2C 4D 52 7F F7", ""}, // still the boot loader
                   {4, "F0 2C 4D 12 F7", "F0 2C 4D 22 F7"},
               });
    const std::pair<const char*, const char*> versions[] = {
        {"normal;version=327F", "F0 2C 4D 21 32 7F F7"},
        {"normal;version=7F7F", "F0 2C 4D 21 7F 7F F7"},
        {"update;version=7F7F", "F0 2C 4D 20 7F 7F F7"},
    };
    for (const auto& [scenario, status] : versions) {
        UnitModel scripted = PluggedIn(scenario);
        EXPECT_EQ(status, Send(scripted, 0, "F0 2C 4D 10 F7")) << scenario;
    }
    UnitModel invalid = PluggedIn("update;check_invalid=1");
    Play(invalid, {
                      {0, "F0 2C 4D 12 F7", "F0 2C 4D 22 F7"},
                      {1, RECORD_0, ACCEPTED},
                      {2, "F0 2C 4D 10 F7", "F0 2C 4D 20 7F 7F F7"},
                      {3, "F0 2C 4D 50 F7", "F0 2C 4D 60 F7"},
                      {4, "F0 2C 4D 10 F7", "F0 2C 4D 21 7F 7F F7"},
                  });
}

// The noise comes first, all due with the reply, so the real reply is the last word.
TEST(UnitFaultNoise, EveryNthReplyComesWithUnaskedAndMalformedTraffic) {
    std::string oversized = "F0 2C 4D 62";
    for (size_t i = 4; i + 1 < NOISE_OVERSIZED_LENGTH; ++i)
        oversized += " 01";
    const std::string noise = "F0 41 10 62 01 F7 | F0 2C 4D 21 F7 | " + oversized +
                              " F7 | F0 2C 4D 62 01 | 2C 4D 62 01 F7 | short FE | short 90 3C 40";
    UnitModel unit = PluggedIn("normal;noise=2;settings=0,0,0,0,0,12");
    Play(unit, {
                   {0, "F0 2C 4D 10 F7", "F0 2C 4D 21 32 31 F7"},
                   {10, "F0 2C 4D 52 7F F7",
                    ("F0 2C 4D 66 0C F7 | " + noise + " | F0 2C 4D 62 00 F7").c_str()},
                   {20, "F0 2C 4D 52 7F F7", "F0 2C 4D 62 00 F7"},
               });
    // The boot loader sends no setting reports; everything is due with the delayed reply.
    UnitModel loader = PluggedIn("update;noise=1;delay=7");
    std::vector<UnitOutput> out;
    const std::vector<uint8_t> status = Hex("F0 2C 4D 10 F7");
    UnitReceive(loader, 0, status.data(), status.size(), out);
    EXPECT_EQ(noise + " | F0 2C 4D 20 32 31 F7", Outputs(out, 7));
}

} // namespace
