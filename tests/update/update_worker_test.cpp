// The update worker thread under Wine against the stand-in unit: real ports, real replies on
// the driver's thread, real posted commands and message boxes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firmware/update_sequence.h"
#include "midi/port_link.h"
#include "protocol/device_state.h"
#include "protocol/messages.h"
#include "tests/support/test_image.h"
#include "worker_run.h"

namespace {

using Lines = std::vector<std::string>;

constexpr DWORD kBoundMs = 60000; // far beyond any run here; only a hang reaches it

class UpdateWorker : public ::testing::Test {
  protected:
    SimApi api{};
    WorkerRun run;

    void Start(const char* scenario) {
        ASSERT_EQ(ConfigureUnit(api, scenario), 0) << "the stand-in winmm.dll is not loaded";
        ASSERT_EQ(OpenUnitPorts(), 0);
    }
    // Runs the worker on bytes (the embedded image by default) to its end.
    void Go(const std::vector<uint8_t>* bytes = nullptr, bool noImage = false) {
        ASSERT_FALSE(HasFatalFailure());
        const FirmwareImage image = bytes ? MakeFirmwareImage(bytes->data(), bytes->size())
                                          : MakeFirmwareImage(kTestImage, kTestImageSize);
        RunWorkerToEnd(noImage ? nullptr : &image, kBoundMs, run);
        ASSERT_EQ(run.started, 0);
        ASSERT_TRUE(run.done);
        EXPECT_EQ(run.eventsAfterDone, 0u);
    }
    // Every record accepted: the statuses in order, a rising progress value per record up to 99
    // between Writing and Succeeded, done last, no box and no close.
    void ExpectSucceeded(unsigned records) {
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(Summary(run.events), SucceededRun());
        const std::vector<int> progress = ProgressValues(run.events);
        ASSERT_EQ(progress.size(), records);
        for (size_t i = 1; i < progress.size(); ++i) {
            ASSERT_LE(progress[i - 1], progress[i]);
        }
        EXPECT_EQ(progress.back(), 99);
        EXPECT_EQ(run.events[3].kind, EventKind::Progress);
        EXPECT_EQ(run.events[run.events.size() - 3].kind, EventKind::Progress);
        SimUnitView view{};
        api.unitSnapshot(&view);
        EXPECT_EQ(view.recordsAccepted, records);
    }
    void TearDown() override { CloseUnitPorts(); }
};

TEST_F(UpdateWorker, FullUpdateSucceedsAndTheUnitThenRunsTheNewVersion) {
    Start("update;version=3230");
    Go();
    ExpectSucceeded(2357);
    // After done the window closes the ports; the user picks the port again.
    CloseUnitPorts();
    ASSERT_EQ(OpenUnitPorts(), 0);
    ClearReplyCode(TheDevice);
    const SysExMessage& status = MessageTable[MSG_STATUS_REQUEST];
    SendSysEx(status.bytes, status.length);
    for (int i = 0; i < 200 && LoadReplyCode(TheDevice) == 0; ++i) {
        WaitForSingleObject(ReplyStoredEvent(), 10);
    }
    EXPECT_EQ(LoadReplyCode(TheDevice), REPLY_RUNNING);
    EXPECT_EQ(TheDevice.FirmwareVersion[0].load(), '2');
    EXPECT_EQ(TheDevice.FirmwareVersion[1].load(), '1');
}

TEST_F(UpdateWorker, SucceedsWhenSendsCompleteAsynchronously) {
    // The embedded image cut after 300 records, with its terminator: a shorter run.
    const FirmwareImage whole = MakeFirmwareImage(kTestImage, kTestImageSize);
    ImageCursor cursor = whole.start + IMAGE_HEADER_LENGTH;
    SysExMessage record{};
    for (unsigned i = 0; i < 300 && NextRecord(whole, cursor, record) == 1; ++i) {
        cursor += record.length;
    }
    std::vector<uint8_t> bytes(whole.start, cursor);
    bytes.push_back(0x0D);
    bytes.push_back(0xFF);
    Start("update;async_done=1;delay=1");
    Go(&bytes);
    ExpectSucceeded(300);
}

TEST_F(UpdateWorker, UnplugAtARecordFailsWithinTheBounds) {
    Start("update;unplug_record=100");
    Go();
    EXPECT_EQ(Summary(run.events),
              FailedRun({StatusLine(UPDATE_PREPARING), StatusLine(UPDATE_ERASING),
                         StatusLine(UPDATE_WRITING), StatusLine(UPDATE_TIMEOUT)}));
    // Three unanswered sendings of 501 pauses of 1 ms each, and little else.
    EXPECT_LT(run.seconds, 15.0);
    EXPECT_FALSE(PortsOpen()); // the send found the unit gone and closed both
}

// Nothing is sent while the unit erases, so no send can find it gone: the wait must notice by
// itself, long before its own bound (90 s, beyond this test's bound).
TEST_F(UpdateWorker, UnplugWhileErasingEndsTheWaitAtOnce) {
    Start("update;erase=2000;unplug_erase=1");
    Go();
    EXPECT_EQ(Summary(run.events),
              FailedRun({StatusLine(UPDATE_PREPARING), StatusLine(UPDATE_ERASING),
                         StatusLine(UPDATE_TIMEOUT)}));
    // Gone 1 s into erasing; noticed within a pause or so (generous for a loaded machine).
    EXPECT_LT(StatusAtUs(run.events, UPDATE_TIMEOUT) - StatusAtUs(run.events, UPDATE_ERASING),
              10u * 1000 * 1000);
}

// A wake-up left over from an earlier reply must not cut a pause short: nine whole pauses of
// 50 ms pass before the handshake gives up.
TEST_F(UpdateWorker, LeftoverWakeUpDoesNotShortenTheHandshake) {
    Start("update;delay=1000"); // answers long after the handshake has given up
    SetEvent(ReplyStoredEvent());
    Go();
    EXPECT_EQ(Summary(run.events),
              FailedRun({StatusLine(UPDATE_PREPARING), StatusLine(UPDATE_TIMEOUT)}));
    EXPECT_GE(StatusAtUs(run.events, UPDATE_TIMEOUT) - StatusAtUs(run.events, UPDATE_PREPARING),
              9u * 50 * 1000);
}

TEST_F(UpdateWorker, MissingImageOrNotInUpdateModeIsToldAndTheWindowAskedToClose) {
    const struct {
        const char* scenario;
        bool noImage;
        const char* box;
    } cases[] = {{"update", true, "Data file corrupted/Error"},
                 {"normal", false, "tavi not in update mode/Error"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        run = WorkerRun{};
        Start(c.scenario);
        Go(nullptr, c.noImage);
        EXPECT_EQ(Summary(run.events), FailedRun({StatusLine(UPDATE_PREPARING), c.box}));
        EXPECT_EQ(run.events.size(), 5u);
        SimUnitView view{};
        api.unitSnapshot(&view);
        EXPECT_EQ(view.messagesReceived, c.noImage ? 0u : 1u); // the handshake alone
        CloseUnitPorts();
    }
}

} // namespace
