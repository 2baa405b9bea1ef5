// Any resource bytes: finding the end, the header check and the whole record walk must stay
// inside the image, and every record handed out must be a complete F0 ... F7 span. Each input
// is tried twice: as a whole image, and as the body behind a valid header, so that the walk is
// reached without the fuzzer first having to discover the header.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "firmware/image.h"

namespace {

const char kHeader[] = "tavi 21-\x0F\x04\x01\x07-02.11.2012-(c)Quenbrook Signalwerkstatt KG\x0D";
constexpr size_t kHeaderLength = sizeof(kHeader) - 1;
static_assert(kHeaderLength == IMAGE_HEADER_LENGTH, "header length");

void Require(bool condition) {
    if (!condition) {
        abort();
    }
}

void Check(const uint8_t* data, size_t size) {
    const FirmwareImage image = MakeFirmwareImage(data, size);
    Require(image.start == data && image.limit == data + size);
    Require(image.start <= image.end && image.end <= image.limit);
    Require(image.end == image.limit || *image.end == 0xFF);
    Require(std::memchr(data, 0xFF, static_cast<size_t>(image.end - image.start)) == nullptr);

    ImageCursor cursor = image.start;
    if (CheckImageHeader(image, cursor) != 0) {
        return;
    }
    Require(cursor == image.start + 55);
    Require(std::memcmp(data, "tavi ", 5) == 0);

    SysExMessage record{};
    size_t records = 0;
    while (NextRecord(image, cursor, record) == 1) {
        Require(record.bytes == cursor);
        Require(record.bytes >= image.start && record.length >= 2 &&
                record.bytes + record.length <= image.end);
        Require(record.bytes[0] == 0xF0 && record.bytes[record.length - 1] == 0xF7);
        Require(std::memchr(record.bytes, 0xF7, record.length - 1) == nullptr);
        cursor += record.length;
        Require(++records <= size / 2);
    }
    Require(cursor <= image.end || records == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Check(data, size);
    std::vector<uint8_t> withHeader(kHeader, kHeader + kHeaderLength);
    withHeader.insert(withHeader.end(), data, data + size);
    // Exactly sized heap copy: a read past the resource is an ASan report.
    withHeader.shrink_to_fit();
    Check(withHeader.data(), withHeader.size());
    return 0;
}
