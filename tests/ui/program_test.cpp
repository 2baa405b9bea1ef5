// The real program, started afresh for each scenario and driven through its dialog. With --tour
// SCENARIO FOLDER it walks through an update for the run command, a screenshot at each stage.
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include "tests/ui/program_driver.h"

// One scenario a paragraph, its steps in the order a user takes them.
// clang-format off
const std::string kBusy = " not available.\nPort is probably used by an other application.";

// The unit restarts on USB after its update, coming back at the end of the lists; picked again
// there, it runs 2.1, and no header of the ports it left is used again.
const Scenario kTour = {"a full update; then the unit runs 2.1 and keeps what it is told",
    "update;restart=1;replug_after=1000;outputs=tavi|Other;inputs=tavi|Other",
    {"shot start", "pick tavi", "text device tavi in update mode", "on update", "shot update-mode",
     "click update", "off list update settings", "text line Writing", "past bar 40",
     "shot writing", "now line Writing", // the picture shows the stage it names
     // While the worker runs it alone talks to the unit: what reaches the window sends nothing.
     "command fly", "text line Programming successful", "pos bar 99", "text device tavi not found",
     "on list", "off update", "entries ", "nobox", "log rx F0 2C 4D 30=2357",
     "log rx F0 2C 4D 50 F7=1", "log rx F0 2C 4D 59 0=0", "shot programming-successful",
     "log plug=2",
     // The update line and the bar keep their last values.
     "pick tavi", "text device Firmware 2.1", "now line Programming successful", "pos bar 99",
     "on settings", "shot firmware-2.1", "click zero", "pos zero 1", "type 42", "text mmc 042",
     "log tx F0 2C 4D 62 01 F7=1", "log tx F0 2C 4D 63 2A F7=1", "shot settings-changed",
     "pick tavi", "log tx F0 2C 4D 62 01 F7=2", "log tx F0 2C 4D 63 2A F7=2", "on settings",
     "pos zero 1", "shot settings-kept",
     // Update pressed again (its button is off: by command) empties the bar before it asks.
     "command update", "box Error|tavi not in update mode", "pos bar 0", "log reused=0"}, "both"};

