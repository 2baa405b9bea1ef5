// Exchanges with the unit model written as literal bytes: what the host sends, and everything
// the unit answers, as text ("F0 2C 4D 21 32 31 F7").
#pragma once
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/unit_model.h"

// "F0 2C 4D 10 F7" -> bytes. Aborts on a typo, so a table cannot go wrong silently.
inline std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += 3) {
        unsigned value = 0;
        int used = 0;
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
            std::sscanf(text.c_str() + i, "%2x%n", &value, &used) != 1 || used != 2 ||
            (i + 2 < text.size() && text[i + 2] != ' ')) {
            std::fprintf(stderr, "bad hex in test table: \"%s\"\n", text.c_str());
            std::abort();
        }
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return bytes;
}

inline std::string HexText(const std::vector<uint8_t>& bytes) {
    std::string text;
    char two[4];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, text.empty() ? "%02X" : " %02X", b);
        text += two;
    }
    return text;
}

// What the unit sent, joined by " | ". An output due later than sentAtMs is prefixed "+N "
// (N ms later); a short message is prefixed "short ".
inline std::string Outputs(const std::vector<UnitOutput>& out, uint64_t sentAtMs) {
    std::string text;
    for (const UnitOutput& o : out) {
        text += text.empty() ? "" : " | ";
        if (o.dueMs != sentAtMs)
            text += "+" + std::to_string(static_cast<long long>(o.dueMs - sentAtMs)) + " ";
        text += (o.shortMessage ? "short " : "") + HexText(o.bytes);
    }
    return text;
}

// Sends bytes at nowMs and returns the answers in the form above.
inline std::string SendBytes(UnitModel& unit, uint64_t nowMs, const std::vector<uint8_t>& bytes) {
    std::vector<UnitOutput> out;
    UnitReceive(unit, nowMs, bytes.data(), bytes.size(), out);
    return Outputs(out, nowMs);
}
inline std::string Send(UnitModel& unit, uint64_t nowMs, const std::string& hex) {
    return SendBytes(unit, nowMs, Hex(hex));
}

// One step of a transcript: at this time the host sends this, and the unit answers exactly
// that ("" for no answer). Play reports each step that differs.
struct Exchange {
    uint64_t atMs;
    const char* sent;
    const char* answered;
};
inline void Play(UnitModel& unit, const std::vector<Exchange>& steps) {
    for (size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(steps[i].answered, Send(unit, steps[i].atMs, steps[i].sent))
            << "step " << i << " at " << steps[i].atMs << " ms: sent " << steps[i].sent;
}

// A unit plugged in at atMs with the scenario of this text; fails the test when it is refused.
inline UnitModel PluggedIn(const std::string& scenario, uint64_t atMs = 0) {
    UnitScenario parsed;
    std::string error;
    EXPECT_EQ(0, ParseScenario(scenario, parsed, error)) << error;
    UnitModel unit;
    UnitPlugIn(unit, parsed, atMs);
    return unit;
}

// The records of a whole firmware: count records of 19 data bytes (the last holds 7), the
// first two data bytes being the version characters.
inline std::vector<std::vector<uint8_t>> FirmwareRecords(size_t count, uint8_t major,
                                                         uint8_t minor) {
    std::vector<std::vector<uint8_t>> records(count);
    uint32_t address = 0;
    for (size_t r = 0; r < count; ++r) {
        uint8_t data[RECORD_DATA_MAX];
        const size_t n = r + 1 == count ? 7 : RECORD_DATA_MAX;
        for (size_t i = 0; i < n; ++i)
            data[i] = static_cast<uint8_t>((address + i) * 37 % 128);
        data[0] = r == 0 ? major : data[0];
        data[1] = r == 0 ? minor : data[1];
        if (MakeDataRecord(address, data, n, records[r]) != 0)
            std::abort();
        address += static_cast<uint32_t>(n);
    }
    return records;
}
