// Port lists, names and capabilities, and the open refusals a scenario can script.
#include "tests/standin/standin_fixture.h"

#include <fstream>
#include <regex>
#include <sstream>

namespace {

std::string PortName(bool output, UINT id) {
    MIDIOUTCAPSA outCaps{};
    MIDIINCAPSA inCaps{};
    MMRESULT result = output ? midiOutGetDevCapsA(id, &outCaps, sizeof outCaps)
                             : midiInGetDevCapsA(id, &inCaps, sizeof inCaps);
    return result != MMSYSERR_NOERROR ? "<" + std::to_string(result) + ">"
           : output                   ? outCaps.szPname
                                      : inCaps.szPname;
}

} // namespace

TEST_F(StandIn, PortListsComeFromTheScenario) {
    struct Case {
        const char* scenario;
        std::vector<std::string> outputs;
        std::vector<std::string> inputs;
    };
    const Case cases[] = {
        {"no_ports=1", {}, {}},
        {"normal;outputs=USB Audio Device|tavi 2|tavi;inputs=Other|USB Audio Device|tavi",
         {"USB Audio Device", "tavi 2", "tavi"},
         {"Other", "USB Audio Device", "tavi"}},
        {"normal;caps_fail_out=0;caps_fail_in=1", {"<6>", "tavi"}, {"Other", "<6>"}},
        {"normal", {"Other", "tavi"}, {"Other", "tavi MIDI In"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        Configure(c.scenario);
        std::vector<std::string> outputs, inputs;
        for (UINT id = 0; id < midiOutGetNumDevs(); ++id)
            outputs.push_back(PortName(true, id));
        for (UINT id = 0; id < midiInGetNumDevs(); ++id)
            inputs.push_back(PortName(false, id));
        EXPECT_EQ(outputs, c.outputs);
        EXPECT_EQ(inputs, c.inputs);
    }
    // One past the list is a bad id, for capabilities and open alike.
    HMIDIOUT o = nullptr;
    HMIDIIN i = nullptr;
    EXPECT_EQ(PortName(true, 2), "<2>");
    EXPECT_EQ(PortName(false, 2), "<2>");
    EXPECT_EQ(midiOutOpen(&o, 2, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(midiInOpen(&i, 2, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    // The first name beginning with "tavi" is the unit's.
    Configure("normal;outputs=USB Audio Device|tavi 2|tavi");
    ASSERT_EQ(midiOutOpen(&out, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutShortMsg(out, 0x00403C90), MMSYSERR_NOERROR);
    EXPECT_EQ(Events(), (std::vector<std::string>{"open out 1", "rx 90 3C 40"}));
}

TEST_F(StandIn, CapabilitiesCopyOnlyTheBytesAskedFor) {
    MIDIOUTCAPSA caps;
    memset(&caps, 0xAA, sizeof caps);
    ASSERT_EQ(midiOutGetDevCapsA(1, &caps, 10), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(caps.szPname, 3), "ta\xAA"); // 8 bytes of ids and version, then the name
    EXPECT_EQ(midiOutGetDevCapsA(1, nullptr, sizeof caps), MMSYSERR_INVALPARAM);
}

TEST_F(StandIn, BusyAndAlreadyOpenPortsAreAllocated) {
    HMIDIOUT o = nullptr;
    HMIDIIN i = nullptr;
    ASSERT_EQ(midiOutOpen(&out, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutOpen(&o, 1, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    CloseAll();
    Configure("normal;busy_out=1;busy_in=1");
    EXPECT_EQ(midiOutOpen(&o, 1, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_EQ(o, nullptr);
    EXPECT_EQ(midiInOpen(&i, 1, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_TRUE(HasEvent("refused midiOutOpen 4"));
    EXPECT_TRUE(HasEvent("refused midiInOpen 4"));
    ASSERT_EQ(midiOutOpen(&out, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR); // the others are free
}

TEST_F(StandIn, TranscriptReachesTheFileWhileThePortIsOpen) {
    char directory[MAX_PATH];
    char path[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, directory), 0u);
    ASSERT_NE(GetTempFileNameA(directory, "sim", 0, path), 0u);
    ASSERT_EQ(api.setTranscriptPath(path), 0);
    ASSERT_EQ(midiOutOpen(&out, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutShortMsg(out, 0x00403C90), MMSYSERR_NOERROR);
    // Read while the stand-in still has the file open; it writes in batches.
    std::string content;
    EXPECT_TRUE(WaitUntil([&] {
        std::stringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        content = text.str();
        return content.find(" rx 90 3C 40\n") != std::string::npos;
    })) << content;
    api.setTranscriptPath(nullptr);
    DeleteFileA(path);
    EXPECT_NE(content.find(" open out 1\n"), std::string::npos) << content;
    // Every line: milliseconds with three decimals, one space, the event.
    EXPECT_TRUE(std::regex_match(content, std::regex("([0-9]+\\.[0-9]{3} [a-z][^\n]*\n)+")))
        << content;
}
