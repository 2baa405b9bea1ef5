// Image end, header check and record walk on small hand-made images.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firmware/image.h"
#include "tests/firmware/image_walk.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const Bytes kPrefix = Text("tavi ");
const Bytes kSignature = Text("(c)Quenbrook Signalwerkstatt KG");
const Bytes kCr = {0x0D};
const Bytes kEnd = {0xFF};
// Bytes 5..23: never examined, so anything goes (but 0xFF, which would end the image).
const Bytes kAnyMiddle = {'9', '9', 0x00, 0x7F, 0xF0, 0xF7, 0x80, 'x', 'x', 'x',
                          'x', 'x', 'x',  'x',  'x',  'x',  'x',  'x', 'x'};
const Bytes kRecordA = {0xF0, 0x2C, 0x4D, 0x30, 0x01, 0x02, 0xF7};
const Bytes kRecordB = {0xF0, 0x2C, 0x4D, 0x30, 0x03, 0x04, 0x05, 0xF7};

Bytes Header(const Bytes& prefix = kPrefix, const Bytes& signature = kSignature) {
    return Join({prefix, kAnyMiddle, signature, kCr});
}

TEST(ImageEnd, IsTheFirstTerminatorOrTheEndOfTheResource) {
    struct Case {
        const char* name;
        Bytes bytes;
        size_t end;
    };
    const Case cases[] = {
        {"empty resource", {}, 0},
        {"terminator first", {0xFF, 0x41}, 0},
        {"terminator inside", {0x41, 0x42, 0xFF, 0x43, 0xFF}, 2},
        {"no terminator", {0x41, 0x42, 0x43}, 3},
    };
    for (const Case& c : cases) {
        const FirmwareImage image = MakeFirmwareImage(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(static_cast<size_t>(image.end - image.start), c.end) << c.name;
        EXPECT_EQ(static_cast<size_t>(image.limit - image.start), c.bytes.size()) << c.name;
    }
}

TEST(ImageHeader, ComparesPrefixAndSignatureOnly) {
    const Bytes signatureLastDiffers = Text("(c)Quenbrook Signalwerkstatt KH");
    const Bytes signatureFirstDiffers = Text("[c)Quenbrook Signalwerkstatt KG");
    const Bytes full = Join({Header(), kEnd});
    struct Case {
        const char* name;
        Bytes bytes;
        int result;
    };
    const Case cases[] = {
        {"prefix, any 19 bytes, signature", full, 0},
        {"byte 4 not a space", Join({Header(Text("tavi_")), kEnd}), -1},
        {"first byte differs", Join({Header(Text("Tavi ")), kEnd}), -1},
        {"signature differs in its last character",
         Join({Header(kPrefix, signatureLastDiffers), kEnd}), -1},
        {"signature differs in its first character",
         Join({Header(kPrefix, signatureFirstDiffers), kEnd}), -1},
        {"resource ends inside the signature", Bytes(full.begin(), full.begin() + 40), -1},
        {"resource ends inside the prefix", Text("tav"), -1},
        {"empty resource", {}, -1},
    };
    for (const Case& c : cases) {
        // An exactly sized copy: reading past the resource would show under ASan.
        const Bytes bytes = c.bytes;
        const FirmwareImage image = MakeFirmwareImage(bytes.data(), bytes.size());
        ImageCursor cursor = image.start;
        EXPECT_EQ(CheckImageHeader(image, cursor), c.result) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(cursor - image.start, 55) << c.name;
        }
    }
}

TEST(RecordWalk, FindsEachRecordFromF0ThroughF7) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::vector<RecordSpan> records;
        size_t stoppedAt;
    };
    const Case cases[] = {
        {"header only", Join({Header(), kEnd}), {}, 56},
        {"two records",
         Join({Header(), kRecordA, kCr, kRecordB, kCr, kEnd}),
         {{56, 7}, {64, 8}},
         73},
        {"junk between records is skipped like 0x0D",
         Join({Header(), kRecordA, {0x0A, 0x41, 0x00, 0x7F, 0xF7}, kRecordB, kEnd}),
         {{56, 7}, {68, 8}},
         76},
        {"a record without F7 ends the walk",
         Join({Header(), kRecordA, kCr, {0xF0, 0x2C, 0x4D, 0x30, 0x01, 0x0D}, kEnd}),
         {{56, 7}},
         64},
        {"an F7 after the terminator does not close a record",
         Join({Header(), {0xF0, 0x2C, 0x4D, 0x30, 0x01}, kEnd, {0xF7}}),
         {},
         56},
        {"no terminator: the resource end ends the walk",
         Join({Header(), kRecordA, kCr, kRecordB}),
         {{56, 7}, {64, 8}},
         72},
        {"a second F0 inside a record is carried, not restarted at",
         Join({Header(), {0xF0, 0x2C, 0xF0, 0x2C, 0x4D, 0x30, 0xF7}, kCr, kEnd}),
         {{56, 7}},
         64},
        {"first 0xFF inside the header: the walk starts past the end",
         Join({Text("tavi 21-"), kEnd, Bytes(15, 'x'), kSignature, kCr, kRecordA, kCr, kEnd}),
         {},
         55},
    };
    for (const Case& c : cases) {
        const Bytes bytes = c.bytes;
        const WalkResult walk = WalkImage(bytes.data(), bytes.size());
        EXPECT_EQ(walk.header, 0) << c.name;
        EXPECT_EQ(walk.records, c.records) << c.name;
        EXPECT_EQ(walk.stoppedAt, c.stoppedAt) << c.name;
    }
}

// The cursor stays on a record until the caller moves it, so a record the unit rejected is
// found again and resent.
TEST(RecordWalk, LeavesTheCursorOnTheRecordUntilMoved) {
    const Bytes bytes = Join({Header(), {0x0D, 0x0D}, kRecordA, kCr, kRecordB, kCr, kEnd});
    const FirmwareImage image = MakeFirmwareImage(bytes.data(), bytes.size());
    ImageCursor cursor = image.start;
    ASSERT_EQ(CheckImageHeader(image, cursor), 0);
    SysExMessage first{};
    SysExMessage again{};
    ASSERT_EQ(NextRecord(image, cursor, first), 1);
    ASSERT_EQ(NextRecord(image, cursor, again), 1);
    EXPECT_EQ(first.bytes - image.start, 58);
    EXPECT_EQ(again.bytes, first.bytes);
    EXPECT_EQ(again.length, 7u);
    EXPECT_EQ(cursor, first.bytes);
}

} // namespace
