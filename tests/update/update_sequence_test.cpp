// The update sequence in virtual time against a scripted unit: every limit, counter, status and
// message, with the expected bytes, times and events written out.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "scripted_unit.h"
#include "tests/support/test_image.h"
#include "virtual_run.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

const Bytes kStatusRequest = {0xF0, 0x2C, 0x4D, 0x10, 0xF7};
const Bytes kEraseRequest = {0xF0, 0x2C, 0x4D, 0x12, 0xF7};
const Bytes kFinishRequest = {0xF0, 0x2C, 0x4D, 0x50, 0xF7};
const Bytes kRecords[] = {
    {0xF0, 0x2C, 0x4D, 0x30, 0x00, 0x00, 0x00, 0x01, 0x11, 0xF7},
    {0xF0, 0x2C, 0x4D, 0x30, 0x00, 0x00, 0x01, 0x01, 0x22, 0xF7},
    {0xF0, 0x2C, 0x4D, 0x30, 0x00, 0x00, 0x02, 0x01, 0x33, 0xF7},
    {0xF0, 0x2C, 0x4D, 0x30, 0x00, 0x00, 0x03, 0x01, 0x44, 0xF7},
};

// The header, the first recordCount records each followed by 0x0D, the terminator.
Bytes ImageOf(size_t recordCount) {
    const std::string header = "tavi 21-xxxx-02.11.2012-(c)Quenbrook Signalwerkstatt KG\r";
    Bytes image(header.begin(), header.end());
    for (size_t i = 0; i < recordCount; ++i) {
        image.insert(image.end(), kRecords[i].begin(), kRecords[i].end());
        image.push_back(0x0D);
    }
    image.push_back(0xFF);
    return image;
}

struct Scripted {
    ScriptedUnit unit;
    VirtualRun run;
    Bytes imageBytes;
    FirmwareImage image{};
    int result = 99;

    explicit Scripted(Bytes bytes = ImageOf(4)) : imageBytes(std::move(bytes)) {
        run.respond = ScriptedResponder(unit);
        image = MakeFirmwareImage(imageBytes.data(), imageBytes.size());
    }
    void Go() { result = RunVirtualWorker(run, &image); }
    std::vector<Bytes> Sent() const {
        std::vector<Bytes> sent;
        for (const SentMessage& s : run.sends) {
            sent.push_back(s.bytes);
        }
        return sent;
    }
};

const Lines kSucceeded = SucceededRun();

Lines FailedWriting(int status) {
    return FailedRun({StatusLine(UPDATE_PREPARING), StatusLine(UPDATE_ERASING),
                      StatusLine(UPDATE_WRITING), StatusLine(status)});
}

const Answer kNak = Code(0x4E);
const Answer kNone = Silent();

TEST(UpdateSuccess, EmbeddedImageGoesOutRecordByRecordInImageOrder) {
    Scripted s(Bytes(kTestImage, kTestImage + kTestImageSize));
    s.Go();
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(Summary(s.run.events), kSucceeded);

    // The records found by a plain scan of our own: every F0 after the header through its F7.
    std::vector<Bytes> expected = {kStatusRequest, kEraseRequest};
    for (size_t i = IMAGE_HEADER_LENGTH; i < kTestImageSize && kTestImage[i] != 0xFF; ++i) {
        if (kTestImage[i] == 0xF0) {
            const size_t start = i;
            while (kTestImage[i] != 0xF7) {
                ++i;
            }
            expected.emplace_back(kTestImage + start, kTestImage + i + 1);
        }
    }
    ASSERT_EQ(expected.size(), 2 + 2357u);
    expected.push_back(kStatusRequest);
    expected.push_back(kFinishRequest);
    EXPECT_EQ(s.Sent(), expected);

    const std::vector<int> progress = ProgressValues(s.run.events);
    ASSERT_EQ(progress.size(), 2357u);
    for (size_t i = 1; i < progress.size(); ++i) {
        ASSERT_LE(progress[i - 1], progress[i]) << "at record " << i;
    }
    // The image end is the terminator, after the last record's 0x0D: never quite 100.
    EXPECT_EQ(progress.back(), 99);
}

// Scripted answers to record 1 and alike to record 2: the second shows the counters start
// again after an acceptance.
std::map<unsigned, std::vector<Answer>> Twice(const std::vector<Answer>& answers) {
    return {{1, answers}, {2, answers}};
}

