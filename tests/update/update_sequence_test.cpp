// The update sequence in virtual time against a scripted unit: every limit, counter, status and
// message, with the expected bytes, times and events written out.
#include <gtest/gtest.h>

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
    uint64_t FirstSendMs(const Bytes& bytes) const {
        for (const SentMessage& sent : run.sends) {
            if (sent.bytes == bytes) {
                return sent.atUs / 1000;
            }
        }
        return UINT64_MAX;
    }
    std::vector<Bytes> Sent() const {
        std::vector<Bytes> sent;
        for (const SentMessage& s : run.sends) {
            sent.push_back(s.bytes);
        }
        return sent;
    }
};

std::string St(int status) {
    return "status " + std::to_string(status);
}

const Lines kSucceeded = {St(UPDATE_PREPARING), St(UPDATE_ERASING), St(UPDATE_WRITING),
                          St(UPDATE_SUCCEEDED), "done"};
const Lines kFailedTail = {"Programming failed/Warning", "close", "done"};

// The summary of a run that failed after the given statuses (and boxes).
Lines Failed(Lines head) {
    head.insert(head.end(), kFailedTail.begin(), kFailedTail.end());
    return head;
}
Lines FailedWriting(int status) {
    return Failed({St(UPDATE_PREPARING), St(UPDATE_ERASING), St(UPDATE_WRITING), St(status)});
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

TEST(UpdateSuccess, ImageWithoutRecordsGoesStraightToTheCheck) {
    Scripted s(ImageOf(0));
    s.Go();
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.Sent(),
              (std::vector<Bytes>{kStatusRequest, kEraseRequest, kStatusRequest, kFinishRequest}));
    EXPECT_EQ(Summary(s.run.events), kSucceeded);
    EXPECT_TRUE(ProgressValues(s.run.events).empty());
}

TEST(RecordAnswers, DecideRetryAndFailure) {
    struct Case {
        const char* name;
        std::vector<Answer> answers; // for records 1 and 2, by sending
        int endStatus;
        size_t sendings;  // of record 1, and of record 2 with the counters started again
        uint64_t spentMs; // from its first sending to record 2 or the failure
        // Record 2 answers alike (else the normal way): its own sendings show the counters
        // start again after an acceptance.
        bool record2Alike = true;
    } cases[] = {
        {"rejected twice", {kNak, kNak}, UPDATE_SUCCEEDED, 3, 0},
        {"rejected thrice", {kNak, kNak, kNak}, UPDATE_CHECKSUM_ERROR, 3, 0},
        {"silent thrice", {kNone, kNone, kNone}, UPDATE_TIMEOUT, 3, 1503},
        // Counted separately: two of each still lets the fifth sending through.
        {"rejected, silent, twice each", {kNak, kNone, kNak, kNone}, UPDATE_SUCCEEDED, 5, 1002},
        {"slow answer taken when stored", {Code(0x40, 37)}, UPDATE_SUCCEEDED, 1, 37},
        {"answer in the last pause", {Code(0x40, 501)}, UPDATE_SUCCEEDED, 1, 501},
        {"answer after the last pause", {Code(0x40, 502)}, UPDATE_SUCCEEDED, 2, 501, false},
        // The timeout counted in that pause is the third: the late answer no longer helps.
        {"third timeout with a late answer",
         {kNone, kNone, Code(0x40, 501)},
         UPDATE_TIMEOUT,
         3,
         1503},
        // A rejection in the last pause counts as a timeout and as a rejection.
        {"rejected late thrice",
         {Code(0x4E, 501), Code(0x4E, 501), Code(0x4E, 501)},
         UPDATE_TIMEOUT,
         3,
         1503},
        // Nonsense forever must not hold the worker forever; it shares silence's limit.
        {"nonsense", {Code(0x70), Code(0x70), Code(0x70), Code(0x70)}, UPDATE_TIMEOUT, 3, 0},
        {"silent, nonsense, silent", {kNone, Code(0x22), kNone}, UPDATE_TIMEOUT, 3, 1002},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scripted s;
        s.unit.records[1] = c.answers;
        if (c.record2Alike) {
            s.unit.records[2] = c.answers;
        }
        s.Go();
        EXPECT_EQ(CountSends(s.run, kRecords[1]), c.sendings);
        const uint64_t start = s.FirstSendMs(kRecords[1]);
        if (c.endStatus == UPDATE_SUCCEEDED) {
            EXPECT_EQ(s.result, 0);
            EXPECT_EQ(Summary(s.run.events), kSucceeded);
            EXPECT_EQ(CountSends(s.run, kRecords[2]), c.record2Alike ? c.sendings : 1);
            EXPECT_EQ(CountSends(s.run, kRecords[3]), 1u);
            EXPECT_EQ(s.FirstSendMs(kRecords[2]) - start, c.spentMs);
        } else {
            EXPECT_EQ(s.result, -1);
            EXPECT_EQ(Summary(s.run.events), FailedWriting(c.endStatus));
            EXPECT_EQ(CountSends(s.run, kRecords[2]), 0u);
            EXPECT_EQ(StatusAtUs(s.run.events, c.endStatus) / 1000 - start, c.spentMs);
        }
    }
}

