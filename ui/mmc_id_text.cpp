#include "ui/mmc_id_text.h"

#include "protocol/messages.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

uint8_t MmcIdFromText(const char* text, uint8_t current) {
    if (!text) {
        return current;
    }
    int length = 0;
    while (length < MMC_ID_TEXT_READ && text[length] != '\0') {
        ++length;
    }
    // Three digits make the ID; a fourth (the field may hold one more) is left unread.
    const int used = length > 3 ? 3 : length;
    if (used == 0) {
        return current;
    }
    int value = 0;
    for (int i = 0; i < used; ++i) {
        if (!IsDigit(text[i])) {
            return current;
        }
        value = value * 10 + (text[i] - '0');
    }
    if (used == 3 && text[0] > '1') {
        return current;
    }
    return value <= MMC_ID_MAX ? static_cast<uint8_t>(value) : current;
}
