// The update worker thread under Wine against the stand-in unit: real ports, real replies on
// the driver's thread, real posted commands and message boxes.
#include <gtest/gtest.h>

#include <vector>

#include "firmware/update_sequence.h"
#include "midi/port_link.h"
#include "protocol/device_state.h"
#include "protocol/messages.h"
#include "tests/support/test_image.h"
#include "worker_run.h"

namespace {

constexpr DWORD kBoundMs = 60000; // far beyond any run here; only a hang reaches it
constexpr size_t kRecords = 2357;

FirmwareImage TestImage() {
    return MakeFirmwareImage(kTestImage, kTestImageSize);
}

// The embedded image cut after its first records, with its terminator: a shorter run.
std::vector<uint8_t> FirstRecordsOfTestImage(unsigned records) {
    const FirmwareImage image = TestImage();
    ImageCursor cursor = image.start + IMAGE_HEADER_LENGTH;
    SysExMessage record{};
    for (unsigned i = 0; i < records && NextRecord(image, cursor, record) == 1; ++i) {
        cursor += record.length;
    }
    std::vector<uint8_t> bytes(image.start, cursor);
    bytes.push_back(0x0D);
    bytes.push_back(0xFF);
    return bytes;
}

class UpdateWorker : public ::testing::Test {
  protected:
    SimApi api{};
    void Start(const char* scenario) {
        ASSERT_EQ(ConfigureUnit(api, scenario), 0) << "the stand-in winmm.dll is not loaded";
        ASSERT_EQ(OpenUnitPorts(), 0);
    }
    void TearDown() override { CloseUnitPorts(); }
};

std::vector<EventKind> Kinds(const WorkerRun& run) {
    std::vector<EventKind> kinds;
    for (const UpdateEvent& e : run.events) {
        kinds.push_back(e.kind);
    }
    return kinds;
}

std::vector<int> StatusesOf(const WorkerRun& run) {
    std::vector<int> statuses;
    for (const UpdateEvent& e : run.events) {
        if (e.kind == EventKind::Status) {
            statuses.push_back(e.value);
        }
    }
    return statuses;
}

// A successful run posts Preparing, Erasing, Writing, a progress value per record rising to 99,
// Succeeded, and done last; it shows no box and asks for no close.
void ExpectSucceeded(const WorkerRun& run, size_t records = kRecords, int lastProgress = 99) {
    ASSERT_EQ(run.started, 0);
    ASSERT_TRUE(run.done);
    EXPECT_EQ(run.eventsAfterDone, 0u);
    EXPECT_EQ(StatusesOf(run), (std::vector<int>{UPDATE_PREPARING, UPDATE_ERASING, UPDATE_WRITING,
                                                 UPDATE_SUCCEEDED}));
    std::vector<int> progress;
    for (const UpdateEvent& e : run.events) {
        EXPECT_NE(e.kind, EventKind::Message) << e.caption << ": " << e.text;
        EXPECT_NE(e.kind, EventKind::Close);
        if (e.kind == EventKind::Progress) {
            progress.push_back(e.value);
        }
    }
    ASSERT_EQ(progress.size(), records);
    for (size_t i = 1; i < progress.size(); ++i) {
        ASSERT_LE(progress[i - 1], progress[i]);
    }
    EXPECT_EQ(progress.back(), lastProgress);
    // Writing comes before the first progress value, Succeeded after the last.
    const std::vector<EventKind> kinds = Kinds(run);
    EXPECT_EQ(kinds[2], EventKind::Status);
    EXPECT_EQ(kinds[3], EventKind::Progress);
    EXPECT_EQ(kinds[kinds.size() - 2], EventKind::Status);
    EXPECT_EQ(kinds.back(), EventKind::Done);
}

// Sends the Status request over the link and waits, boundedly, for the unit's answer.
uint8_t AskStatus() {
    ClearReplyCode(TheDevice);
    const SysExMessage& status = MessageTable[MSG_STATUS_REQUEST];
    SendSysEx(status.bytes, status.length);
    for (int i = 0; i < 200 && LoadReplyCode(TheDevice) == 0; ++i) {
        WaitForSingleObject(ReplyStoredEvent(), 10);
    }
    return LoadReplyCode(TheDevice);
}

TEST_F(UpdateWorker, FullUpdateSucceedsAndTheUnitThenRunsTheNewVersion) {
    Start("update;version=3230");
    const FirmwareImage image = TestImage();
    WorkerRun run;
    RunWorkerToEnd(&image, kBoundMs, run);
    ExpectSucceeded(run);

    SimUnitView view{};
    api.unitSnapshot(&view);
    EXPECT_EQ(view.recordsAccepted, kRecords);
    // After done the window closes the ports; the user picks the port again.
    CloseUnitPorts();
    ASSERT_EQ(OpenUnitPorts(), 0);
    EXPECT_EQ(AskStatus(), REPLY_RUNNING);
    EXPECT_EQ(TheDevice.DeviceMode.load(), Normal);
    EXPECT_EQ(TheDevice.FirmwareVersion[0].load(), '2');
    EXPECT_EQ(TheDevice.FirmwareVersion[1].load(), '1');
}

TEST_F(UpdateWorker, SucceedsWhenSendsCompleteAsynchronously) {
    Start("update;async_done=1;delay=1");
    const std::vector<uint8_t> bytes = FirstRecordsOfTestImage(300);
    const FirmwareImage image = MakeFirmwareImage(bytes.data(), bytes.size());
    WorkerRun run;
    RunWorkerToEnd(&image, kBoundMs, run);
    // The image ends at its terminator, right after the last record's 0x0D.
    ExpectSucceeded(run, 300, 99);
    SimUnitView view{};
    api.unitSnapshot(&view);
    EXPECT_EQ(view.recordsAccepted, 300u);
}

TEST_F(UpdateWorker, UnplugAtARecordFailsWithinTheBounds) {
    Start("update;unplug_record=100");
    const FirmwareImage image = TestImage();
    WorkerRun run;
    RunWorkerToEnd(&image, kBoundMs, run);
    ASSERT_TRUE(run.done);
    EXPECT_EQ(StatusesOf(run),
              (std::vector<int>{UPDATE_PREPARING, UPDATE_ERASING, UPDATE_WRITING, UPDATE_TIMEOUT}));
    // Three unanswered sendings of 501 pauses of 1 ms each, and little else.
    EXPECT_LT(run.seconds, 15.0);
    const std::vector<EventKind> kinds = Kinds(run);
    ASSERT_GE(kinds.size(), 3u);
    EXPECT_EQ(kinds[kinds.size() - 3], EventKind::Message);
    EXPECT_EQ(run.events[kinds.size() - 3].text, "Programming failed");
    EXPECT_EQ(run.events[kinds.size() - 3].caption, "Warning");
    EXPECT_EQ(kinds[kinds.size() - 2], EventKind::Close);
    EXPECT_EQ(kinds.back(), EventKind::Done);
    EXPECT_EQ(run.eventsAfterDone, 0u);
    EXPECT_FALSE(PortsOpen()); // the send found the unit gone and closed both
}

// Nothing is sent while the unit erases, so no send can find it gone: the wait must notice by
// itself, long before its own bound (90 s, beyond this test's bound).
TEST_F(UpdateWorker, UnplugWhileErasingEndsTheWaitAtOnce) {
    Start("update;erase=2000;unplug_erase=1");
    const FirmwareImage image = TestImage();
    WorkerRun run;
    RunWorkerToEnd(&image, kBoundMs, run);
    ASSERT_TRUE(run.done);
    EXPECT_EQ(StatusesOf(run),
              (std::vector<int>{UPDATE_PREPARING, UPDATE_ERASING, UPDATE_TIMEOUT}));
    uint64_t erasingAt = 0;
    uint64_t timeoutAt = 0;
    for (const UpdateEvent& e : run.events) {
        if (e.kind == EventKind::Status && e.value == UPDATE_ERASING) {
            erasingAt = e.atUs;
        }
        if (e.kind == EventKind::Status && e.value == UPDATE_TIMEOUT) {
            timeoutAt = e.atUs;
        }
    }
    // Gone 1 s into erasing; noticed within a pause or so (generous for a loaded machine).
    EXPECT_LT(timeoutAt - erasingAt, 10u * 1000 * 1000);
    EXPECT_EQ(run.events.back().kind, EventKind::Done);
}

// A wake-up left over from an earlier reply must not cut a pause short: nine whole pauses of
// 50 ms pass before the handshake gives up.
TEST_F(UpdateWorker, LeftoverWakeUpDoesNotShortenTheHandshake) {
    Start("update;delay=1000"); // answers long after the handshake has given up
    SetEvent(ReplyStoredEvent());
    const FirmwareImage image = TestImage();
    WorkerRun run;
    RunWorkerToEnd(&image, kBoundMs, run);
    ASSERT_TRUE(run.done);
    ASSERT_GE(run.events.size(), 2u);
    EXPECT_EQ(run.events[0].value, UPDATE_PREPARING);
    EXPECT_EQ(run.events[1].kind, EventKind::Status);
    EXPECT_EQ(run.events[1].value, UPDATE_TIMEOUT);
    EXPECT_GE(run.events[1].atUs - run.events[0].atUs, 9u * 50 * 1000);
}

TEST_F(UpdateWorker, UnitNotInUpdateModeIsToldAndTheWindowAskedToClose) {
    Start("normal");
    const FirmwareImage image = TestImage();
    WorkerRun run;
    RunWorkerToEnd(&image, kBoundMs, run);
    ASSERT_TRUE(run.done);
    ASSERT_EQ(run.events.size(), 5u);
    EXPECT_EQ(run.events[0].kind, EventKind::Status);
    EXPECT_EQ(run.events[0].value, UPDATE_PREPARING);
    EXPECT_EQ(run.events[1].kind, EventKind::Message);
    EXPECT_EQ(run.events[1].text, "tavi not in update mode");
    EXPECT_EQ(run.events[1].caption, "Error");
    EXPECT_EQ(run.events[2].text, "Programming failed");
    EXPECT_EQ(run.events[2].caption, "Warning");
    EXPECT_EQ(run.events[3].kind, EventKind::Close);
    EXPECT_EQ(run.events[4].kind, EventKind::Done);
    EXPECT_EQ(run.eventsAfterDone, 0u);
}

TEST_F(UpdateWorker, MissingImageIsReportedAsACorruptedFile) {
    Start("update");
    WorkerRun run;
    RunWorkerToEnd(nullptr, kBoundMs, run);
    ASSERT_TRUE(run.done);
    const std::vector<EventKind> expected = {EventKind::Status, EventKind::Message,
                                             EventKind::Message, EventKind::Close, EventKind::Done};
    EXPECT_EQ(Kinds(run), expected);
    ASSERT_EQ(run.events.size(), expected.size());
    EXPECT_EQ(run.events[1].text, "Data file corrupted");
    EXPECT_EQ(run.events[1].caption, "Error");
    EXPECT_EQ(run.events[2].text, "Programming failed");
    EXPECT_EQ(run.events[2].caption, "Warning");
    SimUnitView view{};
    api.unitSnapshot(&view);
    EXPECT_EQ(view.messagesReceived, 0u); // nothing was sent
}

} // namespace
