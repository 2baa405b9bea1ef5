// The committed stand-in image has the shape of the real 2.1 image, and whatever image this
// build embeds can be walked to its terminator with every record sendable as it stands.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/firmware/image_walk.h"
#include "tests/support/test_image.h"

extern const uint8_t kStandInImage[];
extern const size_t kStandInImageSize;

namespace {

// Every record lies inside the image, is F0 2C 4D 30 ... F7 with 7-bit bytes between, and is
// followed by 0x0D; the walk stops on the terminator.
void ExpectSendable(const uint8_t* bytes, size_t size, const WalkResult& walk) {
    const FirmwareImage image = MakeFirmwareImage(bytes, size);
    const size_t end = static_cast<size_t>(image.end - image.start);
    ASSERT_EQ(walk.header, 0);
    ASSERT_FALSE(walk.records.empty());
    EXPECT_EQ(walk.records.front().offset, IMAGE_HEADER_LENGTH);
    int bad = 0;
    for (const RecordSpan& r : walk.records) {
        const uint8_t* p = bytes + r.offset;
        const bool ok = r.offset + r.length < end && std::memcmp(p, "\xF0\x2C\x4D\x30", 4) == 0 &&
                        p[r.length - 1] == 0xF7 && p[r.length] == 0x0D &&
                        std::all_of(p + 1, p + r.length - 1, [](uint8_t b) { return b < 0x80; });
        if (!ok && ++bad <= 5) {
            ADD_FAILURE() << "record at offset " << r.offset << ", length " << r.length;
        }
    }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(walk.stoppedAt, end);
    ASSERT_LT(end, size);
    EXPECT_EQ(bytes[end], 0xFF);
}

TEST(StandInImage, HasTheShapeOfTheReleasedImage) {
    ASSERT_EQ(kStandInImageSize, 68594u);
    const WalkResult walk = WalkImage(kStandInImage, kStandInImageSize);
    ExpectSendable(kStandInImage, kStandInImageSize, walk);
    // Nothing but the records, each with its 0x0D, between the header and the terminator.
    size_t expectedOffset = IMAGE_HEADER_LENGTH;
    size_t full = 0;
    size_t shortest = 255;
    size_t longest = 0;
    for (const RecordSpan& r : walk.records) {
        EXPECT_EQ(r.offset, expectedOffset);
        expectedOffset = r.offset + r.length + 1;
        full += r.length == 29;
        shortest = std::min(shortest, r.length);
        longest = std::max(longest, r.length);
    }
    EXPECT_EQ(walk.records.size(), 2357u);
    EXPECT_EQ(full, 2165u);
    EXPECT_EQ(shortest, 12u);
    EXPECT_EQ(longest, 29u);
    EXPECT_EQ(expectedOffset, kStandInImageSize - 1);
    // The version characters sit at flash addresses 0 and 1: the first record's first data bytes.
    EXPECT_EQ(kStandInImage[IMAGE_HEADER_LENGTH + 8], '2');
    EXPECT_EQ(kStandInImage[IMAGE_HEADER_LENGTH + 9], '1');
}

TEST(EmbeddedImage, PassesTheHeaderAndWalksToItsTerminator) {
    const WalkResult walk = WalkImage(kTestImage, kTestImageSize);
    ExpectSendable(kTestImage, kTestImageSize, walk);
}

} // namespace
