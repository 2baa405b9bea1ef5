#include "scripted_unit.h"

namespace {

std::vector<uint8_t> ReplyBytes(const Answer& answer) {
    if (answer.code == REPLY_UPDATE_MODE || answer.code == REPLY_RUNNING) {
        return {0xF0, 0x2C, 0x4D, answer.code, answer.version[0], answer.version[1], 0xF7};
    }
    return {0xF0, 0x2C, 0x4D, answer.code, 0xF7};
}

// The scripted answer to the seen-th receipt, else the normal one at once.
Answer Pick(const std::vector<Answer>& script, unsigned seen, uint8_t normalCode) {
    return seen < script.size() ? script[seen] : Code(normalCode);
}

} // namespace

Responder ScriptedResponder(ScriptedUnit& unit) {
    return
        [&unit](uint64_t nowUs, const std::vector<uint8_t>& message, std::vector<TimedReply>& out) {
            Answer answer = Silent();
            const uint8_t request = message.size() < 5 ? 0 : message[3];
            if (request == 0x10) {
                answer = Pick(unit.status, unit.statusSeen++, 0x20);
            } else if (request == 0x12) {
                answer = Pick(unit.erase, unit.eraseSeen++, 0x22);
            } else if (request == 0x50) {
                answer = Pick(unit.finish, unit.finishSeen++, 0x60);
            } else if (request == 0x30) {
                // The same bytes again are another sending of the same record.
                unit.recordSending = message == unit.lastRecord ? unit.recordSending + 1 : 0;
                unit.recordNumber += message == unit.lastRecord ? 0 : 1;
                unit.lastRecord = message;
                const auto it = unit.records.find(static_cast<unsigned>(unit.recordNumber));
                answer = Pick(it == unit.records.end() ? std::vector<Answer>{} : it->second,
                              unit.recordSending, 0x40);
            }
            if (answer.code != 0) {
                out.push_back({nowUs + answer.delayMs * 1000, ReplyBytes(answer)});
            }
        };
}
