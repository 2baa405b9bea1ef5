#include "virtual_run.h"

#include <algorithm>

#include "protocol/reply_parser.h"

namespace {

VirtualRun& Run(void* context) {
    return *static_cast<VirtualRun*>(context);
}

bool LinkUp(const VirtualRun& run) {
    return !run.linkOpen || run.linkOpen(run.nowUs);
}

// Stores every reply due by now, earliest first, as the input thread would have.
void Deliver(VirtualRun& run) {
    std::stable_sort(run.pending.begin(), run.pending.end(),
                     [](const TimedReply& a, const TimedReply& b) { return a.dueUs < b.dueUs; });
    size_t taken = 0;
    while (taken < run.pending.size() && run.pending[taken].dueUs <= run.nowUs) {
        const std::vector<uint8_t>& bytes = run.pending[taken].bytes;
        // A reply due after the unit vanished never arrives. Like the receive path, hand the
        // parser only what fits one 512-byte buffer and ends in F7.
        const bool arrives = !run.linkOpen || run.linkOpen(run.pending[taken].dueUs);
        if (arrives && !bytes.empty() && bytes.size() <= 512 && bytes.back() == 0xF7) {
            ReplyParser(run.device, bytes.data(), bytes.size());
        }
        ++taken;
    }
    run.pending.erase(run.pending.begin(), run.pending.begin() + static_cast<long>(taken));
}

uint64_t EarliestDue(const VirtualRun& run) {
    uint64_t earliest = UINT64_MAX;
    for (const TimedReply& reply : run.pending) {
        earliest = std::min(earliest, reply.dueUs);
    }
    return earliest;
}

void Send(void* context, const uint8_t* bytes, size_t length) {
    VirtualRun& run = Run(context);
    std::vector<uint8_t> message(bytes, bytes + length);
    run.sends.push_back({message, run.nowUs});
    if (LinkUp(run) && run.respond) {
        run.respond(run.nowUs, message, run.pending);
    }
    Deliver(run);
}

bool Awaited(const VirtualRun& run, uint8_t awaited, uint8_t alternative) {
    const uint8_t code = LoadReplyCode(run.device);
    return code != 0 && (awaited == 0 || code == awaited || code == alternative);
}

// Wakes at each reply due within the pause, and stays awake only for an awaited one.
void WaitForReply(void* context, unsigned ms, uint8_t awaited, uint8_t alternative) {
    VirtualRun& run = Run(context);
    uint64_t end = run.nowUs + uint64_t{ms} * 1000;
    if (run.tickUs != 0) {
        // A sleeping thread wakes only on a scheduler tick.
        end = (end + run.tickUs - 1) / run.tickUs * run.tickUs;
    }
    for (;;) {
        const uint64_t due = EarliestDue(run);
        if (!run.earlyWake || due <= run.nowUs || due >= end) {
            break;
        }
        run.nowUs = due;
        Deliver(run);
        if (Awaited(run, awaited, alternative)) {
            return;
        }
    }
    run.nowUs = end;
    Deliver(run);
}

void Record(void* context, EventKind kind, int value, const char* text = "",
            const char* caption = "") {
    VirtualRun& run = Run(context);
    run.events.push_back({kind, value, text, caption, run.nowUs});
}

} // namespace

// The simple entries need no more than a line each.
UpdateIo VirtualIo(VirtualRun& run) {
    return UpdateIo{&run,
                    Send,
                    [](void* c) { return LoadReplyCode(Run(c).device); },
                    [](void* c) { ClearReplyCode(Run(c).device); },
                    [](void* c, uint8_t version[2]) {
                        version[0] = Run(c).device.FirmwareVersion[0].load();
                        version[1] = Run(c).device.FirmwareVersion[1].load();
                    },
                    WaitForReply,
                    [](void* c) { return LinkUp(Run(c)); },
                    [](void* c, int status) { Record(c, EventKind::Status, status); },
                    [](void* c, uint16_t percent) { Record(c, EventKind::Progress, percent); },
                    [](void* c, const char* text, const char* caption) {
                        Record(c, EventKind::Message, 0, text, caption);
                    },
                    [](void* c) { Record(c, EventKind::Close, 0); }};
}

int RunVirtualWorker(VirtualRun& run, const FirmwareImage* image) {
    return RunUpdateWorker(VirtualIo(run), image, [](void* c) { Record(c, EventKind::Done, 0); });
}

std::vector<std::string> Summary(const std::vector<UpdateEvent>& events) {
    std::vector<std::string> lines;
    for (const UpdateEvent& e : events) {
        if (e.kind == EventKind::Status) {
            lines.push_back(StatusLine(e.value));
        } else if (e.kind != EventKind::Progress) {
            lines.push_back(e.kind == EventKind::Message ? e.text + "/" + e.caption
                            : e.kind == EventKind::Close ? "close"
                                                         : "done");
        }
    }
    return lines;
}

std::string StatusLine(int status) {
    return "status " + std::to_string(status);
}

std::vector<std::string> SucceededRun() {
    return {StatusLine(UPDATE_PREPARING), StatusLine(UPDATE_ERASING), StatusLine(UPDATE_WRITING),
            StatusLine(UPDATE_SUCCEEDED), "done"};
}

std::vector<std::string> FailedRun(std::vector<std::string> head) {
    for (const char* line : {"Programming failed/Warning", "close", "done"}) {
        head.push_back(line);
    }
    return head;
}

std::vector<int> ProgressValues(const std::vector<UpdateEvent>& events) {
    std::vector<int> values;
    for (const UpdateEvent& e : events) {
        if (e.kind == EventKind::Progress) {
            values.push_back(e.value);
        }
    }
    return values;
}

uint64_t StatusAtUs(const std::vector<UpdateEvent>& events, int status) {
    for (const UpdateEvent& e : events) {
        if (e.kind == EventKind::Status && e.value == status) {
            return e.atUs;
        }
    }
    return UINT64_MAX;
}

size_t CountSends(const VirtualRun& run, const std::vector<uint8_t>& bytes) {
    return static_cast<size_t>(
        std::count_if(run.sends.begin(), run.sends.end(),
                      [&](const SentMessage& s) { return s.bytes == bytes; }));
}
