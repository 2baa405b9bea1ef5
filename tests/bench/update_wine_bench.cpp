// A full update of the embedded image by the real worker thread against the stand-in unit,
// at several reply delays, with sends completing at once or 1 ms later. Prints the duration
// and its ratio to what the unit alone needs; never fails on time.
#include <cstdio>
#include <string>

#include "tests/support/test_image.h"
#include "tests/update/worker_run.h"

namespace {

constexpr unsigned kRecords = 2357;
constexpr unsigned kExchangesBesideRecords = 4; // Status, Erase, Status, Finish

} // namespace

int main() {
    SimApi api{};
    if (SimLoadApi(&api) != 0) {
        fprintf(stderr, "the stand-in winmm.dll is not loaded\n");
        return 1;
    }
    const FirmwareImage image = MakeFirmwareImage(kTestImage, kTestImageSize);
    printf("Full update, %u records, worker thread against the stand-in under Wine\n", kRecords);
    printf("%-12s %8s %10s %10s %8s %14s\n", "completion", "reply ms", "seconds", "ideal", "ratio",
           "us/record over");
    int failures = 0;
    for (const char* completion : {"sync", "async 1 ms"}) {
        const bool async = completion[0] == 'a';
        for (unsigned delayMs : {0u, 1u, 2u}) {
            std::string scenario = "update;delay=" + std::to_string(delayMs);
            if (async) {
                scenario += ";async_done=1";
            }
            WorkerRun run;
            if (ConfigureUnit(api, scenario.c_str()) != 0 || OpenUnitPorts() != 0) {
                fprintf(stderr, "cannot set up %s\n", scenario.c_str());
                return 1;
            }
            RunWorkerToEnd(&image, 120000, run);
            CloseUnitPorts();
            bool succeeded = false;
            for (const UpdateEvent& e : run.events) {
                succeeded = succeeded || (e.kind == EventKind::Status && e.value == 4);
            }
            failures += succeeded ? 0 : 1;
            const double ideal = (kRecords + kExchangesBesideRecords) * delayMs / 1000.0;
            const double overUs = (run.seconds - ideal) * 1e6 / kRecords;
            char ratio[16] = "-";
            if (ideal > 0) {
                snprintf(ratio, sizeof ratio, "%.3f", run.seconds / ideal);
            }
            printf("%-12s %8u %10.3f %10.3f %8s %14.0f%s\n", completion, delayMs, run.seconds,
                   ideal, ratio, overUs, succeeded ? "" : "  (update failed)");
            fflush(stdout);
        }
    }
    return failures == 0 ? 0 : 1;
}
