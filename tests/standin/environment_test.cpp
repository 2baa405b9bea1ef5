// The environment route the program's own runs take: TAVI_SIM and TAVI_SIM_LOG, read once at
// first use. Checked in a child process (this same test program), since this process has long
// read its environment.
#include "tests/standin/standin_fixture.h"

#include <fstream>
#include <sstream>

namespace {

const char kChildVariable[] = "TAVI_STANDIN_CHILD";

// Runs this test program again with the given environment; its exit code and transcript.
int RunChild(const char* role, const char* scenario, std::string* transcript) {
    char self[MAX_PATH];
    char directory[MAX_PATH];
    char log[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    GetTempPathA(MAX_PATH, directory);
    GetTempFileNameA(directory, "sim", 0, log);
    DeleteFileA(log); // the stand-in creates it
    SetEnvironmentVariableA(kChildVariable, role);
    SetEnvironmentVariableA("TAVI_SIM", scenario);
    SetEnvironmentVariableA("TAVI_SIM_LOG", log);
    std::string command = std::string("\"") + self + "\" --gtest_filter=StandInEnvironment.*";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, &process);
    for (const char* name : {kChildVariable, "TAVI_SIM", "TAVI_SIM_LOG"})
        SetEnvironmentVariableA(name, nullptr);
    if (!started)
        return -1;
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    std::stringstream text;
    text << std::ifstream(log, std::ios::binary).rdbuf();
    *transcript = text.str();
    DeleteFileA(log);
    return static_cast<int>(code);
}

} // namespace

TEST(StandInEnvironment, ScenarioAndTranscriptComeFromTheEnvironment) {
    char role[16] = {};
    GetEnvironmentVariableA(kChildVariable, role, sizeof role);
    if (std::string(role) == "good") { // the process ends the moment the port is closed
        ASSERT_EQ(midiOutGetNumDevs(), 3u);
        HMIDIOUT out = nullptr;
        ASSERT_EQ(midiOutOpen(&out, 2, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        EXPECT_EQ(midiOutShortMsg(out, 0x00403C90), MMSYSERR_NOERROR);
        EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
        ExitProcess(::testing::Test::HasFailure() ? 1 : 0);
    }
    if (std::string(role) == "bad") { // a scenario not understood leaves no ports at all
        EXPECT_EQ(midiOutGetNumDevs(), 0u);
        EXPECT_EQ(midiInGetNumDevs(), 0u);
        return;
    }
    std::string text;
    ASSERT_EQ(RunChild("good", " normal ; outputs=A|B|tavi ; delay=5", &text), 0);
    for (const char* event : {" configure  normal ; outputs=A|B|tavi ; delay=5\n", " plug\n",
                              " open out 2\n", " rx 90 3C 40\n", " close out\n"})
        EXPECT_NE(text.find(event), std::string::npos) << event << " in\n" << text;
    ASSERT_EQ(RunChild("bad", "normal;busy_out=x", &text), 0);
    EXPECT_NE(text.find(" configure-error "), std::string::npos) << text;
}
