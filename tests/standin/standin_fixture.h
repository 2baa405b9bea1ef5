// What the stand-in tests share: the control API, a recording notification function, and
// bounded polling.
#pragma once
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sim/standin/sim_control.h"

// One notification as the client saw it, with the header's state at that moment.
struct Notification {
    UINT message;
    DWORD_PTR param1;
    DWORD thread;
    MIDIHDR* header; // for long data and long errors
    DWORD flags;
    std::vector<uint8_t> data;
};

struct Recorder {
    std::mutex mutex;
    std::vector<Notification> seen;
    bool rearm = false; // hand a returned, non-empty buffer straight back (as clients do)
    std::vector<MMRESULT> rearmResults;
};

void CALLBACK RecordNotification(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                 DWORD_PTR param2);

// Polls every millisecond until the condition holds; false after timeoutMs.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 3000);

class StandIn : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Configures, then starts a fresh transcript.
    void Configure(const char* scenario);
    std::string Transcript();
    // The event parts of all lines, in order, without time stamps.
    std::vector<std::string> Events();
    bool HasEvent(const std::string& event);
    bool WaitForEvent(const std::string& event) {
        return WaitUntil([&] { return HasEvent(event); });
    }

    // Opens the unit's pair with the recorder and two queued buffers of this size, started.
    void OpenUnitPair(DWORD bufferSize = 512);
    void CloseAll();
    void SendLong(const std::vector<uint8_t>& bytes);
    // The long notifications so far, one line each: "A data F0 2C 4D", "B error ...", with
    // any flags but prepared and done, and a delivery on the calling thread, spelled out.
    std::vector<std::string> LongSeen();

    SimApi api{};
    Recorder recorder;
    HMIDIOUT out = nullptr;
    HMIDIIN in = nullptr;
    char bufferA[1024] = {};
    char bufferB[1024] = {};
    MIDIHDR headerA{};
    MIDIHDR headerB{};
    MIDIHDR sendHeader{};
    std::vector<uint8_t> sendBytes;
};

extern const std::vector<uint8_t> kStatusRequest;
extern const std::vector<uint8_t> kRunningReply;
