// Helpers for writing exchanges with the unit model as literal bytes: what the host sends,
// and everything the unit answers, as text ("F0 2C 4D 21 32 31 F7").
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/unit_model.h"

// "F0 2C 4D 10 F7" -> bytes. Aborts the test binary on a typo, so a table cannot go wrong
// silently.
std::vector<uint8_t> Hex(const std::string& text);
std::string HexText(const std::vector<uint8_t>& bytes);

// What the unit sent, one output after another joined by " | ". An output due later than
// sentAtMs is prefixed "+N " (N ms after); a short message is prefixed "short ".
std::string Outputs(const std::vector<UnitOutput>& out, uint64_t sentAtMs);

// Sends bytes at nowMs and returns the answers in the form above.
std::string Send(UnitModel& unit, uint64_t nowMs, const std::string& hex);
std::string SendBytes(UnitModel& unit, uint64_t nowMs, const std::vector<uint8_t>& bytes);

// One step of a transcript: at this time the host sends this, and the unit answers exactly
// that ("" for no answer).
struct Exchange {
    uint64_t atMs;
    const char* sent;
    const char* answered;
};
// Plays the steps against unit, reporting each step that differs (with its index).
void Play(UnitModel& unit, const std::vector<Exchange>& steps);

// A scenario from its text; fails the test when the text is refused.
UnitScenario Scenario(const std::string& text);

// The records of a whole firmware: count records of 19 data bytes (the last may be shorter),
// the first two data bytes being the version characters.
std::vector<std::vector<uint8_t>> FirmwareRecords(size_t count, uint8_t major, uint8_t minor);
