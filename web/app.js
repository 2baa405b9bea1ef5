// The page: what the program's dialog does, on Web MIDI. The port list, the half-second look
// at the unit, Update firmware with its status line and bar, the helps; the settings are in
// settings.js, the protocol and the update sequence in the core.
import { loadCore } from "./core.js";
import { showMessage } from "./message_box.js";
import * as midi from "./midi.js";
import { disableSettings, lockSettings, settingsSink, setupSettings } from "./settings.js";

const STATUS_TICK_MS = 500;
const OPENING_PAUSE_MS = 50;
const NOTHING_SHOWN = 99;
const MODE_NORMAL = 1;
const MODE_UPDATE = 2;
const VERSION_INVALID = 0x7f;

const NO_OUTPUTS = "No MIDI outputs available";
const PLUG_IN = "Plug the tavi in, then choose it in the list below the picture.";
const OUTPUT_BUSY =
  "Selected MIDI output not available.\nPort is probably used by an other application.";
const INPUT_BUSY =
  "Selected MIDI input not available.\nPort is probably used by an other application.";
const UPDATE_HELP =
  "To program new firmware 2.1 you must boot tavi in update mode:\n\n" +
  "Step 1:\nHold down both keys while connecting the unit to the USB port of your computer.\n" +
  "Step 2:\nSelect device tavi in the list below the picture.\n" +
  "Step 3:\nPress Update firmware button.";
const SETTINGS_HELP =
  "Firmware 2.1 must be installed to enable the following settings:\n\n\n" +
  "Blank leading zero of the time code display, i.e.  1:00:00:00 instead of 01:00:00:00.\n\n" +
  "Blank frames when running. Running time code will be displayed without frames i.e. " +
  "01:00:00.\n\n" +
  "Disable stationary LTC output.\n" +
  "Stationary LTC time code (not incrementing) is used to indicate an exact position.\n" +
  "Some LTC readers may not interpret stationary time code and produce errors.\n\n" +
  "Infinite flywheel.\n" +
  "When the time code input signal disappears during time code translation,\n" +
  "the Infinte flywheel option continues re-generation until a new valid time code will " +
  "be detected.\n\n" +
  "MIDI Machine Control ID serves to address MMC machines individually in addition to ID " +
  "127 (broadcast).\n\n" +
  "Brightness slider sets time code display and status LED brightness.\n\n" +
  "All settings are stored non volatile.";

const portList = document.getElementById("port-list");
const deviceText = document.getElementById("device-text");
const updateButton = document.getElementById("update");
const updateText = document.getElementById("update-text");
const progress = document.getElementById("progress");

const page = {
  core: null,
  lastShown: NOTHING_SHOWN,
  tick: null, // the status timer, when running
  listed: [], // the outputs the list shows, in its order
  updating: false,
  choosing: 0, // counts port choices, so a newer one ends an older one's opening
};

// --- The core's callbacks: sends, the sequence's waits, its statuses and boxes ---

let waiter = null; // the sequence's current pause

function endWait() {
  if (waiter) {
    clearTimeout(waiter.timer);
    const { resolve } = waiter;
    waiter = null;
    resolve();
  }
}

// A reply from the paired input: parsed by the core; an awaited one ends the pause at once.
function onMidiMessage(data) {
  const code = page.core.reply(data);
  if (code !== 0 && waiter &&
      (waiter.awaited === 0 || code === waiter.awaited || code === waiter.alternative)) {
    endWait();
  }
}

// A timer set in a timer's own callback, a few deep, is held to 4 ms by the browser, and the
// sequence's pauses follow each other that way: so each pause's timer is set from a message
// task of its own, which keeps the 1 ms pauses of a record wait near 1 ms.
const timerHop = new MessageChannel();
timerHop.port1.onmessage = () => {
  if (waiter && !waiter.timer) {
    waiter.timer = setTimeout(endWait, waiter.ms);
  }
};

const shell = {
  send: (bytes) => {
    midi.send(bytes);
  },
  linkOpen: () => midi.linkAlive(),
  // One counted pause of the sequence: its time, or until an awaited reply is stored.
  wait: (ms, awaited, alternative) => new Promise((resolve) => {
    waiter = { ms, awaited, alternative: alternative || -1, resolve, timer: 0 };
    timerHop.port2.postMessage(0);
  }),
  status: (text) => {
    updateText.textContent = text;
  },
  progress: (percent) => {
    progress.value = percent;
  },
  message: (text, caption) => showMessage(text, caption),
  done: () => {
    // As the dialog does after a run, good or failed: ports closed, back to port selection;
    // the status line and the bar keep their last values.
    releaseUnit();
    portList.disabled = false;
    lockSettings(false);
    page.updating = false;
    startTick();
  },
  ...settingsSink,
};

// --- The status timer ---

function stopTick() {
  clearTimeout(page.tick);
  page.tick = null;
}

