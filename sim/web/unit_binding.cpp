// The unit model as the simulated Web MIDI in the browser sees it: C functions over one unit.
// Times are the page's milliseconds (performance.now()), rounded down.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/unit_model.h"

namespace {
UnitModel unit;
std::vector<UnitOutput> replies; // what the unit sends back, in order, until taken
} // namespace

extern "C" {

// Plugs a unit in with the scenario text: 0, or -1 when the text is not understood.
EMSCRIPTEN_KEEPALIVE int SimPlugIn(const char* text, double nowMs) {
    UnitScenario scenario;
    std::string error;
    if (ParseScenario(text, scenario, error) != 0) {
        return -1;
    }
    UnitPlugIn(unit, scenario, uint64_t(nowMs));
    replies.clear();
    return 0;
}

// One message from the page; a long one starts with F0, anything else is short.
EMSCRIPTEN_KEEPALIVE void SimReceive(double nowMs, const uint8_t* bytes, int length) {
    if (length > 0 && bytes[0] == 0xF0) {
        UnitReceive(unit, uint64_t(nowMs), bytes, size_t(length), replies);
    } else {
        UnitReceiveShort(unit, uint64_t(nowMs), bytes, size_t(length));
    }
}

// The replies not yet taken: their count, then each one's due time, length and bytes.
EMSCRIPTEN_KEEPALIVE int SimReplies() {
    return int(replies.size());
}
EMSCRIPTEN_KEEPALIVE double SimReplyDue(int i) {
    return double(replies[size_t(i)].dueMs);
}
EMSCRIPTEN_KEEPALIVE int SimReplyLength(int i) {
    return int(replies[size_t(i)].bytes.size());
}
EMSCRIPTEN_KEEPALIVE const uint8_t* SimReplyBytes(int i) {
    return replies[size_t(i)].bytes.data();
}
EMSCRIPTEN_KEEPALIVE void SimTakeReplies() {
    replies.clear();
}

// 1 once the unit has gone by its scenario; when it will go by its clock (-1: never).
EMSCRIPTEN_KEEPALIVE int SimUnplugged(double nowMs) {
    return UnitUnplugged(unit, uint64_t(nowMs));
}
EMSCRIPTEN_KEEPALIVE double SimUnplugAt() {
    return unit.unplugAtMs == UINT64_MAX ? -1 : double(unit.unplugAtMs);
}
}
