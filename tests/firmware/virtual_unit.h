// The update worker's body in virtual time against a scripted unit: the clock moves only when
// the sequence pauses, and each answer reaches the real reply parser once it is due.
#pragma once
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "firmware/update_sequence.h"
#include "protocol/reply_parser.h"

struct Answer {
    uint8_t code; // 0: silence
    unsigned delayMs = 0;
    uint8_t major = '2', minor = '1'; // for 0x20 and 0x21
};
using Answers = std::vector<Answer>;

struct VirtualUnit {
    // Answers by request byte, one per receipt (for records: per sending, whichever record);
    // past the end of its list a request gets its normal answer after delayMs.
    std::map<uint8_t, Answers> script;
    unsigned delayMs = 0;
    uint64_t goneUs = UINT64_MAX; // when the link drops
    uint64_t tickUs = 0;          // a pause ends on a scheduler tick; 0: when its time is up
    bool earlyWake = true;        // an awaited reply ends a pause
    uint64_t nowUs = 0;
    DeviceState device;
    std::map<uint8_t, size_t> seen;
    std::multimap<uint64_t, std::vector<uint8_t>> pending; // by due time
    std::vector<uint8_t> sent;                             // every message, one after another
    std::vector<int> progress;
    std::string log; // statuses by their text, boxes as text/caption, "close", "done"

    static VirtualUnit& Of(void* c) { return *static_cast<VirtualUnit*>(c); }
    static void Log(void* c, const std::string& s) {
        Of(c).log += (Of(c).log.empty() ? "" : ", ") + s;
    }
    static uint8_t Code(void* c) { return LoadReplyCode(Of(c).device); }
    static void Deliver(VirtualUnit& u) {
        for (auto r = u.pending.begin(); r != u.pending.end() && r->first <= u.nowUs;) {
            ReplyParser(u.device, r->second.data(), r->second.size());
            r = u.pending.erase(r);
        }
    }
    static void Send(void* c, const uint8_t* bytes, size_t length) {
        VirtualUnit& u = Of(c);
        u.sent.insert(u.sent.end(), bytes, bytes + length);
        const uint8_t request = length > 4 ? bytes[3] : 0;
        const Answers& script = u.script[request];
        const size_t n = u.seen[request]++; // the normal answer's code is the request's plus 0x10
        const Answer a = n < script.size() ? script[n] : Answer{uint8_t(request + 0x10), u.delayMs};
        std::vector<uint8_t> reply = {0xF0, 0x2C, 0x4D, a.code, a.major, a.minor, 0xF7};
        reply.erase(reply.begin() + 4, reply.begin() + (a.code == 0x20 || a.code == 0x21 ? 4 : 6));
        if (a.code != 0) {
            u.pending.emplace(u.nowUs + a.delayMs * 1000ull, reply);
        }
        Deliver(u);
    }
    // Wakes at each answer due within the pause, and stays awake only for an awaited one.
    static void Wait(void* c, unsigned ms, uint8_t awaited, uint8_t alternative) {
        VirtualUnit& u = Of(c);
        const uint64_t tick = u.tickUs ? u.tickUs : 1;
        const uint64_t end = (u.nowUs + ms * 1000ull + tick - 1) / tick * tick;
        for (auto next = u.pending.begin();
             u.earlyWake && next != u.pending.end() && next->first < end;
             next = u.pending.begin()) {
            u.nowUs = next->first;
            Deliver(u);
            const uint8_t code = Code(c);
            if (code != 0 && (awaited == 0 || code == awaited || code == alternative)) {
                return;
            }
        }
        u.nowUs = end;
        Deliver(u);
    }
    static void Clear(void* c) { ClearReplyCode(Of(c).device); }
    static void Version(void* c, uint8_t v[2]) { std::copy_n(Of(c).device.FirmwareVersion, 2, v); }
    static bool Linked(void* c) { return Of(c).nowUs < Of(c).goneUs; }
    static void Status(void* c, int s) { Log(c, UpdateStatusText(s) ? UpdateStatusText(s) : "?"); }
    static void Progress(void* c, uint16_t percent) { Of(c).progress.push_back(percent); }
    static void Box(void* c, const char* text, const char* caption) {
        Log(c, text + std::string("/") + caption);
    }
    static void Close(void* c) { Log(c, "close"); }
    static void Done(void* c) { Log(c, "done"); }
};

inline int RunVirtualWorker(VirtualUnit& u, const FirmwareImage* image) {
    using U = VirtualUnit;
    const UpdateIo io = {&u,        U::Send,   U::Code,     U::Clear, U::Version, U::Wait,
                         U::Linked, U::Status, U::Progress, U::Box,   U::Close};
    return RunUpdateWorker(io, image, U::Done);
}
