// Turns one received reply into the device state and settings sink calls.
#pragma once
#include <cstddef>
#include <cstdint>

#include "protocol/device_state.h"

// Parses count bytes of one received buffer. Never reads past count. A buffer without the
// full F0 2C 4D head, shorter than 5 bytes, or too short for the data bytes its reply code
// needs is ignored entirely. Returns 1 when it stored a reply code, 0 when it ignored the buffer.
int ReplyParser(DeviceState& state, const uint8_t* bytes, size_t count);
