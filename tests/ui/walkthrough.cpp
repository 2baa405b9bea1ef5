// The run command's tour of the program: starts tavi-setup.exe against a simulated unit in
// update mode and goes through what a user does — pick the unit, update its firmware, pick it
// again, change settings and pick it once more to see them kept — asking for a screenshot at
// each stage.
//
//   tavi-walkthrough.exe SCENARIO SHOT_FOLDER
//
// A screenshot is asked for by creating SHOT_FOLDER\NN-stage.wanted; whoever takes the
// pictures (scripts/run, outside Wine) saves NN-stage.png and deletes the request. With
// SHOT_FOLDER "-" no pictures are asked for. Exit code 0 when every stage was reached.
#include <cstdio>
#include <string>

#include "tests/ui/ui_harness.h"

#include <commctrl.h>

#include "ui/ids.h"

namespace {

constexpr unsigned UPDATE_WAIT_MS = 180000;
constexpr unsigned SHOT_WAIT_MS = 20000;

std::string shotFolder;
int shotNumber = 0;

// Asks for a picture of the screen as it is now and waits until it was taken.
bool Screenshot(const char* stage) {
    char name[64];
    std::snprintf(name, sizeof(name), "%02d-%s", ++shotNumber, stage);
    std::printf("stage %s\n", name);
    std::fflush(stdout);
    if (shotFolder == "-") {
        return true;
    }
    const std::string request = shotFolder + "\\" + name + ".wanted";
    HANDLE file = CreateFileA(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot ask for a screenshot at %s\n", request.c_str());
        return false;
    }
    CloseHandle(file);
    if (!WaitUntil([&] { return GetFileAttributesA(request.c_str()) == INVALID_FILE_ATTRIBUTES; },
                   SHOT_WAIT_MS)) {
        std::fprintf(stderr, "nobody took the screenshot %s\n", name);
        return false;
    }
    return true;
}

// The outcome, for a caller that cannot see the exit code (a program started inside a Wine
// desktop): SHOT_FOLDER\result.txt holds "complete" or what went wrong.
void WriteResult(const std::string& text) {
    if (shotFolder == "-") {
        return;
    }
    const std::string path = shotFolder + "\\result.txt";
    if (FILE* file = std::fopen(path.c_str(), "w")) {
        std::fputs(text.c_str(), file);
        std::fclose(file);
    }
}

int Fail(UiApp& app, const char* what) {
    char text[512];
    std::snprintf(text, sizeof(text), "%s (status line \"%s\", update line \"%s\")", what,
                  ControlText(app, IDC_DEVICE_TEXT).c_str(),
                  ControlText(app, IDC_UPDATE_TEXT).c_str());
    std::fprintf(stderr, "walk-through stopped: %s\n", text);
    Screenshot("failed");
    StopApp(app);
    WriteResult(text);
    return 1;
}

// Closed as a user closes it, so the transcript ends with the ports closed.
int Finish(UiApp& app) {
    PostMessageW(app.dialog, WM_CLOSE, 0, 0);
    WaitForExit(app, UI_WAIT_MS);
    StopApp(app);
    std::printf("walk-through complete\n");
    WriteResult("complete");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string scenario = argc > 1 ? argv[1] : "update";
    shotFolder = argc > 2 ? argv[2] : "-";

    UiApp app;
    if (!StartApp(app, scenario)) {
        std::fprintf(stderr, "tavi-setup.exe did not start\n");
        WriteResult("tavi-setup.exe did not start");
        return 1;
    }
    Screenshot("start");

    if (!PickPort(app, "tavi")) {
        return Fail(app, "no port named tavi in the list");
    }
    // A unit in update mode gets its update; one that already runs its firmware is shown as
    // it is.
    std::string status;
    if (!WaitUntil([&] {
            status = ControlText(app, IDC_DEVICE_TEXT);
            return status == "tavi in update mode" || status.compare(0, 9, "Firmware ") == 0;
        })) {
        return Fail(app, "the unit did not show up");
    }
    if (status != "tavi in update mode") {
        WaitForEnabled(app, IDC_BRIGHTNESS, true);
        Screenshot("unit");
        return Finish(app);
    }
    if (!WaitForEnabled(app, IDC_UPDATE, true)) {
        return Fail(app, "Update firmware stayed disabled");
    }
    Screenshot("update-mode");

    Click(app, IDC_UPDATE);
    if (!WaitUntil([&] { return Ask(app, IDC_PROGRESS, PBM_GETPOS) >= 40; }, UPDATE_WAIT_MS)) {
        return Fail(app, "the update made no progress");
    }
    Screenshot("writing");

    if (!WaitForControlText(app, IDC_UPDATE_TEXT, "Programming successful", UPDATE_WAIT_MS)) {
        return Fail(app, "the update did not succeed");
    }
    if (!WaitForControlText(app, IDC_DEVICE_TEXT, "tavi not found")) {
        return Fail(app, "the window did not let the unit go after the update");
    }
    Screenshot("programming-successful");

    if (!PickPort(app, "tavi") || !WaitForControlText(app, IDC_DEVICE_TEXT, "Firmware 2.1")) {
        return Fail(app, "the unit did not come back with firmware 2.1");
    }
    // The settings arrive with the unit's replies to the opening queries.
    WaitForEnabled(app, IDC_BRIGHTNESS, true);
    Screenshot("firmware-2.1");

    // ---- Settings: a change goes to the unit at once, and the unit still reports it after
    // the port is picked again. (Block kept by the settings controls' owner.)
    {
        const size_t heldBefore = TranscriptEvents(app, "tx F0 2C 4D 63 2A F7").size();
        Click(app, IDC_BLANK_ZERO);
        HWND field = Control(app, IDC_MMC_ID);
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"42"), SMTO_NORMAL,
                            UI_WAIT_MS, &ignored);
        PostMessageW(field, WM_KILLFOCUS, 0, 0);
        for (int i = 0; i < 3; ++i) {
            PostMessageW(Control(app, IDC_BRIGHTNESS), WM_KEYDOWN, VK_RIGHT, 0);
            PostMessageW(Control(app, IDC_BRIGHTNESS), WM_KEYUP, VK_RIGHT, 0);
        }
        if (!WaitForTranscript(app, "tx F0 2C 4D 62 01 F7") ||
            !WaitForTranscript(app, "tx F0 2C 4D 63 2A F7", heldBefore + 1) ||
            !WaitForTranscript(app, "tx F0 2C 4D 66 0B F7") ||
            !WaitForControlText(app, IDC_MMC_ID, "042")) {
            return Fail(app, "the unit did not take the changed settings");
        }
        Screenshot("settings-changed");

        if (!PickPort(app, "tavi") || !WaitForControlText(app, IDC_DEVICE_TEXT, "Firmware 2.1") ||
            !WaitForTranscript(app, "tx F0 2C 4D 62 01 F7", 2) ||
            !WaitForTranscript(app, "tx F0 2C 4D 63 2A F7", heldBefore + 2) ||
            !WaitForTranscript(app, "tx F0 2C 4D 66 0B F7", 2) ||
            !WaitForEnabled(app, IDC_BRIGHTNESS, true) ||
            Ask(app, IDC_BLANK_ZERO, BM_GETCHECK) != BST_CHECKED) {
            return Fail(app, "the unit did not report the changed settings after re-selection");
        }
        Screenshot("settings-kept");
    }
    // ---- end of the settings block

    return Finish(app);
}
