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

void SimConfigureError(char* buffer, int size) {
    EnsureStandIn();
    Locked hold;
    CopyOut(g.configureError, buffer, size);
}

void SimUnplug(void) {
    EnsureStandIn();
    Locked hold;
    UnplugUnit(g.units[0]);
}

void SimPlugIn(void) {
    EnsureStandIn();
    Locked hold;
    UnplugUnit(g.units[0]);
    PlugInUnit(g.units[0]);
}

int SimReplugWithScenario(const char* scenarioText) {
    EnsureStandIn();
    Locked hold;
    UnplugUnit(g.units[0]);
    return ApplyScenario(scenarioText ? scenarioText : "");
}

int SimSetTranscriptPath(const char* path) {
    EnsureStandIn();
    EnterCriticalSection(&g.fileLock);
    int result = 0;
    {
        Locked hold;
        result = SetTranscriptPath(path);
    }
    LeaveCriticalSection(&g.fileLock);
    return result;
}

const char* SimTranscriptPath(void) {
    EnsureStandIn();
    Locked hold;
    return g.transcriptPath.c_str();
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

int SimUnitSnapshot(SimUnitView* view) {
    EnsureStandIn();
    if (!view)
        return -1;
    Locked hold;
    *view = SimUnitView{};
    const SimUnit& unit = g.units[0];
    view->present = unit.gone ? 0 : 1;
    view->updateMode = unit.model.updateMode ? 1 : 0;
    view->version[0] = unit.model.version[0];
    view->version[1] = unit.model.version[1];
    view->erased = unit.model.erased ? 1 : 0;
    view->recordsAccepted = unit.model.recordsAccepted;
    view->flashBytes = static_cast<unsigned>(unit.model.flash.size());
    memcpy(view->settings, unit.model.settings.options, 4);
    view->settings[4] = unit.model.settings.mmcId;
    view->settings[5] = unit.model.settings.brightness;
    view->messagesReceived = unit.messagesReceived;
    return 0;
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
