// Web MIDI for the page: access with SysEx, the outputs in the access object's order, and the
// link to one output and the input that pairs with it. What the program's port link does over
// WinMM, with the browser's ports: whole messages per event, liveness from the ports' state.

export const NO_WEB_MIDI =
  "This browser cannot reach MIDI devices.\n" +
  "Open this page in Chrome, Edge or Firefox.";
export const ACCESS_REFUSED =
  "MIDI access was refused.\n" +
  "Allow MIDI devices (with SysEx) for this page in the browser's site settings, " +
  "then choose the unit in the list again.";

let access = null;
let pending = null;
let link = null; // { output, input }

// The access object, asked for once; a refusal may be asked again at the next use.
// Resolves to the access object, or rejects with the text to show.
export function requestAccess(onStateChange) {
  if (access) {
    return Promise.resolve(access);
  }
  if (!pending) {
    if (typeof navigator.requestMIDIAccess !== "function") {
      return Promise.reject(new Error(NO_WEB_MIDI));
    }
    pending = navigator.requestMIDIAccess({ sysex: true }).then(
      (granted) => {
        access = granted;
        access.addEventListener("statechange", onStateChange);
        return access;
      },
      () => {
        pending = null;
        throw new Error(ACCESS_REFUSED);
      },
    );
  }
  return pending;
}

const connected = (port) => port.state === "connected";

// The outputs there are now, in the access object's order.
export function outputs() {
  return access ? [...access.outputs.values()].filter(connected) : [];
}

function inputs() {
  return access ? [...access.inputs.values()].filter(connected) : [];
}

// The input paired with output (one of outputs()) by the core's rule, or null.
export function pairedInput(core, output) {
  const outs = outputs();
  const ins = inputs();
  const index = core.matchInput(outs.map((p) => p.name ?? ""), outs.indexOf(output),
    ins.map((p) => p.name ?? ""));
  return index >= 0 ? ins[index] : null;
}

// Opens both ports and listens. 0; -2 the output would not open; -4 the input would not.
export async function openLink(output, input, onMessage) {
  closeLink();
  try {
    await output.open();
  } catch {
    return -2;
  }
  try {
    await input.open();
  } catch {
    output.close().catch(() => {});
    return -4;
  }
  input.onmidimessage = (event) => onMessage(event.data);
  link = { output, input };
  return 0;
}

export function closeLink() {
  if (!link) {
    return;
  }
  const { output, input } = link;
  link = null;
  input.onmidimessage = null;
  input.close().catch(() => {});
  output.close().catch(() => {});
}

export function linkOpen() {
  return link !== null;
}

// True while the link is open and both its ports are still there.
export function linkAlive() {
  return link !== null && connected(link.output) && connected(link.input);
}

// Sends one message; with no link, nothing. A port that has gone throws (InvalidStateError):
// that is the unit lost, so the link closes and false comes back.
export function send(bytes) {
  if (!link) {
    return false;
  }
  try {
    link.output.send(bytes);
    return true;
  } catch {
    closeLink();
    return false;
  }
}
