// Walks an image the way the update sequence does: header check, then each record in turn,
// the cursor moved past a record only after it is "accepted".
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "firmware/image.h"

struct RecordSpan {
    size_t offset; // from the image start
    size_t length;
    bool operator==(const RecordSpan& other) const {
        return offset == other.offset && length == other.length;
    }
};

struct WalkResult {
    int header;                      // CheckImageHeader's result
    std::vector<RecordSpan> records; // empty when the header failed
    size_t stoppedAt;                // cursor offset when NextRecord found no further record
};

inline WalkResult WalkImage(const uint8_t* bytes, size_t size) {
    const FirmwareImage image = MakeFirmwareImage(bytes, size);
    ImageCursor cursor = image.start;
    WalkResult result{CheckImageHeader(image, cursor), {}, 0};
    if (result.header != 0) {
        return result;
    }
    SysExMessage record{};
    while (NextRecord(image, cursor, record) == 1) {
        result.records.push_back({static_cast<size_t>(record.bytes - image.start), record.length});
        cursor += record.length;
    }
    result.stoppedAt = static_cast<size_t>(cursor - image.start);
    return result;
}
