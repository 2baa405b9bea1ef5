#include "tests/standin/standin_fixture.h"

const std::vector<uint8_t> kStatusRequest = {0xF0, 0x2C, 0x4D, 0x10, 0xF7};
const std::vector<uint8_t> kRunningReply = {0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31, 0xF7};

std::vector<Notification> Recorder::Snapshot() {
    std::lock_guard<std::mutex> hold(mutex);
    return seen;
}

size_t Recorder::Count(UINT message) {
    std::lock_guard<std::mutex> hold(mutex);
    size_t n = 0;
    for (const auto& s : seen)
        n += s.message == message;
    return n;
}

void CALLBACK RecordNotification(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                 DWORD_PTR param2) {
    auto* recorder = reinterpret_cast<Recorder*>(instance);
    Notification n{message, param1, param2, GetCurrentThreadId(), nullptr, 0, 0, {}};
    if (message == MIM_LONGDATA || message == MIM_LONGERROR) {
        n.header = reinterpret_cast<MIDIHDR*>(param1);
        n.bytesRecorded = n.header->dwBytesRecorded;
        n.flags = n.header->dwFlags;
        n.data.assign(n.header->lpData, n.header->lpData + n.header->dwBytesRecorded);
    }
    bool rearm = false;
    {
        std::lock_guard<std::mutex> hold(recorder->mutex);
        recorder->seen.push_back(n);
        rearm = recorder->rearm && message == MIM_LONGDATA && n.bytesRecorded > 0;
    }
    // Called without holding our own lock: the stand-in must not hold its lock either, or
    // this re-entry would deadlock.
    if (rearm) {
        MMRESULT result = midiInAddBuffer(handle, n.header, sizeof(MIDIHDR));
        std::lock_guard<std::mutex> hold(recorder->mutex);
        recorder->rearmResults.push_back(result);
    }
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return condition();
        Sleep(1);
    }
    return true;
}

void StandIn::SetUp() {
    ASSERT_EQ(SimLoadApi(&api), 0) << "winmm.dll beside the test is not the stand-in";
    Configure("normal");
}

void StandIn::TearDown() {
    CloseAll();
    api.configure("normal");
}

void StandIn::Configure(const char* scenario) {
    ASSERT_EQ(api.configure(scenario), 0) << scenario;
    api.clearTranscript();
}

std::string StandIn::Transcript() {
    int length = api.readTranscript(nullptr, 0);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    api.readTranscript(&text[0], length + 1);
    text.resize(static_cast<size_t>(length));
    return text;
}

std::vector<std::string> StandIn::Events() {
    std::vector<std::string> events;
    std::string text = Transcript();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end - start);
        size_t space = line.find(' ');
        events.push_back(space == std::string::npos ? line : line.substr(space + 1));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return events;
}

bool StandIn::HasEvent(const std::string& event) {
    for (const auto& e : Events())
        if (e == event)
            return true;
    return false;
}

bool StandIn::WaitForEvent(const std::string& event, DWORD timeoutMs) {
    return WaitUntil([&] { return HasEvent(event); }, timeoutMs);
}

void StandIn::OpenUnitPair(DWORD bufferSize, UINT output, UINT input) {
    ASSERT_EQ(midiOutOpen(&out, output, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInOpen(&in, input, reinterpret_cast<DWORD_PTR>(RecordNotification),
                         reinterpret_cast<DWORD_PTR>(&recorder),
                         CALLBACK_FUNCTION | MIDI_IO_STATUS),
              MMSYSERR_NOERROR);
    headerA = MIDIHDR{};
    headerA.lpData = bufferA;
    headerA.dwBufferLength = bufferSize;
    headerB = headerA;
    headerB.lpData = bufferB;
    ASSERT_EQ(midiInPrepareHeader(in, &headerA, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInPrepareHeader(in, &headerB, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInAddBuffer(in, &headerA, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInAddBuffer(in, &headerB, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);
}

void StandIn::CloseAll() {
    if (in) {
        {
            std::lock_guard<std::mutex> hold(recorder.mutex);
            recorder.rearm = false;
        }
        midiInStop(in);
        midiInReset(in);
        midiInUnprepareHeader(in, &headerA, sizeof(MIDIHDR));
        midiInUnprepareHeader(in, &headerB, sizeof(MIDIHDR));
        EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
        in = nullptr;
    }
    if (out) {
        midiOutReset(out);
        midiOutUnprepareHeader(out, &sendHeader, sizeof(MIDIHDR));
        EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
        out = nullptr;
    }
}

void StandIn::SendLong(const std::vector<uint8_t>& bytes) {
    sendBytes = bytes;
    sendHeader = MIDIHDR{};
    sendHeader.lpData = reinterpret_cast<LPSTR>(sendBytes.data());
    sendHeader.dwBufferLength = static_cast<DWORD>(sendBytes.size());
    ASSERT_EQ(midiOutPrepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutLongMsg(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
}
