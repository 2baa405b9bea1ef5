// The update sequence in virtual time against a scripted unit: every limit, counter, status and
// message, with the expected bytes and values written out.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "scripted_unit.h"
#include "tests/support/test_image.h"
#include "virtual_run.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kStatusRequest = {0xF0, 0x2C, 0x4D, 0x10, 0xF7};
const Bytes kEraseRequest = {0xF0, 0x2C, 0x4D, 0x12, 0xF7};
const Bytes kFinishRequest = {0xF0, 0x2C, 0x4D, 0x50, 0xF7};

// Four small records of 10 bytes each.
const Bytes kRecords[] = {
    {0xF0, 0x2C, 0x4D, 0x30, 0x00, 0x00, 0x00, 0x01, 0x11, 0xF7},
    {0xF0, 0x2C, 0x4D, 0x30, 0x00, 0x00, 0x01, 0x01, 0x22, 0xF7},
    {0xF0, 0x2C, 0x4D, 0x30, 0x00, 0x00, 0x02, 0x01, 0x33, 0xF7},
    {0xF0, 0x2C, 0x4D, 0x30, 0x00, 0x00, 0x03, 0x01, 0x44, 0xF7},
};

Bytes Header() {
    std::string text = "tavi 21-xxxx-02.11.2012-(c)Quenbrook Signalwerkstatt KG\r";
    return Bytes(text.begin(), text.end());
}

// Header, the records each followed by 0x0D, the terminator.
Bytes ImageOf(size_t recordCount) {
    Bytes image = Header();
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
    uint64_t FirstSendOf(const Bytes& bytes) const {
        for (const SentMessage& sent : run.sends) {
            if (sent.bytes == bytes) {
                return sent.atUs;
            }
        }
        return UINT64_MAX;
    }
    uint64_t StatusTime(int status) const {
        for (const UpdateEvent& event : run.events) {
            if (event.kind == EventKind::Status && event.value == status) {
                return event.atUs;
            }
        }
        return UINT64_MAX;
    }
};

const std::vector<int> kSucceeded = {UPDATE_PREPARING, UPDATE_ERASING, UPDATE_WRITING,
                                     UPDATE_SUCCEEDED};

std::vector<int> FailedWith(int status) {
    return {UPDATE_PREPARING, UPDATE_ERASING, UPDATE_WRITING, status};
}

// A failed run ends with "Programming failed", then the close request, then done.
void ExpectFailureTail(const VirtualRun& run) {
    const std::vector<UpdateEvent> tail = TailEvents(run);
    ASSERT_GE(tail.size(), 3u);
    const UpdateEvent& box = tail[tail.size() - 3];
    EXPECT_EQ(box.kind, EventKind::Message);
    EXPECT_EQ(box.text, "Programming failed");
    EXPECT_EQ(box.caption, "Warning");
    EXPECT_EQ(tail[tail.size() - 2].kind, EventKind::Close);
    EXPECT_EQ(tail.back().kind, EventKind::Done);
}

std::vector<Bytes> SentBytes(const VirtualRun& run) {
    std::vector<Bytes> sent;
    for (const SentMessage& s : run.sends) {
        sent.push_back(s.bytes);
    }
    return sent;
}

// The records of an image, found by a plain scan of our own: every F0 after the header,
// through the next F7.
std::vector<Bytes> RecordsByScan(const uint8_t* bytes, size_t size) {
    std::vector<Bytes> records;
    for (size_t i = 56; i < size && bytes[i] != 0xFF; ++i) {
        if (bytes[i] == 0xF0) {
            size_t j = i;
            while (bytes[j] != 0xF7) {
                ++j;
            }
            records.emplace_back(bytes + i, bytes + j + 1);
            i = j;
        }
    }
    return records;
}

