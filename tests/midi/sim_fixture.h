// What the port link tests share: the stand-in's control functions, a clean link and device
// state for every test, transcript reading and bounded polling.
#pragma once
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "midi/port_link.h"
#include "protocol/device_state.h"
#include "sim/standin/sim_control.h"

const uint8_t kStatusRequest[] = {0xF0, 0x2C, 0x4D, 0x10, 0xF7};

// Polls condition every millisecond until it holds or boundMs have passed. True if it held.
template <typename Condition> bool WaitUntil(Condition condition, DWORD boundMs = 3000) {
    const ULONGLONG start = GetTickCount64();
    while (!condition()) {
        if (GetTickCount64() - start > boundMs) {
            return condition();
        }
        Sleep(1);
    }
    return true;
}

class PortLinkTest : public ::testing::Test {
  protected:
    SimApi sim{};

    void SetUp() override {
        ASSERT_EQ(SimLoadApi(&sim), 0) << "the stand-in winmm.dll is not the one loaded";
        TearDown();
        TheDevice.ReplyCode.store(0);
        TheDevice.DeviceMode.store(Absent);
        TheDevice.FirmwareVersion[0].store(0);
        TheDevice.FirmwareVersion[1].store(0);
        ResetEvent(ReplyStoredEvent());
    }
    void TearDown() override {
        CloseInputPort();
        CloseOutputPort();
    }

    // Configures the stand-in and starts a fresh transcript.
    void Configure(const char* scenario) {
        char error[256] = {};
        const int result = sim.configure(scenario);
        if (result != 0) {
            sim.configureError(error, sizeof error);
        }
        ASSERT_EQ(result, 0) << scenario << ": " << error;
        sim.clearTranscript();
    }

    // The stand-in's default ports are Other|tavi and Other|tavi MIDI In: the unit's pair is
    // output 1 and input 1.
    void OpenUnitPorts() {
        ASSERT_EQ(OpenOutputPort(1), 0);
        ASSERT_EQ(OpenInputPort(1), 0);
        ASSERT_TRUE(PortsOpen());
    }

    // The transcript's events since the last clear, without their times; all in one text.
    std::vector<std::string> Events() {
        std::string text(static_cast<size_t>(sim.readTranscript(nullptr, 0)) + 1, '\0');
        sim.readTranscript(&text[0], static_cast<int>(text.size()));
        std::vector<std::string> events;
        for (size_t begin = 0, end; begin < text.size() && text[begin] != '\0'; begin = end + 1) {
            end = std::min(text.find('\n', begin), text.find('\0', begin));
            const std::string line = text.substr(begin, end - begin);
            events.push_back(line.substr(line.find(' ') + 1));
        }
        return events;
    }
    std::string Transcript() {
        std::string all;
        for (const std::string& event : Events()) {
            all += event + "\n";
        }
        return all;
    }
    // Position of the first event that begins with prefix, or -1; how many do.
    int IndexOf(const std::string& prefix) {
        const std::vector<std::string> events = Events();
        for (size_t i = 0; i < events.size(); ++i) {
            if (events[i].compare(0, prefix.size(), prefix) == 0) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    int CountOf(const std::string& prefix) {
        int count = 0;
        for (const std::string& event : Events()) {
            count += event.compare(0, prefix.size(), prefix) == 0;
        }
        return count;
    }

    // The unit sends these bytes now.
    void Inject(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(sim.inject(bytes.data(), static_cast<int>(bytes.size()), 0), 0);
    }
};
