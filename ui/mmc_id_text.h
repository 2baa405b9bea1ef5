// Reading an MMC ID typed into the settings field. Platform free, so it is tested natively.
#pragma once
#include <cstdint>

// The field is read with at most this many characters; a fourth one is ignored.
constexpr int MMC_ID_TEXT_READ = 4;

// The ID the text stands for, or current when the text does not name one: empty text, a
// character that is not a decimal digit among those used, a hundreds digit above 1, or a value
// above 126 (127 would ask the unit to report instead of set). text may be null (as empty).
uint8_t MmcIdFromText(const char* text, uint8_t current);
