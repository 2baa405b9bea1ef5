// The functions tests call to steer the simulated unit (declared in sim_control.h).
#include "sim/standin/sim_control.h"
#include "sim/standin/standin.h"

#include <cstring>

namespace {

void CopyOut(const std::string& text, char* buffer, int size) {
    if (!buffer || size <= 0)
        return;
    size_t n = text.size() < static_cast<size_t>(size - 1) ? text.size() : size - 1;
    memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

} // namespace

extern "C" {

int SimConfigure(const char* scenarioText) {
    EnsureStandIn();
    Locked hold;
    return ApplyScenario(scenarioText ? scenarioText : "");
}

void SimUnplug(void) {
    EnsureStandIn();
    Locked hold;
    UnplugUnit(g.units[0]);
}

int SimReadTranscript(char* buffer, int size) {
    EnsureStandIn();
    FlushTranscript(); // a test may compare the file with what it reads here
    Locked hold;
    CopyOut(g.transcript, buffer, size);
    return static_cast<int>(g.transcript.size());
}

void SimClearTranscript(void) {
    EnsureStandIn();
    FlushTranscript();
    Locked hold;
    g.transcript.clear();
}

int SimInject(const unsigned char* bytes, int length, int isShort) {
    EnsureStandIn();
    if (!bytes || length <= 0 || (isShort && length > 3))
        return -1;
    Locked hold;
    if (g.units[0].gone)
        return -1;
    const int64_t now = NowTicks();
    UnitOutput output{NowMs(), isShort != 0, std::vector<uint8_t>(bytes, bytes + length)};
    // Due now: after everything already due, before anything due later.
    auto at = g.replies.begin();
    while (at != g.replies.end() && at->dueTicks <= now)
        ++at;
    g.replies.insert(at, DueReply{now, std::move(output)});
    WakeDriver();
    return 0;
}

} // extern "C"
