// Stands in for the port link in the in-process settings tests: SendSysEx records every
// message with the time it was handed over, so the tests see exactly what the controls sent.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct SentMessage {
    double ms;         // milliseconds on a monotonic clock when SendSysEx was called
    std::string bytes; // upper-case hex, single spaces: "F0 2C 4D 53 05 F7"
};

// Everything sent since the last ClearSent, oldest first. Window thread only.
const std::vector<SentMessage>& Sent();
void ClearSent();

// The hex texts alone, for comparing with a literal list.
std::vector<std::string> SentBytes();
