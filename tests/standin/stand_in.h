// Driving the stand-in winmm.dll from a Wine test: its control functions, its transcript read
// as events; bounded polling and a clock.
#pragma once
#include <windows.h>
#include <sstream>
#include <string>
#include <vector>
#include "sim/standin/sim_control.h"

// Polls every millisecond until condition holds or boundMs have passed; whether it held.
template <typename Condition> bool WaitUntil(Condition condition, DWORD boundMs = 20000) {
    for (const ULONGLONG end = GetTickCount64() + boundMs; GetTickCount64() < end; Sleep(1)) {
        if (condition()) {
            return true;
        }
    }
    return condition();
}

// Milliseconds since start, a performance counter value.
inline double MsSince(LARGE_INTEGER start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart - start.QuadPart) * 1000 / double(frequency.QuadPart);
}

struct StandIn {
    SimApi api{};

    // Sets the scenario, with a fresh transcript; false if refused or not the stand-in.
    bool Configure(const char* scenario) {
        const bool set = (api.configure || SimLoadApi(&api) == 0) && api.configure(scenario) == 0;
        return set && (api.clearTranscript(), true);
    }
    // The events since the transcript was cleared that begin with prefix, without their times.
    std::vector<std::string> Events(const std::string& prefix = "") const {
        std::string text(static_cast<size_t>(api.readTranscript(nullptr, 0)) + 1, '\0');
        api.readTranscript(&text[0], static_cast<int>(text.size()));
        std::istringstream lines(text.c_str());
        std::vector<std::string> events;
        for (std::string line; std::getline(lines, line);) {
            line.erase(0, line.find(' ') + 1);
            if (line.compare(0, prefix.size(), prefix) == 0) {
                events.push_back(line);
            }
        }
        return events;
    }
    size_t CountOf(const std::string& prefix) const { return Events(prefix).size(); }
};
