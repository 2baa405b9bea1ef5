// What a full update of the embedded image costs on a stock Windows machine, in virtual time:
// every pause ends on a scheduler tick (15.625 ms unless the timer resolution is raised), and
// the worker sleeps its pauses out or is woken as soon as a reply is stored. Figures only.
#include <cstdio>

#include "tests/support/test_image.h"
#include "virtual_unit.h"

int main() {
    const FirmwareImage image = MakeFirmwareImage(kTestImage, kTestImageSize);
    printf(
        "Seconds for a full update by reply delay; silent: the unit stops answering at the first\n"
        "record (the update fails)\ntick us  woken    0 ms    1 ms    2 ms  silent\n");
    for (int run = 0; run < 4; ++run) {
        printf("%7d  %5s", run < 2 ? 15625 : 1000, run % 2 ? "yes" : "no");
        for (unsigned delayMs = 0; delayMs <= 3; ++delayMs) {
            VirtualUnit unit;
            unit.tickUs = run < 2 ? 15625 : 1000;
            unit.earlyWake = run % 2;
            unit.delayMs = delayMs % 3;
            unit.script[0x30] = Answers(delayMs == 3 ? 3 : 0, Answer{0});
            RunVirtualWorker(unit, &image);
            printf("  %6.3f", unit.nowUs / 1e6);
        }
        printf("\n");
    }
    return 0;
}
