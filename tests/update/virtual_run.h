// Runs the update sequence in virtual time: the UpdateIo below advances a clock instead of
// sleeping, hands every message to a responder (the unit model or a scripted unit), delivers
// the answers at their due time through the real ReplyParser into a DeviceState of its own, and
// records everything the sequence sends, posts and shows.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "firmware/update_sequence.h"
#include "protocol/device_state.h"

struct TimedReply {
    uint64_t dueUs;
    std::vector<uint8_t> bytes;
};

// The unit's side: receives one message at nowUs, appends its answers.
using Responder = std::function<void(uint64_t nowUs, const std::vector<uint8_t>& message,
                                     std::vector<TimedReply>& out)>;
// False once the unit is gone (the ports with it).
using LinkProbe = std::function<bool(uint64_t nowUs)>;

enum class EventKind { Status, Progress, Message, Close, Done };

struct UpdateEvent {
    EventKind kind;
    int value;           // status code or percentage
    std::string text;    // message box text
    std::string caption; // message box caption
    uint64_t atUs;
};

struct SentMessage {
    std::vector<uint8_t> bytes;
    uint64_t atUs;
};

struct VirtualRun {
    Responder respond;
    LinkProbe linkOpen;    // empty: the link never goes
    uint64_t tickUs = 0;   // 0: a pause lasts exactly its length; else it ends on a tick
    bool earlyWake = true; // a pause ends as soon as a reply is stored
    uint64_t nowUs = 0;
    DeviceState device;
    std::vector<TimedReply> pending;
    std::vector<SentMessage> sends;
    std::vector<UpdateEvent> events;
};

// The io record bound to run.
UpdateIo VirtualIo(VirtualRun& run);

// The worker's body in virtual time: the sequence, the failure report and Done.
int RunVirtualWorker(VirtualRun& run, const FirmwareImage* image);

// Reading a run's events: statuses as "status N", boxes as "text/caption", then "close" and
// "done"; progress left out (ProgressValues has it).
std::vector<std::string> Summary(const std::vector<UpdateEvent>& events);
std::vector<int> ProgressValues(const std::vector<UpdateEvent>& events);
// Summary lines: one status; a whole successful run; a run failed after head.
std::string StatusLine(int status);
std::vector<std::string> SucceededRun();
std::vector<std::string> FailedRun(std::vector<std::string> head);
// When status was first posted, or UINT64_MAX.
uint64_t StatusAtUs(const std::vector<UpdateEvent>& events, int status);
size_t CountSends(const VirtualRun& run, const std::vector<uint8_t>& bytes);
