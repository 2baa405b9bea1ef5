// How long a whole update through the unit model takes: the model must stay cheap enough for
// virtual-time runs repeated thousands of times. Prints figures; judges nothing.
#include <chrono>
#include <cstdio>

#include "unit_exchange.h"

int main() {
    const std::vector<std::vector<uint8_t>> records = FirmwareRecords(2357, '2', '1');
    const std::vector<uint8_t> status = Hex("F0 2C 4D 10 F7");
    const std::vector<uint8_t> erase = Hex("F0 2C 4D 12 F7");
    const std::vector<uint8_t> finish = Hex("F0 2C 4D 50 F7");
    const UnitScenario scenario = Scenario("update;delay=1;erase=100");
    const int runs = 1000;
    size_t replies = 0;
    std::vector<UnitOutput> out;
    const auto start = std::chrono::steady_clock::now();
    for (int run = 0; run < runs; ++run) {
        UnitModel unit;
        UnitPlugIn(unit, scenario, 0);
        uint64_t now = 0;
        UnitReceive(unit, now, status.data(), status.size(), out);
        UnitReceive(unit, now, erase.data(), erase.size(), out);
        now += 101;
        for (const std::vector<uint8_t>& record : records) {
            out.clear();
            UnitReceive(unit, ++now, record.data(), record.size(), out);
            replies += out.size();
        }
        UnitReceive(unit, now, status.data(), status.size(), out);
        UnitReceive(unit, now, finish.data(), finish.size(), out);
        out.clear();
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("unit model: %d updates of %zu records in %.1f ms: %.3f ms per update, "
                "%.0f ns per record (%zu record replies)\n",
                runs, records.size(), ms, ms / runs, ms * 1e6 / runs / double(records.size()),
                replies);
    return 0;
}