// Every limit of every wait. Apart from the scripted delays the unit answers at once, so the
// time of the last status is what the scripted answers cost.
TEST(UpdateWaits, EndAsTheUnitAnswersWithinTheirLimits) {
    const Lines handshakeTimeout =
        FailedRun({StatusLine(UPDATE_PREPARING), StatusLine(UPDATE_TIMEOUT)});
    const Lines eraseTimeout = FailedRun(
        {StatusLine(UPDATE_PREPARING), StatusLine(UPDATE_ERASING), StatusLine(UPDATE_TIMEOUT)});
    const Lines timeout = FailedWriting(UPDATE_TIMEOUT);
    const Answer ok = Code(0x40);
    const uint64_t eraseBoundMs = uint64_t{ERASE_PAUSES} * ERASE_PAUSE_MS;
    struct Case {
        const char* name;
        std::vector<Answer> status; // by status request: [0] handshake, [1] check
        std::vector<Answer> erase;
        std::map<unsigned, std::vector<Answer>> records; // by record number, by sending
        std::vector<Answer> finish;
        uint64_t linkGoneMs; // 0: never
        Lines summary;
        size_t sends;
        uint64_t endMs;          // when the last status was posted
        size_t imageRecords = 4; // of kRecords
    } cases[] = {
        // clang-format off
        {"image without records: straight to the check", {}, {}, {}, {}, 0, kSucceeded, 4, 0, 0},
        {"records: rejected twice", {}, {}, Twice({kNak, kNak}), {}, 0, kSucceeded, 12, 0},
        {"records: rejected thrice", {}, {}, Twice({kNak, kNak, kNak}), {}, 0,
         FailedWriting(UPDATE_CHECKSUM_ERROR), 6, 0},
        {"records: silent thrice", {}, {}, Twice({kNone, kNone, kNone}), {}, 0, timeout, 6, 1503},
        // Counted separately: two of each still lets the fifth sending through.
        {"records: rejected, silent, twice each", {}, {}, Twice({kNak, kNone, kNak, kNone}), {}, 0,
         kSucceeded, 16, 2004},
        {"records: slow answer taken when stored", {}, {}, Twice({Code(0x40, 37)}), {}, 0,
         kSucceeded, 8, 74},
        {"records: answer in the last pause", {}, {}, Twice({Code(0x40, 501)}), {}, 0, kSucceeded,
         8, 1002},
        {"records: answer after the last pause", {}, {}, {{1, {Code(0x40, 502)}}}, {}, 0,
         kSucceeded, 9, 501},
        // The timeout counted in that pause is the third: the late answer no longer helps.
        {"records: third timeout with a late answer", {}, {},
         Twice({kNone, kNone, Code(0x40, 501)}), {}, 0, timeout, 6, 1503},
        // A rejection in the last pause counts as a timeout and as a rejection.
        {"records: rejected late thrice", {}, {},
         Twice({Code(0x4E, 501), Code(0x4E, 501), Code(0x4E, 501)}), {}, 0, timeout, 6, 1503},
        // Nonsense gets the record sent again without using up its time-outs, but nonsense
        // forever must not hold the worker forever: the 17th since an acceptance fails.
        {"records: nonsense three times", {}, {}, Twice({Code(0x70), Code(0x70), Code(0x70), ok}),
         {}, 0, kSucceeded, 14, 0},
        {"records: nonsense sixteen times", {}, {}, {{1, std::vector<Answer>(16, Code(0x70))}}, {}, 0,
         kSucceeded, 24, 0},
        {"records: nonsense seventeen times", {}, {}, {{1, std::vector<Answer>(17, Code(0x70))}}, {}, 0,
         timeout, 20, 0},
        {"records: silent, nonsense, silent", {}, {}, Twice({kNone, Code(0x22), kNone}), {}, 0,
         kSucceeded, 14, 2004},
        {"records: rejected, nonsense, twice each", {}, {},
         Twice({Code(0x60), kNak, Code(0x60), kNak}), {}, 0, kSucceeded, 16, 0},
        {"handshake: running", {Status(0x21, '2', '0')}, {}, {}, {}, 0,
         FailedRun({StatusLine(UPDATE_PREPARING), "tavi not in update mode/Error"}), 1, 0},
        {"handshake: silent", {kNone}, {}, {}, {}, 0, handshakeTimeout, 1, 450},
        // A stray answer wakes the worker but must not cut its pause short.
        {"handshake: only a stray answer", {Code(0x70, 10)}, {}, {}, {}, 0, handshakeTimeout, 1,
         450},
        {"handshake: answered after three pauses", {Code(0x20, 150)}, {}, {}, {}, 0, kSucceeded, 8,
         150},
        // Tested before each of nine 50 ms pauses: 8 * 50 ms is the last look.
        {"handshake: at the last look", {Code(0x20, 400)}, {}, {}, {}, 0, kSucceeded, 8, 400},
        {"handshake: in the ninth pause", {Code(0x20, 401)}, {}, {}, {}, 0, handshakeTimeout, 1,
         401},
        {"erase: slow", {}, {Code(0x22, 20000)}, {}, {}, 0, kSucceeded, 8, 20000},
        {"erase: silent", {}, {kNone}, {}, {}, 0, eraseTimeout, 2, eraseBoundMs},
        {"erase: link lost", {}, {kNone}, {}, {}, 1000, eraseTimeout, 2, 1000},
        // Not recognised after writing: the unit should still be in its boot loader.
        {"check: running", {Code(0x20), Status(0x21, '2', '1')}, {}, {}, {}, 0, timeout, 7, 450},
        {"check: 7F 7F", {Code(0x20), Status(0x20, 0x7F, 0x7F)}, {}, {}, {}, 0,
         FailedWriting(UPDATE_INVALID_FIRMWARE), 7, 0},
        {"check: one 7F is a version", {Code(0x20), Status(0x20, 0x7F, '1')}, {}, {}, {}, 0,
         kSucceeded, 8, 0},
        {"check: a 7F minor alone is a version", {Code(0x20), Status(0x20, '2', 0x7F)}, {}, {},
         {}, 0, kSucceeded, 8, 0},
        {"finish: silent", {}, {}, {}, {kNone}, 0, timeout, 8, 450},
        {"finish: late", {}, {}, {}, {Code(0x60, 400)}, 0, kSucceeded, 8, 400},
        {"finish: too late", {}, {}, {}, {Code(0x60, 401)}, 0, timeout, 8, 401},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scripted s(ImageOf(c.imageRecords));
        s.unit.status = c.status;
        s.unit.erase = c.erase;
        s.unit.records = c.records;
        s.unit.finish = c.finish;
        if (c.linkGoneMs != 0) {
            s.run.linkOpen = [&c](uint64_t nowUs) { return nowUs < c.linkGoneMs * 1000; };
        }
        s.Go();
        EXPECT_EQ(s.result, c.summary == kSucceeded ? 0 : -1);
        EXPECT_EQ(Summary(s.run.events), c.summary);
        EXPECT_EQ(s.run.sends.size(), c.sends);
        // A successful run posts a progress value after every sending of a record.
        size_t recordSends = 0;
        for (const Bytes& record : kRecords) {
            recordSends += CountSends(s.run, record);
        }
        if (s.result == 0) {
            EXPECT_EQ(ProgressValues(s.run.events).size(), recordSends);
        }
        uint64_t endUs = 0;
        for (const UpdateEvent& e : s.run.events) {
            endUs = e.kind == EventKind::Status ? e.atUs : endUs;
        }
        EXPECT_EQ(endUs, c.endMs * 1000);
    }
}

// One close request, after both boxes: an earlier one would end the program before the user
// saw "Programming failed".
TEST(UpdateImageCheck, DamagedOrMissingImageIsReportedAsACorruptedFile) {
    Bytes damaged = ImageOf(4);
    damaged[4] = '_';
    Scripted s(damaged);
    s.Go();
    VirtualRun missing;
    const int missingResult = RunVirtualWorker(missing, nullptr);
    const Lines expected = FailedRun({StatusLine(UPDATE_PREPARING), "Data file corrupted/Error"});
    for (const VirtualRun* run : {&s.run, &missing}) {
        EXPECT_TRUE(run->sends.empty());
        EXPECT_EQ(Summary(run->events), expected);
        EXPECT_EQ(run->events.size(), expected.size());
    }
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(missingResult, -1);
}

} // namespace
