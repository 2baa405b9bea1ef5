// The unit's six settings: four options, the MMC ID (three digits, arrows) and the brightness
// slider. Each control becomes usable once the unit has reported its value; every change goes
// to the unit at once, settings messages at least 50 ms apart as the program sends them.
const SETTINGS_PAUSE_MS = 50;
const MMC_ID_MAX = 126;

const options = [...document.querySelectorAll(".option")];
const mmcField = document.getElementById("mmc-id");
const mmcUp = document.getElementById("mmc-up");
const mmcDown = document.getElementById("mmc-down");
const slider = document.getElementById("brightness");

const state = { mmcId: 0, lastBrightnessSent: 0, locked: false };
let core = null;
let sending = Promise.resolve();

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Sends through the core one after another, each followed by the settings pause.
function queueSend(sendIt) {
  sending = sending.then(() => {
    sendIt();
    return pause(SETTINGS_PAUSE_MS);
  });
}

function showMmcId(id) {
  mmcField.value = String(id).padStart(3, "0");
  mmcField.setAttribute("aria-valuenow", String(id));
}

// Takes the ID as current, shows it and sends it, also when unchanged: a rejected text must
// visibly fall back to what the unit holds, and the unit may have missed the last one.
function applyMmcId(id) {
  state.mmcId = Math.min(Math.max(id, 0), MMC_ID_MAX);
  showMmcId(state.mmcId);
  const sent = state.mmcId;
  queueSend(() => core.sendMmcId(sent));
}

function commitMmcText() {
  if (!state.locked && !mmcField.disabled) {
    applyMmcId(core.mmcIdFromText(mmcField.value.slice(0, 4), state.mmcId));
  }
}

function step(by) {
  if (!state.locked && !mmcField.disabled) {
    applyMmcId(state.mmcId + by);
  }
}

export function setupSettings(theCore) {
  core = theCore;
  options.forEach((box, option) => {
    box.addEventListener("change", () => {
      if (!state.locked) {
        const on = box.checked;
        queueSend(() => core.sendOption(option, on));
      }
    });
  });
  mmcField.addEventListener("keydown", (event) => {
    if (event.key === "ArrowUp" || event.key === "ArrowDown") {
      event.preventDefault();
      step(event.key === "ArrowUp" ? 1 : -1);
    } else if (event.key === "Enter") {
      event.preventDefault();
      commitMmcText();
    }
  });
  mmcField.addEventListener("blur", commitMmcText);
  mmcUp.addEventListener("click", () => step(1));
  mmcDown.addEventListener("click", () => step(-1));
  slider.addEventListener("input", () => {
    const level = Number(slider.value) & 0x0f;
    if (!state.locked && level !== state.lastBrightnessSent) {
      state.lastBrightnessSent = level;
      queueSend(() => core.sendBrightness(level));
    }
  });
}

// The unit's replies, as the core's parser hands them over.
export const settingsSink = {
  option(option, on) {
    const box = options[option];
    if (box) {
      box.checked = on;
      box.disabled = state.locked;
    }
  },
  mmcId(id) {
    if (id >= 0 && id <= MMC_ID_MAX) {
      state.mmcId = id;
      showMmcId(id);
    }
    for (const control of [mmcField, mmcUp, mmcDown]) {
      control.disabled = state.locked;
    }
  },
  brightness(level) {
    slider.value = String(Math.min(level, 15));
    slider.disabled = state.locked;
  },
};

export function disableSettings() {
  for (const control of [...options, mmcField, mmcUp, mmcDown, slider]) {
    control.disabled = true;
  }
}

// During an update the core alone talks to the unit. The flag goes first, so that the MMC ID
// field losing the focus as it is disabled sends nothing.
export function lockSettings(locked) {
  state.locked = locked;
  if (locked) {
    disableSettings();
  }
}
