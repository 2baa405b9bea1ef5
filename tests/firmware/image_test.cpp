// Header check and record walk on small hand-made images, and the shape of the committed
// stand-in image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "firmware/image.h"

extern const uint8_t kStandInImage[];
extern const size_t kStandInImageSize;

namespace {

using Bytes = std::vector<uint8_t>;

using RecordSpan = std::pair<size_t, size_t>; // offset from the image start, length

struct WalkResult {
    int header; // CheckImageHeader's result
    std::vector<RecordSpan> records;
    size_t stoppedAt; // cursor offset when NextRecord found no further record
};

// Walks an image the way the update does: the cursor moves past a record once it is "accepted".
WalkResult WalkImage(const uint8_t* bytes, size_t size) {
    const FirmwareImage image = MakeFirmwareImage(bytes, size);
    ImageCursor cursor = image.start;
    WalkResult result{CheckImageHeader(image, cursor), {}, 0};
    SysExMessage record{};
    while (result.header == 0 && NextRecord(image, cursor, record) == 1) {
        result.records.push_back({static_cast<size_t>(record.bytes - image.start), record.length});
        cursor += record.length;
    }
    result.stoppedAt = result.header == 0 ? static_cast<size_t>(cursor - image.start) : 0;
    return result;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

const Bytes kCr = {0x0D};
const Bytes kEnd = {0xFF};
const Bytes kRecordA = {0xF0, 0x2C, 0x4D, 0x30, 0x01, 0x02, 0xF7};
const Bytes kRecordB = {0xF0, 0x2C, 0x4D, 0x30, 0x03, 0x04, 0x05, 0xF7};

const char* const kSignature = "(c)Quenbrook Signalwerkstatt KG";

// Bytes 5..23 are never examined, so anything but 0xFF (which would end the image) goes there.
Bytes Header(const char* prefix = "tavi ", const char* signature = kSignature) {
    const Bytes anyMiddle = {'9', '9', 0x00, 0x7F, 0xF0, 0xF7, 0x80, 'x', 'x', 'x',
                             'x', 'x', 'x',  'x',  'x',  'x',  'x',  'x', 'x'};
    return Join({Text(prefix), anyMiddle, Text(signature), kCr});
}

TEST(ImageWalk, ChecksTheHeaderThenFindsEachRecordFromF0ThroughF7) {
    struct Case {
        Bytes bytes;
        int header;
        std::vector<RecordSpan> records;
        size_t stoppedAt;
    };
    const Bytes header = Header();
    const Bytes junk = {0x0A, 0x41, 0x00, 0x7F, 0xF7};
    const Bytes cutRecord = {0xF0, 0x2C, 0x4D, 0x30, 0x01};
    const Case cases[] = {
        // header only
        {Join({header, kEnd}), 0, {}, 56},
        // byte 4 not a space; first byte differs
        {Join({Header("tavi_"), kEnd}), -1, {}, 0},
        {Join({Header("Tavi "), kEnd}), -1, {}, 0},
        // the signature differs in its last character; in its first
        {Join({Header("tavi ", "(c)Quenbrook Signalwerkstatt KH"), kEnd}), -1, {}, 0},
        {Join({Header("tavi ", "[c)Quenbrook Signalwerkstatt KG"), kEnd}), -1, {}, 0},
        // the resource ends inside the signature; inside the prefix; at once
        {Bytes(header.begin(), header.begin() + 40), -1, {}, 0},
        {Text("tav"), -1, {}, 0},
        {{}, -1, {}, 0},
        // two records
        {Join({header, kRecordA, kCr, kRecordB, kCr, kEnd}), 0, {{56, 7}, {64, 8}}, 73},
        // junk between records is skipped like 0x0D
        {Join({header, kRecordA, junk, kRecordB, kEnd}), 0, {{56, 7}, {68, 8}}, 76},
        // a record without F7 ends the walk
        {Join({header, kRecordA, kCr, cutRecord, kCr, kEnd}), 0, {{56, 7}}, 64},
        // an F7 after the terminator does not close a record
        {Join({header, cutRecord, kEnd, {0xF7}}), 0, {}, 56},
        // no terminator: the resource end ends the walk
        {Join({header, kRecordA, kCr, kRecordB}), 0, {{56, 7}, {64, 8}}, 72},
        // a second F0 inside a record is carried, not restarted at
        {Join({header, {0xF0, 0x2C, 0xF0, 0x2C, 0x4D, 0x30, 0xF7}, kCr, kEnd}), 0, {{56, 7}}, 64},
        // the first 0xFF inside the header: the walk starts past the end
        {Join({Text("tavi 21-"), kEnd, Bytes(15, 'x'), Text(kSignature), kCr, kRecordA, kEnd}),
         0,
         {},
         55},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        // An exactly sized copy: reading past the resource shows under ASan.
        const Bytes bytes = cases[i].bytes;
        const WalkResult walk = WalkImage(bytes.data(), bytes.size());
        EXPECT_EQ(walk.header, cases[i].header);
        EXPECT_EQ(walk.records, cases[i].records);
        EXPECT_EQ(walk.stoppedAt, cases[i].stoppedAt);
    }
}

TEST(StandInImage, HasTheShapeOfTheReleasedImage) {
    ASSERT_EQ(kStandInImageSize, 68594u);
    const WalkResult walk = WalkImage(kStandInImage, kStandInImageSize);
    ASSERT_EQ(walk.header, 0);
    // Nothing but records between the header and the terminator: each F0 2C 4D 30 ... F7 with
    // 7-bit bytes between, followed by 0x0D.
    size_t expectedOffset = IMAGE_HEADER_LENGTH;
    size_t full = 0;
    size_t shortest = 255;
    size_t longest = 0;
    int bad = 0;
    for (const auto& [offset, length] : walk.records) {
        const uint8_t* p = kStandInImage + offset;
        const bool ok = offset == expectedOffset && offset + length < kStandInImageSize &&
                        std::memcmp(p, "\xF0\x2C\x4D\x30", 4) == 0 && p[length - 1] == 0xF7 &&
                        p[length] == 0x0D &&
                        std::all_of(p + 1, p + length - 1, [](uint8_t b) { return b < 0x80; });
        if (!ok && ++bad <= 5) {
            ADD_FAILURE() << "record at offset " << offset << ", length " << length;
        }
        expectedOffset = offset + length + 1;
        full += length == 29;
        shortest = std::min(shortest, length);
        longest = std::max(longest, length);
    }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(walk.records.size(), 2357u);
    EXPECT_EQ(full, 2165u);
    EXPECT_EQ(shortest, 12u);
    EXPECT_EQ(longest, 29u);
    EXPECT_EQ(expectedOffset, kStandInImageSize - 1);
    EXPECT_EQ(walk.stoppedAt, kStandInImageSize - 1);
    EXPECT_EQ(kStandInImage[kStandInImageSize - 1], 0xFF);
    // The version characters sit at flash addresses 0 and 1: the first record's first data bytes.
    EXPECT_EQ(kStandInImage[IMAGE_HEADER_LENGTH + 8], '2');
    EXPECT_EQ(kStandInImage[IMAGE_HEADER_LENGTH + 9], '1');
}

} // namespace
