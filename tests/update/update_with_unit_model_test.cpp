// The update sequence in virtual time against the unit model, which checks every record's
// address and checksum and keeps what was written: the scenarios a real unit can produce.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "model_responder.h"
#include "tests/support/test_image.h"

namespace {

constexpr unsigned kRecords = 2357;

struct ModelRun {
    UnitModel unit{};
    VirtualRun run;
    FirmwareImage image = MakeFirmwareImage(kTestImage, kTestImageSize);
    int result = 99;

    explicit ModelRun(const std::string& scenarioText) {
        UnitScenario scenario;
        std::string error;
        EXPECT_EQ(ParseScenario(scenarioText, scenario, error), 0) << error;
        UnitPlugIn(unit, scenario, 0);
        AttachUnitModel(run, unit);
    }
    void Go() { result = RunVirtualWorker(run, &image); }
    // How often record number recordNumber (0 = the first in the image) was sent.
    size_t Sendings(unsigned recordNumber) const {
        SysExMessage record{};
        ImageCursor cursor = image.start + IMAGE_HEADER_LENGTH;
        for (unsigned i = 0; i <= recordNumber; ++i) {
            if (i > 0) {
                cursor += record.length;
            }
            EXPECT_EQ(NextRecord(image, cursor, record), 1);
        }
        return CountSends(run, std::vector<uint8_t>(record.bytes, record.bytes + record.length));
    }
};

std::vector<std::string> Boxes(const VirtualRun& run) {
    std::vector<std::string> boxes;
    for (const UpdateEvent& e : run.events) {
        if (e.kind == EventKind::Message) {
            boxes.push_back(e.text + "/" + e.caption);
        }
    }
    return boxes;
}

struct ScenarioCase {
    const char* name;
    const char* scenario;
    int lastStatus;
    std::vector<std::string> boxes;
    int record;      // a record whose sendings are counted (-1: none)
    size_t sendings; // of that record
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ScenarioCase& c, std::ostream* os) {
    *os << c.name;
}

class UpdateAgainstUnitModel : public ::testing::TestWithParam<ScenarioCase> {};

TEST_P(UpdateAgainstUnitModel, EndAsTheUnitBehaves) {
    const ScenarioCase& c = GetParam();
    ModelRun m(c.scenario);
    m.Go();
    EXPECT_EQ(m.result, c.lastStatus == UPDATE_SUCCEEDED ? 0 : -1);
    const std::vector<int> statuses = Statuses(m.run);
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), c.lastStatus);
    EXPECT_EQ(Boxes(m.run), c.boxes);
    if (c.record >= 0) {
        EXPECT_EQ(m.Sendings(static_cast<unsigned>(c.record)), c.sendings);
    }
    ASSERT_FALSE(m.run.events.empty());
    EXPECT_EQ(m.run.events.back().kind, EventKind::Done);
    if (c.lastStatus == UPDATE_SUCCEEDED) {
        EXPECT_EQ(m.unit.recordsAccepted, kRecords);
    } else {
        EXPECT_EQ(m.run.events[m.run.events.size() - 2].kind, EventKind::Close);
    }
}

const std::vector<std::string> kNone;
const std::vector<std::string> kFailed = {"Programming failed/Warning"};

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateAgainstUnitModel,
    ::testing::Values(
        ScenarioCase{"Clean", "update", UPDATE_SUCCEEDED, kNone, 0, 1},
        ScenarioCase{"SlowUnit", "update;delay=3;erase=4000", UPDATE_SUCCEEDED, kNone, 2356, 1},
        ScenarioCase{"RejectedTwice", "update;reject=5x2", UPDATE_SUCCEEDED, kNone, 5, 3},
        ScenarioCase{"RejectedThrice", "update;reject=5x3", UPDATE_CHECKSUM_ERROR, kFailed, 5, 3},
        ScenarioCase{"SilentTwice", "update;silent=7x2", UPDATE_SUCCEEDED, kNone, 7, 3},
        ScenarioCase{"SilentThrice", "update;silent=7x3", UPDATE_TIMEOUT, kFailed, 7, 3},
        ScenarioCase{"RejectedTwiceSilentTwice", "update;reject=9x2;silent=9x2", UPDATE_SUCCEEDED,
                     kNone, 9, 5},
        ScenarioCase{"LastRecordRejectedTwice", "update;reject=2356x2", UPDATE_SUCCEEDED, kNone,
                     2356, 3},
        ScenarioCase{"UnplugAtARecord", "update;unplug_record=100", UPDATE_TIMEOUT, kFailed, 100,
                     3},
        ScenarioCase{"UnplugWhileErasing", "update;erase=2000;unplug_erase=1", UPDATE_TIMEOUT,
                     kFailed, 0, 0},
        ScenarioCase{"RunningFirmware",
                     "normal",
                     1,
                     {"tavi not in update mode/Error", "Programming failed/Warning"},
                     0,
                     0},
        ScenarioCase{"LeftUpdateModeBeforeTheCheck", "update;running_from_status=1", UPDATE_TIMEOUT,
                     kFailed, -1, 0},
        ScenarioCase{"InvalidAfterWriting", "update;check_invalid=1", UPDATE_INVALID_FIRMWARE,
                     kFailed, -1, 0},
        // The boot loader's noise is malformed or foreign: none of it may count as an answer.
        ScenarioCase{"NoisyUnit", "update;noise=3", UPDATE_SUCCEEDED, kNone, 0, 1}),
    [](const ::testing::TestParamInfo<ScenarioCase>& param) { return param.param.name; });

TEST(UpdateAgainstUnitModel, CleanRunWritesTheWholeImageAndTheUnitThenRunsIt) {
    ModelRun m("update;version=3230");
    m.Go();
    ASSERT_EQ(m.result, 0);
    EXPECT_FALSE(m.unit.updateMode);
    EXPECT_EQ(m.unit.version[0], '2');
    EXPECT_EQ(m.unit.version[1], '1');
    EXPECT_EQ(m.unit.recordsAccepted, kRecords);
    // Status, Erase, every record once, Status, Finish.
    EXPECT_EQ(m.run.sends.size(), 2 + kRecords + 2);
}

TEST(UpdateAgainstUnitModel, UnplugWhileErasingEndsWhenTheLinkGoesNotAfterTheBound) {
    ModelRun m("update;erase=2000;unplug_erase=1");
    m.Go();
    // Gone at 1000 ms: noticed before the next 50 ms pause.
    uint64_t timeoutAt = 0;
    for (const UpdateEvent& e : m.run.events) {
        if (e.kind == EventKind::Status && e.value == UPDATE_TIMEOUT) {
            timeoutAt = e.atUs;
        }
    }
    EXPECT_GE(timeoutAt, 1000 * 1000u);
    EXPECT_LE(timeoutAt, 1050 * 1000u);
}

TEST(UpdateAgainstUnitModel, SlowUnitTakesAsLongAsItsAnswersAndNoLonger) {
    ModelRun m("update;delay=2;erase=3000");
    m.Go();
    ASSERT_EQ(m.result, 0);
    // Two handshakes, the erase, every record, the finish: each answered 2 ms later, erase
    // 3000 ms on top. Early wake-up means the worker adds no time of its own.
    const uint64_t ideal = (kRecords + 4) * 2 + 3000;
    EXPECT_EQ(m.run.nowUs, ideal * 1000);
}

} // namespace
