// A unit whose every answer the test writes down: for the n-th receipt of each request, which
// code it answers and how long after. Finer-grained than the unit model, for the edge cases
// that hang on a single millisecond or an answer the real unit never gives.
#pragma once
#include <cstdint>
#include <map>
#include <vector>

#include "virtual_run.h"

struct Answer {
    uint8_t code;     // 0: no answer at all
    uint64_t delayMs; // after the request
    uint8_t version[2];
};

constexpr Answer Silent() {
    return {0, 0, {0, 0}};
}
constexpr Answer Code(uint8_t code, uint64_t delayMs = 0) {
    return {code, delayMs, {'2', '1'}};
}
constexpr Answer Status(uint8_t code, uint8_t major, uint8_t minor, uint64_t delayMs = 0) {
    return {code, delayMs, {major, minor}};
}

struct ScriptedUnit {
    // Answers by receipt, 0-based; past the end of a list the unit answers the normal way at
    // once (status: 0x20 '2' '1', erase: 0x22, record: 0x40, finish: 0x60).
    std::vector<Answer> status;
    std::vector<Answer> erase;
    std::vector<Answer> finish;
    // By record number (0 = the first record of the image) and then by sending of that record.
    std::map<unsigned, std::vector<Answer>> records;
    // Bookkeeping while it runs.
    unsigned statusSeen = 0;
    unsigned eraseSeen = 0;
    unsigned finishSeen = 0;
    int recordNumber = -1;
    unsigned recordSending = 0;
    std::vector<uint8_t> lastRecord;
};

// A responder that answers from unit; unit must outlive the run.
Responder ScriptedResponder(ScriptedUnit& unit);
