#include "tests/settings/recording_link.h"

#include <windows.h>

#include <cstdio>

#include "midi/port_link.h"

namespace {

std::vector<SentMessage> Recorded;

double NowMs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

} // namespace

void SendSysEx(const uint8_t* bytes, size_t length) {
    std::string hex;
    for (size_t i = 0; i < length; ++i) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        if (i > 0) {
            hex += ' ';
        }
        hex += two;
    }
    Recorded.push_back({NowMs(), hex});
}

const std::vector<SentMessage>& Sent() {
    return Recorded;
}

void ClearSent() {
    Recorded.clear();
}

std::vector<std::string> SentBytes() {
    std::vector<std::string> texts;
    for (const SentMessage& m : Recorded) {
        texts.push_back(m.bytes);
    }
    return texts;
}