// The short waits of the handshake, the check and the finish.
TEST(ShortWaits, EndAsTheUnitAnswers) {
    const Lines handshakeTimeout = Failed({St(UPDATE_PREPARING), St(UPDATE_TIMEOUT)});
    constexpr size_t kAll = 2 + 4 + 2;
    struct Case {
        const char* name;
        std::vector<Answer> status; // by status request: [0] handshake, [1] check
        std::vector<Answer> finish;
        Lines summary;
        size_t sends;
    } cases[] = {
        {"handshake: running",
         {Status(0x21, '2', '0')},
         {},
         Failed({St(UPDATE_PREPARING), "tavi not in update mode/Error"}),
         1},
        {"handshake: silent", {kNone}, {}, handshakeTimeout, 1},
        // Tested before each of nine 50 ms pauses: 8 * 50 ms is the last look.
        {"handshake: at the last look", {Code(0x20, 400)}, {}, kSucceeded, kAll},
        {"handshake: in the ninth pause", {Code(0x20, 401)}, {}, handshakeTimeout, 1},
        // Not recognised after writing: the unit should still be in its boot loader.
        {"check: running",
         {Code(0x20), Status(0x21, '2', '1')},
         {},
         FailedWriting(UPDATE_TIMEOUT),
         7},
        {"check: 7F 7F",
         {Code(0x20), Status(0x20, 0x7F, 0x7F)},
         {},
         FailedWriting(UPDATE_INVALID_FIRMWARE),
         7},
        {"check: one 7F is a version", {Code(0x20), Status(0x20, 0x7F, '1')}, {}, kSucceeded, kAll},
        {"finish: silent", {}, {kNone}, FailedWriting(UPDATE_TIMEOUT), 8},
        {"finish: late", {}, {Code(0x60, 400)}, kSucceeded, kAll},
        {"finish: too late", {}, {Code(0x60, 401)}, FailedWriting(UPDATE_TIMEOUT), 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scripted s;
        s.unit.status = c.status;
        s.unit.finish = c.finish;
        s.Go();
        EXPECT_EQ(s.result, c.summary == kSucceeded ? 0 : -1);
        EXPECT_EQ(Summary(s.run.events), c.summary);
        EXPECT_EQ(s.run.sends.size(), c.sends);
    }
}

TEST(ShortWaits, HandshakeGoesOnAtOnceAndGivesUpAfterNinePauses) {
    Scripted answered;
    answered.unit.status = {Code(0x20, 150)};
    answered.Go();
    EXPECT_EQ(answered.FirstSendMs(kEraseRequest), 150u);
    Scripted silent;
    silent.unit.status = {kNone};
    silent.Go();
    EXPECT_EQ(StatusAtUs(silent.run.events, UPDATE_TIMEOUT), 9 * 50 * 1000u);
}

TEST(UpdateErase, WaitsAsLongAsTheUnitTakesWithinItsBoundAndNotPastTheLink) {
    struct Case {
        const char* name;
        Answer erase;
        uint64_t linkGoneMs; // 0: never
        int next;            // the status after Erasing
        uint64_t nextAtMs;
    } cases[] = {
        {"slow erase", Code(0x22, 20000), 0, UPDATE_WRITING, 20000},
        {"no answer", kNone, 0, UPDATE_TIMEOUT, uint64_t{ERASE_PAUSES} * ERASE_PAUSE_MS},
        {"link lost", kNone, 1000, UPDATE_TIMEOUT, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scripted s;
        s.unit.erase = {c.erase};
        if (c.linkGoneMs != 0) {
            s.run.linkOpen = [&c](uint64_t nowUs) { return nowUs < c.linkGoneMs * 1000; };
        }
        s.Go();
        EXPECT_EQ(StatusAtUs(s.run.events, c.next), c.nextAtMs * 1000);
        if (c.next == UPDATE_TIMEOUT) {
            EXPECT_EQ(Summary(s.run.events),
                      Failed({St(UPDATE_PREPARING), St(UPDATE_ERASING), St(UPDATE_TIMEOUT)}));
        } else {
            EXPECT_EQ(Summary(s.run.events), kSucceeded);
        }
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
    const Lines expected = Failed({St(UPDATE_PREPARING), "Data file corrupted/Error"});
    for (const VirtualRun* run : {&s.run, &missing}) {
        EXPECT_TRUE(run->sends.empty());
        EXPECT_EQ(Summary(run->events), expected);
        EXPECT_EQ(run->events.size(), expected.size());
    }
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(missingResult, -1);
}

} // namespace
