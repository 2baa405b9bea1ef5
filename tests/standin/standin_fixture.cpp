#include "tests/standin/standin_fixture.h"

#include <algorithm>
#include <sstream>

const std::vector<uint8_t> kStatusRequest = {0xF0, 0x2C, 0x4D, 0x10, 0xF7};
const std::vector<uint8_t> kRunningReply = {0xF0, 0x2C, 0x4D, 0x21, 0x32, 0x31, 0xF7};

void CALLBACK RecordNotification(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                 DWORD_PTR) {
    auto* recorder = reinterpret_cast<Recorder*>(instance);
    Notification n{message, param1, GetCurrentThreadId(), nullptr, 0, {}};
    if (message == MIM_LONGDATA || message == MIM_LONGERROR) {
        n.header = reinterpret_cast<MIDIHDR*>(param1);
        n.flags = n.header->dwFlags;
        n.data.assign(n.header->lpData, n.header->lpData + n.header->dwBytesRecorded);
    }
    bool rearm = false;
    {
        std::lock_guard<std::mutex> hold(recorder->mutex);
        recorder->seen.push_back(n);
        rearm = recorder->rearm && message == MIM_LONGDATA && !n.data.empty();
    }
    // Called without our own lock held: a stand-in holding its lock here would deadlock.
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
    std::istringstream lines(Transcript());
    std::string line;
    while (std::getline(lines, line))
        events.push_back(line.substr(line.find(' ') + 1));
    return events;
}

bool StandIn::HasEvent(const std::string& event) {
    auto events = Events();
    return std::find(events.begin(), events.end(), event) != events.end();
}

void StandIn::OpenUnitPair(DWORD bufferSize) {
    ASSERT_EQ(midiOutOpen(&out, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInOpen(&in, 1, reinterpret_cast<DWORD_PTR>(RecordNotification),
                         reinterpret_cast<DWORD_PTR>(&recorder),
                         CALLBACK_FUNCTION | MIDI_IO_STATUS),
              MMSYSERR_NOERROR);
    for (MIDIHDR* header : {&headerA, &headerB}) {
        *header = MIDIHDR{};
        header->lpData = header == &headerA ? bufferA : bufferB;
        header->dwBufferLength = bufferSize;
        ASSERT_EQ(midiInPrepareHeader(in, header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(midiInAddBuffer(in, header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    }
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
    std::lock_guard<std::mutex> hold(recorder.mutex);
    recorder.seen.clear();
}

void StandIn::SendLong(const std::vector<uint8_t>& bytes) {
    sendBytes = bytes;
    sendHeader = MIDIHDR{};
    sendHeader.lpData = reinterpret_cast<LPSTR>(sendBytes.data());
    sendHeader.dwBufferLength = static_cast<DWORD>(sendBytes.size());
    ASSERT_EQ(midiOutPrepareHeader(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutLongMsg(out, &sendHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
}

std::vector<std::string> StandIn::LongSeen() {
    std::vector<Notification> seen;
    {
        std::lock_guard<std::mutex> hold(recorder.mutex);
        seen = recorder.seen;
    }
    std::vector<std::string> lines;
    for (const auto& n : seen) {
        if (n.message != MIM_LONGDATA && n.message != MIM_LONGERROR)
            continue;
        std::string line = n.header == &headerA ? "A" : n.header == &headerB ? "B" : "?";
        line += n.message == MIM_LONGDATA ? " data" : " error";
        for (uint8_t byte : n.data) {
            char hex[4];
            snprintf(hex, sizeof hex, " %02X", byte);
            line += hex;
        }
        if (n.flags != (MHDR_PREPARED | MHDR_DONE))
            line += " flags " + std::to_string(n.flags);
        if (n.thread == GetCurrentThreadId())
            line += " on the calling thread";
        lines.push_back(line);
    }
    return lines;
}
