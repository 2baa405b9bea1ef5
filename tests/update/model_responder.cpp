#include "model_responder.h"

void AttachUnitModel(VirtualRun& run, UnitModel& unit) {
    run.respond = [&unit](uint64_t nowUs, const std::vector<uint8_t>& message,
                          std::vector<TimedReply>& out) {
        std::vector<UnitOutput> outputs;
        UnitReceive(unit, nowUs / 1000, message.data(), message.size(), outputs);
        for (const UnitOutput& output : outputs) {
            if (!output.shortMessage) {
                out.push_back({output.dueMs * 1000, output.bytes});
            }
        }
    };
    run.linkOpen = [&unit](uint64_t nowUs) { return !UnitUnplugged(unit, nowUs / 1000); };
}
