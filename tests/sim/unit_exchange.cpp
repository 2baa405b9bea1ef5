#include "unit_exchange.h"

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> bytes;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        unsigned value = 0;
        int used = 0;
        if (std::sscanf(text.c_str() + i, "%2x%n", &value, &used) != 1 || used != 2) {
            std::fprintf(stderr, "bad hex in test table: \"%s\"\n", text.c_str());
            std::abort();
        }
        bytes.push_back(static_cast<uint8_t>(value));
        i += 2;
    }
    return bytes;
}

std::string HexText(const std::vector<uint8_t>& bytes) {
    std::string text;
    char two[4];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        if (!text.empty())
            text += ' ';
        text += two;
    }
    return text;
}

std::string Outputs(const std::vector<UnitOutput>& out, uint64_t sentAtMs) {
    std::string text;
    for (const UnitOutput& o : out) {
        if (!text.empty())
            text += " | ";
        if (o.dueMs != sentAtMs)
            text += "+" + std::to_string(static_cast<long long>(o.dueMs - sentAtMs)) + " ";
        if (o.shortMessage)
            text += "short ";
        text += HexText(o.bytes);
    }
    return text;
}

std::string SendBytes(UnitModel& unit, uint64_t nowMs, const std::vector<uint8_t>& bytes) {
    std::vector<UnitOutput> out;
    UnitReceive(unit, nowMs, bytes.data(), bytes.size(), out);
    return Outputs(out, nowMs);
}

std::string Send(UnitModel& unit, uint64_t nowMs, const std::string& hex) {
    return SendBytes(unit, nowMs, Hex(hex));
}

void Play(UnitModel& unit, const std::vector<Exchange>& steps) {
    for (size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(steps[i].answered, Send(unit, steps[i].atMs, steps[i].sent))
            << "step " << i << " at " << steps[i].atMs << " ms: sent " << steps[i].sent;
}

UnitScenario Scenario(const std::string& text) {
    UnitScenario scenario;
    std::string error;
    EXPECT_EQ(0, ParseScenario(text, scenario, error)) << error;
    return scenario;
}

std::vector<std::vector<uint8_t>> FirmwareRecords(size_t count, uint8_t major, uint8_t minor) {
    std::vector<std::vector<uint8_t>> records(count);
    uint32_t address = 0;
    for (size_t r = 0; r < count; ++r) {
        uint8_t data[RECORD_DATA_MAX];
        const size_t n = r + 1 == count ? 7 : RECORD_DATA_MAX;
        for (size_t i = 0; i < n; ++i)
            data[i] = static_cast<uint8_t>((address + i) * 37 % 128);
        if (r == 0) {
            data[0] = major;
            data[1] = minor;
        }
        if (MakeDataRecord(address, data, n, records[r]) != 0)
            std::abort();
        address += static_cast<uint32_t>(n);
    }
    return records;
}
