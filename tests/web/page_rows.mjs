// The page's scenario table: each row a scenario text for the simulated unit (or the released
// site, with no unit), and a user's steps in the driver's step words (page_driver.mjs).
const OPENING = "F0 2C 4D 52 7F F7, F0 2C 4D 55 7F F7, F0 2C 4D 53 7F F7, F0 2C 4D 58 7F F7, " +
  "F0 2C 4D 59 7F F7, F0 2C 4D 56 7F F7, F0 2C 4D 10 F7";
const FAILED = "box Warning|Programming failed";
const STATECHANGE_LATER = `const dispatch = EventTarget.prototype.dispatchEvent;
  EventTarget.prototype.dispatchEvent = function (event) {
    if (event.type !== "statechange") return dispatch.call(this, event);
    setTimeout(() => dispatch.call(this, event), 1000);
    return true;
  };`;
// After a run, good or failed: the ports closed, back to port selection.
const RELEASED = ["is device tavi not found", "on list", "off update settings", "nobox"];

export const rows = [
  { name: "start-up: nothing sent until the list is used; no outputs, then the unit plugged in",
    sim: "normal;plug_after=1500",
    steps: ["is device ", "is line ", "is bar 0", "entries ", "off update settings",
      "on list help help-settings", "click help",
      "box Help|To program new firmware 2.1 you must boot tavi in update mode:\n\nStep 1:\n" +
      "Hold down both keys while connecting the unit to the USB port of your computer.\n" +
      "Step 2:\nSelect device tavi in the list below the picture.\nStep 3:\n" +
      "Press Update firmware button.", "pick", "box Warning|No MIDI outputs available\n" +
      "Plug the tavi in, then choose it in the list below the picture.",
    "entries No MIDI outputs available", "log F0=0", "pick tavi", "is device Firmware 2.1"] },
  { name: "pairing among other devices, the opening messages 50 ms apart, the status line",
    sim: "normal;others=2", steps: ["pick", "entries Other 1|Other 2|tavi", "pick tavi",
      `paced ${OPENING}`, "is device Firmware 2.1", "off update", "on settings"] },
  { name: "update mode enables Update firmware; unplugged while idle", sim: "update",
    steps: ["pick tavi", "is device tavi in update mode", "on update", "sim unplug",
      "is device tavi not found", "off update settings", "entries No MIDI outputs available",
      "on list"] },
  { name: "a full update; the unit then runs 2.1", tour: true, sim: "update;delay=2",
    steps: ["shot start", "pick tavi", "is device tavi in update mode", "shot update-mode",
      "click update", "off list update settings", "is line Writing", "past 30",
      "shot writing", "is line Programming successful", "is bar 99", ...RELEASED,
      "log F0 2C 4D 30>=2357", "log F0 2C 4D 50 F7=1", "shot programming-successful",
      "pick tavi", "is device Firmware 2.1", "is line Programming successful",
      "is bar 99", "on settings", "shot firmware-2.1"] },
  { name: "unplugged while writing: Timeout error, then the page is usable", sim: "update;delay=2",
    // As a browser does, the ports' statechange comes in a later task, so sends meet the gone
    // port first (and throw); a help box open meanwhile holds the failure's box back.
    init: STATECHANGE_LATER,
    steps: ["pick tavi", "on update", "click update", "past 10", "click help-settings",
      "sim unplug", "is line Timeout error", "box Help", FAILED, ...RELEASED] },
  { name: "the third rejection of a record fails the update", sim: "update;reject=10x3",
    steps: ["pick tavi", "on update", "click update", "is line Checksum error", FAILED,
      ...RELEASED, "log F0 2C 4D 30=13"] },
  { name: "a unit that leaves update mode before the handshake", sim: "update;running_from_status=1",
    steps: ["pick tavi", "on update", "click update", "box Error|tavi not in update mode",
      FAILED, ...RELEASED, "log F0 2C 4D 12=0"] },
  { name: "settings: options, the MMC ID text rule and arrows, the slider; kept by the unit",
    sim: "normal",
    steps: ["pick tavi", "on settings", "is mmc 000", "click zero",
      "log F0 2C 4D 52 01 F7=1", "type 5", "is mmc 005", "log F0 2C 4D 53 05 F7=1",
      "type 127", "is mmc 005", "log F0 2C 4D 53 05 F7=2", "type 1234 enter", "is mmc 123",
      "type 1a", "is mmc 123", "type -", "log F0 2C 4D 53 7B F7=3", "key mmc ArrowUp",
      "is mmc 124", "log F0 2C 4D 53 7C F7=1", "key bright End", "log F0 2C 4D 56 0F F7=1",
      "pick tavi", "is device Firmware 2.1", "is zero true", "is mmc 124",
      "is bright 15"] },
  { name: "no Web MIDI in this browser", site: "release",
    init: "delete Navigator.prototype.requestMIDIAccess",
    steps: ["pick", "box Warning|This browser cannot reach MIDI devices.\n" +
      "Open this page in Chrome, Edge or Firefox.", "entries "] },
  { name: "MIDI access refused", site: "release", grant: false,
    steps: ["pick", "box Warning|MIDI access was refused.\nAllow MIDI devices (with SysEx) for " +
      "this page in the browser's site settings, then choose the unit in the list again.",
    "entries "] },
  { name: "offline once visited", sim: "normal",
    steps: ["offline", "pick tavi", "is device Firmware 2.1"] },
];
