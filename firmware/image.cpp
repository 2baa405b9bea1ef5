#include "firmware/image.h"

namespace {

const char kProductPrefix[] = "tavi ";
const char kMakerSignature[] = "(c)Quenbrook Signalwerkstatt KG";
constexpr size_t kPrefixLength = sizeof(kProductPrefix) - 1;
constexpr size_t kSignatureLength = sizeof(kMakerSignature) - 1;
constexpr uint8_t kTerminator = 0xFF;

// Compares text with the bytes at the cursor, advancing past each byte that matches.
bool MatchText(const FirmwareImage& image, ImageCursor& cursor, const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (cursor >= image.limit || *cursor != static_cast<uint8_t>(text[i])) {
            return false;
        }
        ++cursor;
    }
    return true;
}

} // namespace

FirmwareImage MakeFirmwareImage(const uint8_t* bytes, size_t size) {
    FirmwareImage image{bytes, bytes, bytes + size};
    while (image.end < image.limit && *image.end != kTerminator) {
        ++image.end;
    }
    return image;
}

int CheckImageHeader(const FirmwareImage& image, ImageCursor& cursor) {
    if (!MatchText(image, cursor, kProductPrefix, kPrefixLength)) {
        return -1;
    }
    // Version digits, build code and date between the two are informational only.
    cursor = image.start + IMAGE_SIGNATURE_OFFSET;
    if (!MatchText(image, cursor, kMakerSignature, kSignatureLength)) {
        return -1;
    }
    return 0;
}

int NextRecord(const FirmwareImage& image, ImageCursor& cursor, SysExMessage& record) {
    while (cursor < image.end && *cursor != SYSEX_START) {
        ++cursor;
    }
    if (cursor >= image.end) {
        return 0;
    }
    for (const uint8_t* p = cursor + 1; p < image.end; ++p) {
        if (*p == SYSEX_END) {
            record.bytes = cursor;
            record.length = static_cast<size_t>(p - cursor) + 1;
            return 1;
        }
    }
    return 0; // a record cut off by the image end is not sent
}
