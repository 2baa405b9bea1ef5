#include "scripted_unit.h"

namespace {

std::vector<uint8_t> ReplyBytes(const Answer& answer) {
    if (answer.code == REPLY_UPDATE_MODE || answer.code == REPLY_RUNNING) {
        return {0xF0, 0x2C, 0x4D, answer.code, answer.version[0], answer.version[1], 0xF7};
    }
    return {0xF0, 0x2C, 0x4D, answer.code, 0xF7};
}

Answer Pick(const std::vector<Answer>& script, unsigned seen, Answer normal) {
    return seen < script.size() ? script[seen] : normal;
}

} // namespace

Responder ScriptedResponder(ScriptedUnit& unit) {
    return
        [&unit](uint64_t nowUs, const std::vector<uint8_t>& message, std::vector<TimedReply>& out) {
            if (message.size() < 5) {
                return;
            }
            Answer answer = Silent();
            switch (message[3]) {
            case 0x10:
                answer = Pick(unit.status, unit.statusSeen++, Code(0x20));
                break;
            case 0x12:
                answer = Pick(unit.erase, unit.eraseSeen++, Code(0x22));
                break;
            case 0x50:
                answer = Pick(unit.finish, unit.finishSeen++, Code(0x60));
                break;
            case 0x30:
                if (message == unit.lastRecord) {
                    ++unit.recordSending;
                } else {
                    ++unit.recordNumber;
                    unit.recordSending = 0;
                    unit.lastRecord = message;
                }
                {
                    auto it = unit.records.find(static_cast<unsigned>(unit.recordNumber));
                    const std::vector<Answer> none;
                    answer = Pick(it == unit.records.end() ? none : it->second, unit.recordSending,
                                  Code(0x40));
                }
                break;
            default:
                return;
            }
            if (answer.code != 0) {
                out.push_back({nowUs + answer.delayMs * 1000, ReplyBytes(answer)});
            }
        };
}
