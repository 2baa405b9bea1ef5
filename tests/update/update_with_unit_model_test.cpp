// The update sequence in virtual time against the unit model, which checks every record's
// address and checksum and keeps what was written: the scenarios a real unit can produce.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model_responder.h"
#include "tests/support/test_image.h"

namespace {

constexpr unsigned kRecords = 2357;

// How often record number n (0 = the first in the image) was sent.
size_t Sendings(const VirtualRun& run, const FirmwareImage& image, unsigned n) {
    SysExMessage record{};
    ImageCursor cursor = image.start + IMAGE_HEADER_LENGTH;
    for (unsigned i = 0; i <= n; ++i) {
        cursor += i > 0 ? record.length : 0;
        EXPECT_EQ(NextRecord(image, cursor, record), 1);
    }
    return CountSends(run, std::vector<uint8_t>(record.bytes, record.bytes + record.length));
}

TEST(UpdateAgainstUnitModel, EndsAsTheUnitBehaves) {
    const std::vector<std::string> failed = {"Programming failed/Warning", "close", "done"};
    const std::vector<std::string> notInUpdateMode = {
        "tavi not in update mode/Error", "Programming failed/Warning", "close", "done"};
    struct Case {
        const char* scenario;
        int endStatus;
        int record;                    // a record whose sendings are counted (-1: none)
        size_t sendings;               // of that record
        std::vector<std::string> tail; // the summary after the last status
    } cases[] = {
        {"update;version=3230", UPDATE_SUCCEEDED, 0, 1, {"done"}},
        {"update;delay=3;erase=4000", UPDATE_SUCCEEDED, 2356, 1, {"done"}},
        {"update;reject=5x2", UPDATE_SUCCEEDED, 5, 3, {"done"}},
        {"update;reject=5x3", UPDATE_CHECKSUM_ERROR, 5, 3, failed},
        {"update;silent=7x3", UPDATE_TIMEOUT, 7, 3, failed},
        {"update;reject=9x2;silent=9x2", UPDATE_SUCCEEDED, 9, 5, {"done"}},
        {"update;unplug_record=100", UPDATE_TIMEOUT, 100, 3, failed},
        {"update;erase=2000;unplug_erase=1", UPDATE_TIMEOUT, 0, 0, failed},
        {"normal", UPDATE_PREPARING, 0, 0, notInUpdateMode},
        {"update;running_from_status=1", UPDATE_TIMEOUT, -1, 0, failed},
        {"update;check_invalid=1", UPDATE_INVALID_FIRMWARE, -1, 0, failed},
        // The boot loader's noise is malformed or foreign: none of it may count as an answer.
        {"update;noise=3", UPDATE_SUCCEEDED, 0, 1, {"done"}},
    };
    const FirmwareImage image = MakeFirmwareImage(kTestImage, kTestImageSize);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        UnitScenario scenario;
        std::string error;
        ASSERT_EQ(ParseScenario(c.scenario, scenario, error), 0) << error;
        UnitModel unit{};
        UnitPlugIn(unit, scenario, 0);
        VirtualRun run;
        AttachUnitModel(run, unit);
        const int result = RunVirtualWorker(run, &image);

        const bool succeeded = c.endStatus == UPDATE_SUCCEEDED;
        EXPECT_EQ(result, succeeded ? 0 : -1);
        std::vector<std::string> expected = {StatusLine(c.endStatus)};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        const std::vector<std::string> summary = Summary(run.events);
        ASSERT_GE(summary.size(), expected.size());
        EXPECT_EQ(std::vector<std::string>(summary.end() - static_cast<long>(expected.size()),
                                           summary.end()),
                  expected);
        if (c.record >= 0) {
            EXPECT_EQ(Sendings(run, image, static_cast<unsigned>(c.record)), c.sendings);
        }
        if (succeeded) {
            // Status, Erase, every record once (the counted one as often), Status, Finish; then
            // the unit runs the image.
            EXPECT_EQ(unit.recordsAccepted, kRecords);
            EXPECT_EQ(run.sends.size(), 2 + kRecords + 2 + c.sendings - 1);
            EXPECT_FALSE(unit.updateMode);
            EXPECT_EQ(unit.version[0], '2');
            EXPECT_EQ(unit.version[1], '1');
        }
    }
}

} // namespace