TEST(UpdateSuccess, EmbeddedImageGoesOutRecordByRecordInImageOrder) {
    Scripted s(Bytes(kTestImage, kTestImage + kTestImageSize));
    s.Go();
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(Statuses(s.run), kSucceeded);

    std::vector<Bytes> expected = {kStatusRequest, kEraseRequest};
    const std::vector<Bytes> records = RecordsByScan(kTestImage, kTestImageSize);
    ASSERT_EQ(records.size(), 2357u);
    expected.insert(expected.end(), records.begin(), records.end());
    expected.push_back(kStatusRequest);
    expected.push_back(kFinishRequest);
    EXPECT_EQ(SentBytes(s.run), expected);

    const std::vector<int> progress = ProgressValues(s.run);
    ASSERT_EQ(progress.size(), 2357u);
    for (size_t i = 1; i < progress.size(); ++i) {
        ASSERT_LE(progress[i - 1], progress[i]) << "at record " << i;
    }
    // The image end is the terminator, after the last record's 0x0D: never quite 100.
    EXPECT_EQ(progress.back(), 99);
    EXPECT_EQ(s.run.events.back().kind, EventKind::Done);
    for (const UpdateEvent& e : s.run.events) {
        EXPECT_NE(e.kind, EventKind::Message) << e.text;
        EXPECT_NE(e.kind, EventKind::Close);
    }
}

TEST(UpdateProgress, IsMeasuredFromImageStartToTheTerminator) {
    // Image end (the terminator) = 56 + 2 * 11 = 78. Accepted record 1 leaves the cursor at
    // 66: 6600 / 78 = 84; record 2 at 77: 7700 / 78 = 98.
    Scripted s(ImageOf(2));
    s.unit.records[1] = {Code(0x4E)};
    s.Go();
    EXPECT_EQ(s.result, 0);
    // Posted after every attempt. The rejected one finds the cursor on record 2's F0, the walk
    // having stepped over the 0x0D: 6700 / 78 = 85.
    EXPECT_EQ(ProgressValues(s.run), (std::vector<int>{84, 85, 98}));
}

TEST(UpdateProgress, ImageWithoutRecordsGoesStraightToTheCheck) {
    Scripted s(ImageOf(0));
    s.Go();
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(SentBytes(s.run),
              (std::vector<Bytes>{kStatusRequest, kEraseRequest, kStatusRequest, kFinishRequest}));
    EXPECT_EQ(Statuses(s.run), kSucceeded);
    EXPECT_TRUE(ProgressValues(s.run).empty());
}

TEST(UpdateProgress, RecordCutOffByTheImageEndEndsTheTransfer) {
    Bytes image = ImageOf(1);
    image.pop_back(); // terminator
    const Bytes cut = {0xF0, 0x2C, 0x4D, 0x30, 0x01, 0x02, 0xFF};
    image.insert(image.end(), cut.begin(), cut.end());
    Scripted s(image);
    s.Go();
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(SentBytes(s.run), (std::vector<Bytes>{kStatusRequest, kEraseRequest, kRecords[0],
                                                    kStatusRequest, kFinishRequest}));
}

// One record's answers, and what the run makes of them.
struct RecordCase {
    const char* name;
    std::vector<Answer> answers; // for record 1, by sending
    int result;
    int lastStatus;
    size_t sendings; // of record 1
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const RecordCase& c, std::ostream* os) {
    *os << c.name;
}

class RecordAnswers : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordAnswers, DecideRetryAndFailure) {
    const RecordCase& c = GetParam();
    Scripted s;
    s.unit.records[1] = c.answers;
    s.Go();
    EXPECT_EQ(s.result, c.result);
    EXPECT_EQ(Statuses(s.run).back(), c.lastStatus);
    EXPECT_EQ(CountSends(s.run, kRecords[1]), c.sendings);
    if (c.result == 0) {
        EXPECT_EQ(CountSends(s.run, kRecords[3]), 1u);
        EXPECT_EQ(s.run.events.back().kind, EventKind::Done);
    } else {
        EXPECT_EQ(CountSends(s.run, kRecords[2]), 0u);
        ExpectFailureTail(s.run);
    }
}

