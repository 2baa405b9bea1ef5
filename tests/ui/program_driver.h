// Drives the real program as a user would, as a process of its own beside the stand-in winmm.dll:
// its dialog through window messages, the MIDI cable through the stand-in's transcript.
#pragma once
#include <string>
#include <vector>

struct Scenario {
    const char* name;
    const char* sim;                // the stand-in's scenario text
    std::vector<std::string> steps; // "verb arguments" each, as program_driver.cpp lists them
    const char* stack = "classic";  // or wms (the newer Windows MIDI layer), or both
    const char* program = "tavi-setup.exe"; // beside the driver
    unsigned dpi = 96;                      // the display setting the program starts with
};

// Runs the steps against a fresh start of the program, then ends it: "" when every step held,
// else the step that failed and what the window showed. A "shot" step with a shot folder asks
// for a picture (NN-name.wanted there, deleted once taken).
std::string RunScenario(const Scenario& scenario, const std::string& stack = "classic",
                        const std::string& shotFolder = "");