function startTick() {
  stopTick();
  page.tick = setTimeout(statusTick, STATUS_TICK_MS);
}

function releaseUnit() {
  midi.closeLink();
  page.core.setAbsent();
  page.lastShown = NOTHING_SHOWN;
  portList.value = "";
}

function showAbsent() {
  deviceText.textContent = "tavi not found";
  updateButton.disabled = true;
  disableSettings();
}

function statusTick() {
  page.tick = null;
  if (!midi.linkAlive()) {
    releaseUnit();
  }
  const mode = page.core.deviceMode();
  const changed = mode !== page.lastShown;
  if (mode === MODE_NORMAL) {
    if (changed) {
      const [major, minor] = page.core.version();
      deviceText.textContent = major === VERSION_INVALID || minor === VERSION_INVALID
        ? "Invalid firmware"
        : `Firmware ${String.fromCharCode(major)}.${String.fromCharCode(minor)}`;
    }
    updateButton.disabled = true;
  } else if (mode === MODE_UPDATE) {
    if (changed) {
      deviceText.textContent = "tavi in update mode";
    }
    updateButton.disabled = false;
  } else if (changed) {
    showAbsent();
  }
  page.lastShown = mode;
  startTick();
}

// --- The port list ---

// Shows the outputs there are; the choice stays as long as its output is there.
function fillPortList() {
  const chosen = page.listed[portList.selectedIndex - 1];
  page.listed = midi.outputs();
  const entries = page.listed.map((port) => new Option(port.name ?? "", port.id));
  if (entries.length === 0) {
    const none = new Option(NO_OUTPUTS, "none");
    none.disabled = true;
    entries.push(none);
  }
  portList.replaceChildren(portList.options[0], ...entries);
  portList.value = chosen && page.listed.includes(chosen) ? chosen.id : "";
}

function onStateChange() {
  fillPortList();
  if (midi.linkOpen() && !midi.linkAlive()) {
    // The unit's ports went: the lost link, shown at once unless an update runs (its waits
    // run out by themselves, and it returns to port selection when done).
    midi.closeLink();
    if (!page.updating) {
      stopTick();
      statusTick();
    }
  }
}

// The first use of the list asks for MIDI access; until then nothing asks the browser.
async function onFirstUse() {
  try {
    await midi.requestAccess(onStateChange);
  } catch (error) {
    await showMessage(error.message, "Warning");
    return;
  }
  if (page.listed.length === 0) {
    fillPortList();
    if (page.listed.length === 0) {
      await showMessage(`${NO_OUTPUTS}\n${PLUG_IN}`, "Warning");
    }
  }
}

// Choosing an output: pair it, open both ports, then the seven opening messages 50 ms apart.
async function onPortChosen() {
  const choice = ++page.choosing;
  const output = page.listed[portList.selectedIndex - 1];
  stopTick();
  releaseUnit();
  portList.value = output ? output.id : "";
  const input = output ? midi.pairedInput(page.core, output) : null;
  if (!input) {
    startTick(); // not a unit we can talk to: the next tick says "tavi not found"
    return;
  }
  const opened = await midi.openLink(output, input, onMidiMessage);
  if (choice !== page.choosing) {
    return;
  }
  if (opened !== 0) {
    startTick();
    await showMessage(opened === -2 ? OUTPUT_BUSY : INPUT_BUSY, "Warning");
    return;
  }
  for (let i = 0; i < page.core.openingQueryCount(); ++i) {
    page.core.sendOpeningQuery(i);
    await new Promise((resolve) => setTimeout(resolve, OPENING_PAUSE_MS));
    if (choice !== page.choosing) {
      return;
    }
  }
  startTick();
}

async function onUpdateFirmware() {
  progress.value = 0;
  if (!midi.linkAlive()) {
    await showMessage("tavi not connected", "Warning");
    return;
  }
  stopTick();
  page.updating = true;
  updateButton.disabled = true;
  portList.disabled = true;
  lockSettings(true);
  await page.core.runUpdate();
}

// The controls listen from the start; what needs the core waits until it has loaded, so a user
// quicker than the download loses nothing.
const ready = loadCore(shell).then((core) => {
  page.core = core;
  setupSettings(core);
});
const whenReady = (handler) => (event) => ready.then(() => handler(event));

for (const kind of ["focus", "mousedown", "click"]) {
  portList.addEventListener(kind, whenReady(onFirstUse));
}
portList.addEventListener("change", whenReady(onPortChosen));
updateButton.addEventListener("click", whenReady(onUpdateFirmware));
document.getElementById("help-update").addEventListener("click",
  () => showMessage(UPDATE_HELP, "Help"));
document.getElementById("help-settings").addEventListener("click",
  () => showMessage(SETTINGS_HELP, "Help"));
if ("serviceWorker" in navigator) {
  navigator.serviceWorker.register("sw.js").catch(() => {});
}