const Answer kNak = Code(0x4E);
const Answer kNone = Silent();

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordAnswers,
    ::testing::Values(
        RecordCase{"RejectedTwiceThenAccepted", {kNak, kNak}, 0, UPDATE_SUCCEEDED, 3},
        RecordCase{"RejectedThreeTimes", {kNak, kNak, kNak}, -1, UPDATE_CHECKSUM_ERROR, 3},
        RecordCase{"SilentTwiceThenAccepted", {kNone, kNone}, 0, UPDATE_SUCCEEDED, 3},
        RecordCase{"SilentThreeTimes", {kNone, kNone, kNone}, -1, UPDATE_TIMEOUT, 3},
        // Counted separately: two of each still lets the fifth sending through.
        RecordCase{"RejectedTwiceSilentTwiceAcceptedAtFifth",
                   {kNak, kNone, kNak, kNone},
                   0,
                   UPDATE_SUCCEEDED,
                   5},
        RecordCase{"AnswerInTheLastPauseIsTaken", {Code(0x40, 501)}, 0, UPDATE_SUCCEEDED, 1},
        RecordCase{
            "AnswerAfterTheLastPauseComesTooLate", {Code(0x40, 502)}, 0, UPDATE_SUCCEEDED, 2},
        // The timeout counted in that pause is the third: the late answer no longer helps.
        RecordCase{"ThirdTimeoutEvenWithAnAnswerInTheLastPause",
                   {kNone, kNone, Code(0x40, 501)},
                   -1,
                   UPDATE_TIMEOUT,
                   3},
        // The acceptance in the last pause clears the timeout counted with it.
        RecordCase{"LastPauseAcceptanceClearsItsTimeout",
                   {kNone, Code(0x40, 501)},
                   0,
                   UPDATE_SUCCEEDED,
                   2},
        // A rejection in the last pause counts twice, as a timeout and as a rejection.
        RecordCase{"RejectedInTheLastPauseThreeTimes",
                   {Code(0x4E, 501), Code(0x4E, 501), Code(0x4E, 501)},
                   -1,
                   UPDATE_TIMEOUT,
                   3},
        RecordCase{"OtherAnswerOnceIsSentAgain", {Code(0x21)}, 0, UPDATE_SUCCEEDED, 2},
        RecordCase{
            "OtherAnswerTwiceThenAccepted", {Code(0x70), Code(0x62)}, 0, UPDATE_SUCCEEDED, 3},
        // Nonsense forever must not hold the worker forever.
        RecordCase{"OtherAnswersThreeTimes",
                   {Code(0x70), Code(0x70), Code(0x70), Code(0x70)},
                   -1,
                   UPDATE_TIMEOUT,
                   3},
        // Nonsense and silence share one limit.
        RecordCase{"SilentOtherSilent", {kNone, Code(0x22), kNone}, -1, UPDATE_TIMEOUT, 3},
        RecordCase{"OtherRejectedOtherAccepted",
                   {Code(0x60), kNak, Code(0x60), kNak},
                   0,
                   UPDATE_SUCCEEDED,
                   5}),
    [](const ::testing::TestParamInfo<RecordCase>& param) { return param.param.name; });

TEST(RecordAnswers, CountersStartAgainAfterEveryAcceptance) {
    Scripted s;
    for (unsigned r = 0; r < 4; ++r) {
        s.unit.records[r] = {kNak, kNone, kNak, Code(0x70)};
    }
    s.Go();
    EXPECT_EQ(s.result, 0);
    for (const Bytes& record : kRecords) {
        EXPECT_EQ(CountSends(s.run, record), 5u);
    }
}

TEST(RecordAnswers, ThreeTimeoutsTakeThreeTimes501Pauses) {
    Scripted s;
    s.unit.records[1] = {kNone, kNone, kNone};
    s.Go();
    const uint64_t first = s.FirstSendOf(kRecords[1]);
    EXPECT_EQ(s.StatusTime(UPDATE_TIMEOUT) - first, 3 * 501 * 1000u);
}

TEST(RecordAnswers, ASlowAnswerIsTakenAsSoonAsItIsStored) {
    Scripted s;
    s.unit.records[1] = {Code(0x40, 37)};
    s.Go();
    EXPECT_EQ(s.FirstSendOf(kRecords[2]) - s.FirstSendOf(kRecords[1]), 37 * 1000u);
}

// The short waits of the handshake, the check and the finish.
struct PhaseCase {
    const char* name;
    std::vector<Answer> status; // by status request: [0] handshake, [1] check
    std::vector<Answer> finish;
    int result;
    std::vector<int> statuses;
    std::vector<std::string> messages; // "text/caption", in order
    size_t sends;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const PhaseCase& c, std::ostream* os) {
    *os << c.name;
}

class ShortWaits : public ::testing::TestWithParam<PhaseCase> {};

