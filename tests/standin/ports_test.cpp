// Port lists, names and capabilities, and the open refusals a scenario can script.
#include "tests/standin/standin_fixture.h"

#include <regex>

namespace {

std::string OutputName(UINT id) {
    MIDIOUTCAPSA caps{};
    if (midiOutGetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR)
        return "<unreadable>";
    return caps.szPname;
}

std::string InputName(UINT id) {
    MIDIINCAPSA caps{};
    if (midiInGetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR)
        return "<unreadable>";
    return caps.szPname;
}

} // namespace

TEST_F(StandIn, DefaultPortsAreOtherAndTheUnitsPair) {
    ASSERT_EQ(midiOutGetNumDevs(), 2u);
    ASSERT_EQ(midiInGetNumDevs(), 2u);
    EXPECT_EQ(OutputName(0), "Other");
    EXPECT_EQ(OutputName(1), "tavi");
    EXPECT_EQ(InputName(0), "Other");
    EXPECT_EQ(InputName(1), "tavi MIDI In");
    MIDIOUTCAPSW wide{};
    ASSERT_EQ(midiOutGetDevCapsW(1, &wide, sizeof wide), MMSYSERR_NOERROR);
    EXPECT_EQ(std::wstring(wide.szPname), L"tavi");
    EXPECT_EQ(wide.wTechnology, MOD_MIDIPORT);
    EXPECT_EQ(wide.wChannelMask, 0xFFFF);
    EXPECT_EQ(wide.wVoices, 0);
}

TEST_F(StandIn, CapabilitiesCopyOnlyTheBytesAskedFor) {
    MIDIOUTCAPSA caps;
    memset(&caps, 0xAA, sizeof caps);
    ASSERT_EQ(midiOutGetDevCapsA(1, &caps, 10), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname[0], 't'); // wMid, wPid, vDriverVersion take 8 bytes, then the name
    EXPECT_EQ(caps.szPname[1], 'a');
    EXPECT_EQ(static_cast<unsigned char>(caps.szPname[2]), 0xAA);
    EXPECT_EQ(midiOutGetDevCapsA(1, nullptr, sizeof caps), MMSYSERR_INVALPARAM);
}

