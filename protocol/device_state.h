// The small device state shared by the MIDI input thread (writer), the window thread and the
// update worker (readers). Single atomic bytes, no lock.
#pragma once
#include <atomic>
#include <cstdint>

#include "protocol/messages.h"

enum DeviceModeValue : uint8_t { Absent = 0, Normal = 1, Update = 2 };

// Where setting replies go. The window installs one whose operations post window messages,
// so the input thread never waits for the window thread.
struct SettingsSink {
    void* context;
    void (*OptionReported)(void* context, Option option, bool on);
    void (*MmcIdReported)(void* context, int id); // 0..126, or MMC_ID_NONE
    void (*BrightnessReported)(void* context, uint8_t level);
};
constexpr int MMC_ID_NONE = -1;

struct DeviceState {
    std::atomic<uint8_t> ReplyCode{0}; // last reply code; 0 = nothing since cleared
    std::atomic<uint8_t> DeviceMode{Absent};
    std::atomic<uint8_t> FirmwareVersion[2]{}; // major, minor characters
    std::atomic<const SettingsSink*> sink{nullptr};
};

// The one process-wide record.
extern DeviceState TheDevice;

// Acquire read of the reply code: whoever sees a code also sees the version stored with it.
inline uint8_t LoadReplyCode(const DeviceState& state) {
    return state.ReplyCode.load(std::memory_order_acquire);
}
// Acquire read of the mode: whoever sees Normal or Update also sees the version stored with it.
inline uint8_t LoadDeviceMode(const DeviceState& state) {
    return state.DeviceMode.load(std::memory_order_acquire);
}
inline void ClearReplyCode(DeviceState& state) {
    state.ReplyCode.store(0, std::memory_order_release);
}
inline void InstallSettingsSink(DeviceState& state, const SettingsSink* sink) {
    state.sink.store(sink, std::memory_order_release);
}
