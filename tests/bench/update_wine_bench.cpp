// A full update of the embedded image by the real worker thread against the stand-in unit,
// at several reply delays, with sends completing at once or 1 ms later. Prints the duration
// and its ratio to what the unit alone needs; never fails on time.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/test_image.h"
#include "tests/update/worker_run.h"

namespace {

constexpr unsigned kRecords = 2357;
constexpr unsigned kExchangesBesideRecords = 4; // Status, Erase, Status, Finish

// Where the time of the record loop goes, from the stand-in's transcript: on the unit's side
// (a record received until its answer was sent) and on the host's (an answer sent until the
// next record arrived: receive path, parser, wake-up, send path), mean milliseconds.
struct Split {
    double unitMs = 0;
    double hostMs = 0;
};

Split SplitFromTranscript(const SimApi& api) {
    const int length = api.readTranscript(nullptr, 0);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    api.readTranscript(&text[0], length + 1);
    Split split;
    double recordAt = -1;
    double answerAt = -1;
    unsigned unitCount = 0;
    unsigned hostCount = 0;
    size_t pos = 0;
    while (pos < static_cast<size_t>(length)) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            end = static_cast<size_t>(length);
        }
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        const double at = atof(line.c_str());
        if (line.find(" rx F0 2C 4D 30 ") != std::string::npos) {
            if (answerAt >= 0) {
                split.hostMs += at - answerAt;
                ++hostCount;
                answerAt = -1;
            }
            recordAt = at;
        } else if (line.find(" tx F0 2C 4D 40 F7") != std::string::npos && recordAt >= 0) {
            split.unitMs += at - recordAt;
            ++unitCount;
            recordAt = -1;
            answerAt = at;
        }
    }
    split.unitMs /= unitCount ? unitCount : 1;
    split.hostMs /= hostCount ? hostCount : 1;
    return split;
}

} // namespace

int main() {
    SimApi api{};
    if (SimLoadApi(&api) != 0) {
        fprintf(stderr, "the stand-in winmm.dll is not loaded\n");
        return 1;
    }
    const FirmwareImage image = MakeFirmwareImage(kTestImage, kTestImageSize);
    printf("Full update, %u records, worker thread against the stand-in under Wine\n", kRecords);
    printf("ideal: every request answered after exactly the reply delay, no time on the host\n");
    printf("unit ms/rec: a record's arrival at the stand-in until its answer left it\n");
    printf("host ms/rec: an answer leaving the stand-in until the next record arrived there\n");
    printf("%-12s %8s %9s %9s %7s %12s %12s\n", "completion", "reply ms", "seconds", "ideal",
           "ratio", "unit ms/rec", "host ms/rec");
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
            api.clearTranscript();
            RunWorkerToEnd(&image, 120000, run);
            const Split split = SplitFromTranscript(api);
            CloseUnitPorts();
            bool succeeded = false;
            for (const UpdateEvent& e : run.events) {
                succeeded = succeeded || (e.kind == EventKind::Status && e.value == 4);
            }
            failures += succeeded ? 0 : 1;
            const double ideal = (kRecords + kExchangesBesideRecords) * delayMs / 1000.0;
            char ratio[16] = "-";
            if (ideal > 0) {
                snprintf(ratio, sizeof ratio, "%.3f", run.seconds / ideal);
            }
            printf("%-12s %8u %9.3f %9.3f %7s %12.3f %12.3f%s\n", completion, delayMs, run.seconds,
                   ideal, ratio, split.unitMs, split.hostMs, succeeded ? "" : "  (update failed)");
            fflush(stdout);
        }
    }
    return failures == 0 ? 0 : 1;
}