const Scenario kScenarios[] = {
    {"start-up: nothing opens until a port is chosen; Enter and Esc keep the window; Update "
     "without ports says so; an output whose input is not the unit's; the unit, an invalid version",
     "normal;version=327F",
     {"now device ", "now line ", "pos bar 0", "entries ", "on list help help-settings",
      "off update settings", "keeps device", // no timer runs before the list is first opened
      "drop", "entries Other|tavi", "undrop", "text device tavi not found", "entries ",
      "log open=0", "log rx=0", "key esc", "key enter", "click help",
      "box Help|To program new firmware 2.1 you must boot tavi in update mode:...", "alive",
      "picture 1:1", "command update", "box Warning|tavi not connected", "pick Other",
      "text device tavi not found", "keeps device", "pick tavi", "text device Invalid firmware",
      "off update", "close", "exit 0"}},
    {"the unit's pair of ports, the seven opening messages, closed input first; its answers 700 "
     "ms late", "normal;delay=700",
     {"pick tavi", "text device Firmware 2.1", "seq open: out 1, in 1",
      "paced rx F0 2C 4D: 52 7F F7, 55 7F F7, 53 7F F7, 58 7F F7, 59 7F F7, 56 7F F7, 10 F7",
      "close", "exit 0", "seq close: in, out"}, "both"},
    // Ports another program holds: the ticks go on behind the warning; a busy input's output is
    // closed again.
    {"a busy output, then a busy input", "normal;units=2;busy_out=1;busy_in=2",
     {"pick tavi", "text device tavi not found", "entries ",
      "box Warning|Selected MIDI output" + kBusy, "log open=0", "pick 2- tavi",
      "box Warning|Selected MIDI input" + kBusy, "seq open: out 2", "log open=1",
      "log close out=1", "log unit2 rx F0=0", "log rx F0=0"}},
    // Unplugged while idle, its ports answering 1 (classic), or only leaving the lists while the
    // probe answers 0 (the service's older builds).
    {"unplugged while idle", "normal;unplug_after=2500;unplug_code=1;old_build=1",
     {"pick tavi", "text device Firmware 2.1", "on zero bright", "text device tavi not found",
      "off update settings", "entries ", "log close in=1", "log close out=1"}, "both"},
    // Identical units under identical names, answering at once: the second's ports are found by
    // their device.
    {"two units of one name, the second picked: it alone is updated, the first untouched; a second "
     "start of this program shows the first",
     "normal;version=3337;settings=1,0,1,0,0,11;units=2;numbered=0;second=update",
     {"drop", "undrop 2", "text device tavi in update mode", "seq open: out 2, in 2",
      "on update", "click update", "type 9", "text line Programming successful",
      "log unit2 rx F0 2C 4D 30=2357", "log unit2 rx F0 2C 4D 53 09=0", "log rx F0 2C 4D 30=0",
      "log rx F0 2C 4D 12=0", "log dropped=0", "pick tavi", "text device Firmware 3.7",
      "off update", "keeps device update", "pos zero 1", "pos bright 11", "nobox", "again",
      "log begin=1", "alive"}, "both"},
    // A removed unit's input never closes on the service; picked again at its new place, the
    // unit works, and no buffer of the abandoned input is used again.
    {"unplugged while idle and plugged in again at another index",
     "normal;outputs=tavi|Other;inputs=tavi|Other;unplug_after=2500;replug_after=2000",
     {"pick tavi", "text device Firmware 2.1", "text device tavi not found", "entries ",
      "log refused midiInStart 6=1", "log plug=2", "pick tavi", "text device Firmware 2.1",
      "seq open: out 0, in 0, out 1, in 1", "click zero", "log tx F0 2C 4D 62 01 F7=1",
      "log close in=0", "log reused=0"}, "wms"},
    // Update mode shows at the tick that enables the button, and stays. Unplugged while erasing,
    // answering 1 (classic) or only leaving the lists (the service's older builds): the erase
    // wait gives up at once, and a failed update closes the window.
    {"unplugged while erasing", "update;erase=5000;unplug_erase=1;unplug_code=1;old_build=1",
     {"pick tavi", "on update", "now device tavi in update mode", "keeps device update",
      "click update", "text line Timeout error",
      "box Warning|Programming failed", "exit 0"}, "both"},
    kTour,
    // (The update without an image has its row natively.)
    {"built without its image: warned at start; no MIDI outputs", "outputs=;inputs=",
     {"box Warning|hResLoad", "drop", "box Warning|No MIDI outputs available",
      "entries No MIDI outputs available", "undrop 0", "text device tavi not found", "log open=0"},
     "classic", "tavi-setup-without-image.exe"},
    {"settings as the unit holds them, sent as changed, kept by the unit",
     "normal;settings=1,0,1,0,0,11",
     {"pick tavi", "on settings", "pos zero 1", "pos frames 0", "pos ltc 1", "pos fly 0",
      "now mmc 000", "pos spin 0", "pos bright 11",
      // The slider's first notification sends the reported level back, once.
      "log rx F0 2C 4D 56 0B F7=1", "click fly", "pos fly 1", "click fly", "pos fly 0",
      "paced rx F0 2C 4D 59: 7F F7, 01 F7, 00 F7",
      // Three digits shown; a text the unit cannot take sends the last good ID again (which
      // texts those are has its table natively; a typed ID is sent in the tour).
      "type x", "log tx F0 2C 4D 63 00 F7=2", "now mmc 000",
      // The arrows send each position and the end of scrolling, and stop at 126.
      "arrow up", "text mmc 001", "log tx F0 2C 4D 63 01 F7=1", "type 126",
      "log tx F0 2C 4D 63 7E F7=1", "arrow up", "arrow down", "text mmc 125",
      "log rx F0 2C 4D 53 7F=1", "key right", "pos bright 12", "log rx F0 2C 4D 56 0C F7=1"}},
    {"the worker cannot start: warned, and the window works as before; a unit that does not answer "
     "setting queries leaves them disabled; at 144 dpi the picture is scaled to its frame",
     "update;units=2;second=old",
     {"pick tavi", "on update", "click update", "box Warning|The update could not be started.\n"
      "Close other programs and press Update firmware again.", "on list update",
      "log rx F0 2C 4D 12=0", "pick 2- tavi", "text device Firmware 2.0", "off settings",
      "log unit2 tx F0 2C 4D 6=0", "click help-settings",
      "box Help|Firmware 2.1 must be installed to enable the following settings:...",
      "picture frame"}, "classic", "tavi-setup-worker-refused.exe", 144},
};
// clang-format on

TEST(Program, BehavesAsEachScenarioSays) {
    const char* only = getenv("TAVI_SCENARIO"); // a part of one scenario's name
    for (const Scenario& scenario : kScenarios) {
        for (const std::string stack : {"classic", "wms"}) {
            if ((!only || strstr(scenario.name, only)) &&
                (scenario.stack == stack || scenario.stack == std::string("both"))) {
                EXPECT_EQ(RunScenario(scenario, stack), "") << scenario.name << ", " << stack;
            }
        }
    }
}

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "--tour") == 0) {
        // A unit in update mode is updated, one running its firmware shown; of two, the second,
        // named as its stack names it. The unit a little slower than the one the tests use, so
        // that the writing stage lasts long enough to be photographed.
        const std::string sim = argv[2], slower = sim + ";delay=3;restart=1;replug_after=1000";
        const bool two = sim.find("units=2") != std::string::npos;
        const std::string port =
            (!two                                         ? ""
             : sim.find("stack=wms") == std::string::npos ? "2- "
                                                          : "2 - ") +
            std::string(sim.find("names=new") == std::string::npos ? "tavi" : "tavi Out");
        Scenario tour = kTour;
        tour.sim = slower.c_str();
        if (sim.rfind("update", 0) != 0 && sim.find("second=update") == std::string::npos) {
            tour.steps = {"shot start", "pick tavi", "alive", "shot unit"};
        }
        for (std::string& step : tour.steps) { // the second unit's events are marked so
            step.insert(4, two && step[0] == 'l' ? "unit2 " : "");
            step = step == "pick tavi" ? "pick " + port : step;
        }
        const std::string failed = RunScenario(tour, "classic", argv[3]);
        printf("walk-through %s\n", failed.empty() ? "complete" : ("stopped at " + failed).c_str());
        // For a caller that cannot see the exit code (a program inside a Wine desktop).
        FILE* result = fopen((std::string(argv[3]) + "\\result.txt").c_str(), "w");
        (void)(result &&
               fputs(failed.empty() ? "complete" : failed.c_str(), result) + fclose(result));
        return failed.empty() ? 0 : 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
