// The environment route the program's own runs take: TAVI_SIM and TAVI_SIM_LOG, read once at
// first use. Checked in a child process (this same test program), since this process has long
// read its environment.
#include "tests/standin/standin_fixture.h"

#include <fstream>
#include <sstream>

namespace {

const char kChildVariable[] = "TAVI_STANDIN_CHILD";

std::string ChildRole() {
    char role[16] = {};
    GetEnvironmentVariableA(kChildVariable, role, sizeof role);
    return role;
}

// Runs this test program again with the given environment; its exit code, or -1.
int RunChild(const char* role, const char* scenario, const std::string& log) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    SetEnvironmentVariableA(kChildVariable, role);
    SetEnvironmentVariableA("TAVI_SIM", scenario);
    SetEnvironmentVariableA("TAVI_SIM_LOG", log.c_str());
    std::string command = std::string("\"") + self + "\" --gtest_filter=StandInEnvironment.*";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, &process);
    SetEnvironmentVariableA(kChildVariable, nullptr);
    SetEnvironmentVariableA("TAVI_SIM", nullptr);
    SetEnvironmentVariableA("TAVI_SIM_LOG", nullptr);
    if (!started)
        return -1;
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return static_cast<int>(code);
}

std::string TempPath() {
    char directory[MAX_PATH];
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    GetTempFileNameA(directory, "sim", 0, path);
    DeleteFileA(path); // the stand-in creates it
    return path;
}

std::string ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

TEST(StandInEnvironment, ScenarioAndTranscriptComeFromTheEnvironment) {
    std::string role = ChildRole();
    if (role == "good") { // in the child
        ASSERT_EQ(midiOutGetNumDevs(), 3u);
        HMIDIOUT out = nullptr;
        ASSERT_EQ(midiOutOpen(&out, 2, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        EXPECT_EQ(midiOutShortMsg(out, 0x00403C90), MMSYSERR_NOERROR);
        EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
        return;
    }
    if (role == "exit") { // the process ends the moment the port is closed
        HMIDIOUT out = nullptr;
        ASSERT_EQ(midiOutOpen(&out, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        EXPECT_EQ(midiOutShortMsg(out, 0x00403C90), MMSYSERR_NOERROR);
        EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
        ExitProcess(0);
    }
    if (role == "bad") { // a scenario not understood leaves no ports at all
        EXPECT_EQ(midiOutGetNumDevs(), 0u);
        EXPECT_EQ(midiInGetNumDevs(), 0u);
        return;
    }
    std::string log = TempPath();
    ASSERT_EQ(RunChild("good", " normal ; outputs=A|B|tavi ; delay=5", log), 0);
    std::string text = ReadAll(log);
    DeleteFileA(log.c_str());
    for (const char* event : {" configure  normal ; outputs=A|B|tavi ; delay=5\n", " plug\n",
                              " open out 2\n", " rx 90 3C 40\n", " close out\n"})
        EXPECT_NE(text.find(event), std::string::npos) << event << " in\n" << text;

    ASSERT_EQ(RunChild("bad", "normal;busy_out=x", log), 0);
    text = ReadAll(log);
    DeleteFileA(log.c_str());
    EXPECT_NE(text.find(" configure-error "), std::string::npos) << text;
}

TEST(StandInEnvironment, LinesLoggedJustBeforeTheProcessEndsReachTheFile) {
    if (!ChildRole().empty())
        return; // the child's part is in the test above
    std::string log = TempPath();
    ASSERT_EQ(RunChild("exit", "normal", log), 0);
    std::string text = ReadAll(log);
    DeleteFileA(log.c_str());
    EXPECT_NE(text.find(" rx 90 3C 40\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" close out\n"), std::string::npos) << text;
}