TEST_P(ShortWaits, EndAsTheUnitAnswers) {
    const PhaseCase& c = GetParam();
    Scripted s;
    s.unit.status = c.status;
    s.unit.finish = c.finish;
    s.Go();
    EXPECT_EQ(s.result, c.result);
    EXPECT_EQ(Statuses(s.run), c.statuses);
    std::vector<std::string> messages;
    for (const UpdateEvent& e : s.run.events) {
        if (e.kind == EventKind::Message) {
            messages.push_back(e.text + "/" + e.caption);
        }
    }
    EXPECT_EQ(messages, c.messages);
    EXPECT_EQ(s.run.sends.size(), c.sends);
    if (c.result != 0) {
        ExpectFailureTail(s.run);
    }
}

const std::vector<std::string> kNoMessages;
const std::vector<std::string> kFailed = {"Programming failed/Warning"};
const std::vector<int> kHandshakeTimeout = {UPDATE_PREPARING, UPDATE_TIMEOUT};
constexpr size_t kAllSends = 2 + 4 + 2;

INSTANTIATE_TEST_SUITE_P(
    Cases, ShortWaits,
    ::testing::Values(
        PhaseCase{"HandshakeRunning",
                  {Status(0x21, '2', '0')},
                  {},
                  -1,
                  {UPDATE_PREPARING},
                  {"tavi not in update mode/Error", "Programming failed/Warning"},
                  1},
        PhaseCase{"HandshakeSilent", {kNone}, {}, -1, kHandshakeTimeout, kFailed, 1},
        PhaseCase{"HandshakeOtherCode", {Code(0x70)}, {}, -1, kHandshakeTimeout, kFailed, 1},
        // Tested before each of nine pauses: 8 * 50 ms is the last look.
        PhaseCase{"HandshakeAnsweredAtTheLastTest",
                  {Code(0x20, 400)},
                  {},
                  0,
                  kSucceeded,
                  kNoMessages,
                  kAllSends},
        PhaseCase{"HandshakeAnsweredInTheNinthPause",
                  {Code(0x20, 401)},
                  {},
                  -1,
                  kHandshakeTimeout,
                  kFailed,
                  1},
        // Not recognised after writing: the unit should still be in its boot loader.
        PhaseCase{"CheckRunning",
                  {Code(0x20), Status(0x21, '2', '1')},
                  {},
                  -1,
                  FailedWith(UPDATE_TIMEOUT),
                  kFailed,
                  7},
        PhaseCase{
            "CheckSilent", {Code(0x20), kNone}, {}, -1, FailedWith(UPDATE_TIMEOUT), kFailed, 7},
        PhaseCase{"CheckInvalidVersion",
                  {Code(0x20), Status(0x20, 0x7F, 0x7F)},
                  {},
                  -1,
                  FailedWith(UPDATE_INVALID_FIRMWARE),
                  kFailed,
                  7},
        PhaseCase{"CheckOneInvalidByteIsFine",
                  {Code(0x20), Status(0x20, 0x7F, '1')},
                  {},
                  0,
                  kSucceeded,
                  kNoMessages,
                  kAllSends},
        PhaseCase{"FinishSilent", {}, {kNone}, -1, FailedWith(UPDATE_TIMEOUT), kFailed, 8},
        PhaseCase{"FinishLate", {}, {Code(0x60, 400)}, 0, kSucceeded, kNoMessages, kAllSends},
        PhaseCase{
            "FinishTooLate", {}, {Code(0x60, 401)}, -1, FailedWith(UPDATE_TIMEOUT), kFailed, 8}),
    [](const ::testing::TestParamInfo<PhaseCase>& param) { return param.param.name; });

TEST(ShortWaits, HandshakeAnsweredAfterThreePausesGoesOnAtOnce) {
    Scripted s;
    s.unit.status = {Code(0x20, 150)};
    s.Go();
    EXPECT_EQ(s.FirstSendOf(kEraseRequest), 150 * 1000u);
}

TEST(ShortWaits, HandshakeTimesOutAfterNinePauses) {
    Scripted s;
    s.unit.status = {kNone};
    s.Go();
    EXPECT_EQ(s.StatusTime(UPDATE_TIMEOUT), 9 * 50 * 1000u);
    EXPECT_EQ(s.run.pauses, 9u);
}

TEST(UpdateErase, WaitsForTheUnitAsLongAsItTakes) {
    Scripted s;
    s.unit.erase = {Code(0x22, 20000)};
    s.Go();
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.StatusTime(UPDATE_WRITING), 20000 * 1000u);
}

