// The send path: what reaches the unit, and when the header is done.
#include "tests/standin/standin_fixture.h"

TEST_F(StandIn, LongMessageSendsBufferLengthBytesNotBytesRecorded) {
    ASSERT_EQ(midiOutOpen(&out, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    uint8_t bytes[] = {0xF0, 0x2C, 0x4D, 0x10, 0xF7};
    MIDIHDR header{};
    header.lpData = reinterpret_cast<LPSTR>(bytes);
    header.dwBufferLength = sizeof bytes;
    header.dwBytesRecorded = 2;
    ASSERT_EQ(midiOutPrepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutLongMsg(out, &header, sizeof header), MMSYSERR_NOERROR);
    // Wine-like by default: done before the call returns.
    EXPECT_EQ(header.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE));
    EXPECT_EQ(midiOutUnprepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitForEvent("dropped 7 no-input")); // no input open for the reply
    EXPECT_EQ(Events(),
              (std::vector<std::string>{"open out 1", "rx F0 2C 4D 10 F7",
                                        "tx F0 2C 4D 21 32 31 F7", "dropped 7 no-input"}));
}

TEST_F(StandIn, AsynchronousCompletionComesLaterFromAnotherThread) {
    Configure("normal;async_done=200");
    // The recorder takes output notifications too: it keeps MOM_DONE's header and thread.
    ASSERT_EQ(midiOutOpen(&out, 1, reinterpret_cast<DWORD_PTR>(RecordNotification),
                          reinterpret_cast<DWORD_PTR>(&recorder), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    SendLong(kStatusRequest);
    EXPECT_EQ(sendHeader.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_INQUEUE));
    EXPECT_EQ(midiOutUnprepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MIDIERR_STILLPLAYING);
    EXPECT_EQ(midiOutClose(out), MIDIERR_STILLPLAYING);
    EXPECT_TRUE(HasEvent("refused midiOutClose 65"));
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> hold(recorder.mutex);
        return !recorder.seen.empty() && recorder.seen.back().message == MOM_DONE;
    }));
    EXPECT_NE(sendHeader.dwFlags & MHDR_DONE, 0u);
    EXPECT_EQ(recorder.seen.back().param1, reinterpret_cast<DWORD_PTR>(&sendHeader));
    EXPECT_NE(recorder.seen.back().thread, GetCurrentThreadId());
    EXPECT_EQ(midiOutUnprepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
}

TEST_F(StandIn, OutputResetFinishesPendingSendsAndSendsTheChannelMessages) {
    Configure("normal;async_done=5000");
    ASSERT_EQ(midiOutOpen(&out, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    SendLong(kStatusRequest);
    ASSERT_TRUE(WaitForEvent("dropped 7 no-input")); // the reply, before the reset's lines
    api.clearTranscript();
    ASSERT_EQ(midiOutReset(out), MMSYSERR_NOERROR);
    EXPECT_EQ(sendHeader.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE));
    std::vector<std::string> expected{"reset out"};
    for (int channel = 0; channel < 16; ++channel) {
        char line[32];
        snprintf(line, sizeof line, "rx B%X 7B 00", channel);
        expected.push_back(line);
        snprintf(line, sizeof line, "rx B%X 79 00", channel);
        expected.push_back(line);
    }
    auto events = Events();
    events.resize(std::min(events.size(), expected.size()));
    EXPECT_EQ(events, expected);
}

TEST_F(StandIn, HeaderReleaseRefusedAsScripted) {
    Configure("normal;refuse_release=3;refuse_release_at=1");
    ASSERT_EQ(midiOutOpen(&out, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    SendLong(kStatusRequest); // message 0: released at once
    EXPECT_EQ(midiOutUnprepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    SendLong(kStatusRequest); // message 1: refused three times
    std::vector<MMRESULT> answers;
    for (int i = 0; i < 4; ++i)
        answers.push_back(midiOutUnprepareHeader(out, &sendHeader, sizeof(MIDIHDR)));
    EXPECT_EQ(answers, (std::vector<MMRESULT>{MIDIERR_STILLPLAYING, MIDIERR_STILLPLAYING,
                                              MIDIERR_STILLPLAYING, MMSYSERR_NOERROR}));
    EXPECT_EQ(sendHeader.dwFlags, static_cast<DWORD>(MHDR_DONE));
    EXPECT_TRUE(HasEvent("refused midiOutUnprepareHeader 65"));
}
