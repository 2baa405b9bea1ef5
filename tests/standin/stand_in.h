// Driving the stand-in winmm.dll from a Wine test: its control functions, its transcript read
// as events; bounded polling and a clock.
#pragma once
#include <windows.h>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>
#include "sim/standin/sim_control.h"

// Polls every pollMs until condition holds or boundMs have passed; whether it held.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD boundMs = 20000, DWORD pollMs = 1) {
    for (const ULONGLONG end = GetTickCount64() + boundMs; GetTickCount64() < end; Sleep(pollMs)) {
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

// A transcript's events that begin with prefix, with their times in ms. A line still being
// written (no end of line yet) is left for the next read.
using TimedEvents = std::vector<std::pair<double, std::string>>;
inline TimedEvents ParseTranscript(const std::string& text, const std::string& prefix = "") {
    TimedEvents events;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string line = text.substr(at, end - at);
        line.erase(line.find_last_not_of('\r') + 1);
        const std::string event = line.substr(line.find(' ') + 1);
        if (event.compare(0, prefix.size(), prefix) == 0) {
            events.emplace_back(std::atof(line.c_str()), event);
        }
    }
    return events;
}

struct StandIn {
    SimApi api{};

    // Sets the scenario, with a fresh transcript; false if refused or not the stand-in.
    bool Configure(const char* scenario) {
        const bool set = (api.configure || SimLoadApi(&api) == 0) && api.configure(scenario) == 0;
        return set && (api.clearTranscript(), true);
    }
    // The events since the transcript was cleared that begin with prefix, with their times.
    TimedEvents Timed(const std::string& prefix = "") const {
        std::string text(static_cast<size_t>(api.readTranscript(nullptr, 0)) + 1, '\0');
        api.readTranscript(&text[0], static_cast<int>(text.size()));
        return ParseTranscript(text.c_str(), prefix);
    }
    // The same without their times.
    std::vector<std::string> Events(const std::string& prefix = "") const {
        const TimedEvents timed = Timed(prefix);
        std::vector<std::string> events(timed.size());
        std::transform(timed.begin(), timed.end(), events.begin(),
                       [](auto& t) { return t.second; });
        return events;
    }
    size_t CountOf(const std::string& prefix) const { return Events(prefix).size(); }
};
