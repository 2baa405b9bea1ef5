// What a full update of the embedded image costs on a stock Windows machine, in virtual time
// against the unit model: every pause ends on a scheduler tick (15.625 ms unless the timer
// resolution is raised), and the worker either sleeps its pauses out or is woken as soon as a
// reply is stored. Prints figures; never fails on time.
#include <cstdio>
#include <string>

#include "tests/support/test_image.h"
#include "tests/update/model_responder.h"

namespace {

constexpr unsigned kRecords = 2357;

struct Timing {
    const char* name;
    uint64_t tickUs;
    bool earlyWake;
};

double RunOnce(const std::string& scenarioText, const Timing& timing, int& result) {
    UnitScenario scenario;
    std::string error;
    ParseScenario(scenarioText, scenario, error);
    UnitModel unit{};
    UnitPlugIn(unit, scenario, 0);
    VirtualRun run;
    AttachUnitModel(run, unit);
    run.tickUs = timing.tickUs;
    run.earlyWake = timing.earlyWake;
    const FirmwareImage image = MakeFirmwareImage(kTestImage, kTestImageSize);
    result = RunVirtualWorker(run, &image);
    return static_cast<double>(run.nowUs) / 1e6;
}

} // namespace

int main() {
    const Timing timings[] = {
        {"15.6 ms tick, sleeps out its pauses", 15625, false},
        {"15.6 ms tick, woken by the reply", 15625, true},
        {"1 ms tick (raised), sleeps out its pauses", 1000, false},
        {"1 ms tick (raised), woken by the reply", 1000, true},
    };
    printf("Full update, %u records, virtual time against the unit model\n", kRecords);
    printf("%-44s %8s %10s %8s\n", "worker timing", "reply ms", "seconds", "ratio");
    for (const Timing& timing : timings) {
        for (unsigned delayMs : {0u, 1u, 2u}) {
            int result = 0;
            const double seconds =
                RunOnce("update;delay=" + std::to_string(delayMs), timing, result);
            const double ideal = (kRecords + 4) * delayMs / 1000.0;
            if (delayMs == 0) {
                printf("%-44s %8u %10.3f %8s%s\n", timing.name, delayMs, seconds, "-",
                       result == 0 ? "" : "  (failed)");
            } else {
                printf("%-44s %8u %10.3f %8.2f%s\n", timing.name, delayMs, seconds, seconds / ideal,
                       result == 0 ? "" : "  (failed)");
            }
        }
    }
    // A unit that stops answering at the first record: three waits of 501 counted pauses.
    printf("\nUnit silent from the first record: time until the run fails with Timeout\n");
    for (const Timing& timing : timings) {
        int result = 0;
        const double seconds = RunOnce("update;silent=0x3", timing, result);
        printf("%-44s %19.3f%s\n", timing.name, seconds, result != 0 ? "" : "  (succeeded?)");
    }
    return 0;
}