TEST(UpdateErase, GivesUpAfterItsBound) {
    Scripted s;
    s.unit.erase = {kNone};
    s.Go();
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(Statuses(s.run),
              (std::vector<int>{UPDATE_PREPARING, UPDATE_ERASING, UPDATE_TIMEOUT}));
    EXPECT_EQ(s.StatusTime(UPDATE_TIMEOUT), uint64_t{ERASE_PAUSES} * ERASE_PAUSE_MS * 1000);
    EXPECT_GE(ERASE_PAUSES * ERASE_PAUSE_MS, 60000u); // ample for the unit to erase
    ExpectFailureTail(s.run);
}

TEST(UpdateErase, EndsAtOnceWhenTheLinkIsLost) {
    Scripted s;
    s.unit.erase = {kNone};
    s.run.linkOpen = [](uint64_t nowUs) { return nowUs < 1000 * 1000; };
    s.Go();
    EXPECT_EQ(Statuses(s.run),
              (std::vector<int>{UPDATE_PREPARING, UPDATE_ERASING, UPDATE_TIMEOUT}));
    EXPECT_EQ(s.StatusTime(UPDATE_TIMEOUT), 1000 * 1000u);
    ExpectFailureTail(s.run);
}

TEST(UpdateErase, AnswerStoredBeforeTheLinkWentIsStillTaken) {
    Scripted s;
    // Answered, then gone within the same pause: the answer still counts, and the first
    // record then times out.
    s.run.earlyWake = false;
    s.unit.erase = {Code(0x22, 99)};
    s.run.linkOpen = [](uint64_t nowUs) { return nowUs < 100 * 1000; };
    s.Go();
    EXPECT_EQ(Statuses(s.run), FailedWith(UPDATE_TIMEOUT));
}

TEST(UpdateImageCheck, HeaderMismatchIsReportedAsACorruptedFile) {
    Bytes image = ImageOf(4);
    image[4] = '_';
    Scripted s(image);
    s.Go();
    EXPECT_EQ(s.result, -1);
    EXPECT_TRUE(s.run.sends.empty());
    // One close request, after both boxes: an earlier one would end the program before the
    // user saw "Programming failed".
    ASSERT_EQ(s.run.events.size(), 5u);
    EXPECT_EQ(s.run.events[0].kind, EventKind::Status);
    EXPECT_EQ(s.run.events[0].value, UPDATE_PREPARING);
    EXPECT_EQ(s.run.events[1].text, "Data file corrupted");
    EXPECT_EQ(s.run.events[1].caption, "Error");
    EXPECT_EQ(s.run.events[2].text, "Programming failed");
    EXPECT_EQ(s.run.events[3].kind, EventKind::Close);
    EXPECT_EQ(s.run.events[4].kind, EventKind::Done);
}

TEST(UpdateImageCheck, MissingImageIsReportedAsACorruptedFile) {
    VirtualRun run;
    EXPECT_EQ(RunVirtualWorker(run, nullptr), -1);
    EXPECT_TRUE(run.sends.empty());
    ASSERT_EQ(run.events.size(), 5u);
    EXPECT_EQ(run.events[1].text, "Data file corrupted");
    EXPECT_EQ(run.events[1].caption, "Error");
    EXPECT_EQ(run.events[2].text, "Programming failed");
    EXPECT_EQ(run.events[3].kind, EventKind::Close);
    EXPECT_EQ(run.events[4].kind, EventKind::Done);
}

TEST(UpdateStatusTexts, EveryCodeHasTheWindowsText) {
    EXPECT_STREQ(UpdateStatusText(1), "Preparing");
    EXPECT_STREQ(UpdateStatusText(2), "Erasing");
    EXPECT_STREQ(UpdateStatusText(3), "Writing");
    EXPECT_STREQ(UpdateStatusText(4), "Programming successful");
    EXPECT_STREQ(UpdateStatusText(6), "Timeout error");
    EXPECT_STREQ(UpdateStatusText(7), "Checksum error");
    EXPECT_STREQ(UpdateStatusText(9), "Invalid firmware");
    EXPECT_EQ(UpdateStatusText(0), nullptr);
    EXPECT_EQ(UpdateStatusText(5), nullptr);
    EXPECT_EQ(UpdateStatusText(8), nullptr);
}

} // namespace
