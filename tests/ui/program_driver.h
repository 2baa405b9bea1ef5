// Drives the real program as a user would: starts it as a process of its own beside the
// stand-in winmm.dll, works its dialog through window messages and reads what went over the
// simulated MIDI cable from the stand-in's transcript. Every wait is bounded.
#pragma once
#include <string>
#include <vector>

struct Scenario {
    const char* name;
    const char* sim;                // the stand-in's scenario text
    std::vector<std::string> steps; // "verb arguments" each, as program_driver.cpp lists them
    const char* program = "tavi-setup.exe"; // beside the driver
};

// Runs the steps against a fresh start of the program, then ends it: "" when every step held,
// else the step that failed and what the window showed. With a shot folder, each "shot" step
// asks whoever takes the pictures for one (NN-name.wanted there, deleted once taken).
std::string RunScenario(const Scenario& scenario, const std::string& shotFolder = "");