TEST_F(StandIn, IdsPastTheListAreBadDeviceIds) {
    MIDIOUTCAPSA outCaps{};
    MIDIINCAPSA inCaps{};
    HMIDIOUT o = nullptr;
    HMIDIIN i = nullptr;
    EXPECT_EQ(midiOutGetDevCapsA(2, &outCaps, sizeof outCaps), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(midiInGetDevCapsA(2, &inCaps, sizeof inCaps), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(midiOutOpen(&o, 2, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(midiInOpen(&i, 2, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
}

TEST_F(StandIn, NamesAndTheUnitsPortsComeFromTheScenario) {
    Configure("normal;outputs=USB Audio Device|tavi 2|tavi;inputs=Other|USB Audio Device|tavi");
    ASSERT_EQ(midiOutGetNumDevs(), 3u);
    ASSERT_EQ(midiInGetNumDevs(), 3u);
    EXPECT_EQ(OutputName(1), "tavi 2");
    EXPECT_EQ(InputName(1), "USB Audio Device");
    // The first name beginning with "tavi" is the unit's unless unit_out says otherwise.
    ASSERT_EQ(midiOutOpen(&out, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutShortMsg(out, 0x00403C90), MMSYSERR_NOERROR);
    EXPECT_TRUE(HasEvent("rx 90 3C 40"));
    EXPECT_TRUE(HasEvent("open out 1"));
}

TEST_F(StandIn, NoPortsAtAll) {
    Configure("no_ports=1");
    EXPECT_EQ(midiOutGetNumDevs(), 0u);
    EXPECT_EQ(midiInGetNumDevs(), 0u);
    HMIDIOUT o = nullptr;
    EXPECT_EQ(midiOutOpen(&o, 0, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
}

TEST_F(StandIn, BusyPortsAreAllocated) {
    Configure("normal;busy_out=1;busy_in=1");
    HMIDIOUT o = nullptr;
    HMIDIIN i = nullptr;
    EXPECT_EQ(midiOutOpen(&o, 1, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_EQ(o, nullptr);
    EXPECT_EQ(midiInOpen(&i, 1, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_TRUE(HasEvent("refused midiOutOpen 4"));
    EXPECT_TRUE(HasEvent("refused midiInOpen 4"));
    // The other ports are free.
    ASSERT_EQ(midiOutOpen(&out, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
}

TEST_F(StandIn, APortOpenTwiceIsAllocated) {
    ASSERT_EQ(midiOutOpen(&out, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    HMIDIOUT second = nullptr;
    EXPECT_EQ(midiOutOpen(&second, 1, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
}

TEST_F(StandIn, UnreadableCapabilitiesByScenario) {
    Configure("normal;caps_fail_out=0;caps_fail_in=1");
    MIDIOUTCAPSA outCaps{};
    MIDIINCAPSA inCaps{};
    EXPECT_EQ(midiOutGetDevCapsA(0, &outCaps, sizeof outCaps), MMSYSERR_NODRIVER);
    EXPECT_EQ(midiInGetDevCapsA(1, &inCaps, sizeof inCaps), MMSYSERR_NODRIVER);
    EXPECT_EQ(OutputName(1), "tavi");
    EXPECT_EQ(InputName(0), "Other");
}

TEST_F(StandIn, ScenarioTextThatIsNotUnderstoodIsRefused) {
    const char* bad[] = {"normal;busy_out=x", "normal;unplug_code=7", "normal;no_such_knob=1",
                         "normal;outputs=a name that is far too long for a port"};
    for (const char* text : bad) {
        EXPECT_EQ(api.configure(text), -1) << text;
        char error[256] = {};
        api.configureError(error, sizeof error);
        EXPECT_STRNE(error, "") << text;
    }
    // The last good scenario stays.
    EXPECT_EQ(midiOutGetNumDevs(), 2u);
}

TEST_F(StandIn, OpenAndCloseNotifyAndAreLogged) {
    HMIDIIN i = nullptr;
    ASSERT_EQ(midiInOpen(&i, 1, reinterpret_cast<DWORD_PTR>(RecordNotification),
                         reinterpret_cast<DWORD_PTR>(&recorder), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    ASSERT_EQ(midiInClose(i), MMSYSERR_NOERROR);
    auto seen = recorder.Snapshot();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].message, static_cast<UINT>(MIM_OPEN));
    EXPECT_EQ(seen[1].message, static_cast<UINT>(MIM_CLOSE));
    EXPECT_EQ(Events(), (std::vector<std::string>{"open in 1", "close in"}));
}

TEST_F(StandIn, TranscriptFileIsWrittenWhileThePortIsOpen) {
    char directory[MAX_PATH];
    char path[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, directory), 0u);
    ASSERT_NE(GetTempFileNameA(directory, "sim", 0, path), 0u);
    ASSERT_EQ(api.setTranscriptPath(path), 0);
    EXPECT_STREQ(api.transcriptPath(), path);
    ASSERT_EQ(midiOutOpen(&out, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutShortMsg(out, 0x00403C90), MMSYSERR_NOERROR);
    // Read while the stand-in still has the file open; it writes in batches a few
    // milliseconds apart.
    char text[256] = {};
    DWORD read = 0;
    const DWORD started = GetTickCount();
    while (GetTickCount() - started < 2000) {
        HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        read = 0;
        ReadFile(file, text, sizeof text - 1, &read, nullptr);
        CloseHandle(file);
        if (std::string(text, read).find(" rx 90 3C 40\n") != std::string::npos)
            break;
        Sleep(1);
    }
    api.setTranscriptPath(nullptr);
    DeleteFileA(path);
    std::string content(text, read);
    EXPECT_NE(content.find(" open out 1\n"), std::string::npos) << content;
    EXPECT_NE(content.find(" rx 90 3C 40\n"), std::string::npos) << content;
    // Every line: milliseconds with three decimals, one space, the event.
    std::regex line("([0-9]+\\.[0-9]{3} [a-z][^\n]*\n)+");
    EXPECT_TRUE(std::regex_match(content, line)) << content;
}
