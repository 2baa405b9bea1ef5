// The simulated Web MIDI of the demo build and the page's tests: navigator.requestMIDIAccess
// yields ports that lead to the unit model (compiled to wasm), set up by the page address's
// ?sim= text: the unit's scenario, plus keys of the browser's own
//   others=N            N other devices, listed before the unit
//   plug_after=MS       the unit is plugged in MS after the access was granted
// window.taviSim lets tests see every message with its time and unplug or plug the unit.
import createUnit from './unit.js';

const now = () => performance.now();
const knobs = {others: '0', plug_after: '-1'};
const unitText = [];
for (const token of (new URLSearchParams(location.search).get('sim') ?? 'update').split(';')) {
  const [key, value] = token.split('=').map((part) => part.trim());
  if (key in knobs && value !== undefined) knobs[key] = value;
  else unitText.push(token);
}
const sim = {transcript: [], scenario: unitText.join(';'), unplug, plug};
window.taviSim = sim;
const ready = createUnit();
let unit = null;
let buffer = 0;

function port(type, id, name, receive) {
  const p = Object.assign(new EventTarget(), {
    type, id, name, manufacturer: '', version: '', state: 'connected', connection: 'closed',
    onstatechange: null, onmidimessage: null,
    async open() { if (p.connection !== 'open') setConnection(p, 'open'); return p; },
    async close() { if (p.connection !== 'closed') setConnection(p, 'closed'); return p; },
  });
  if (type === 'input') {
    let handler = null; // setting the handler opens an input, as in the browser
    Object.defineProperty(p, 'onmidimessage', {
      get: () => handler,
      set: (f) => { handler = f; if (f) p.open(); },
    });
  } else {
    p.clear = () => {};
    p.send = (data, timestamp) => {
      if (p.state !== 'connected') throw new DOMException('Port is disconnected', 'InvalidStateError');
      const bytes = Uint8Array.from(data);
      if (bytes.some((b, i) => b > 0xFF || b !== data[i]) || !(bytes[0] >= 0x80)) throw new TypeError('Invalid MIDI message');
      if (bytes[0] === 0xF0 && (bytes.at(-1) !== 0xF7 || bytes.slice(1, -1).some((b) => b >= 0x80))) {
        throw new TypeError('Invalid SysEx message');
      }
      if (p.connection !== 'open') setConnection(p, 'open');
      const wait = (timestamp ?? 0) - now();
      if (wait > 0) setTimeout(() => receive(bytes), wait);
      else receive(bytes);
    };
  }
  return p;
}

const ports = {outputs: [], inputs: []};
const access = Object.assign(new EventTarget(), {sysexEnabled: true, onstatechange: null,
                                                 inputs: new Map(), outputs: new Map()});
function changed(p) {
  for (const target of [p, access]) {
    const event = Object.assign(new Event('statechange'), {port: p});
    target.dispatchEvent(event);
    target.onstatechange?.(event);
  }
}
function setConnection(p, connection) { p.connection = connection; changed(p); }

for (let n = 1; n <= Number(knobs.others); n++) {
  ports.outputs.push(port('output', `other-out-${n}`, `Other ${n}`, () => {}));
  ports.inputs.push(port('input', `other-in-${n}`, `Other ${n}`, null));
}
const unitOut = port('output', 'tavi-out', 'tavi', toUnit);
const unitIn = port('input', 'tavi-in', 'tavi', null);

function listUnit() {
  if (access.outputs.has(unitOut.id)) return;
  access.outputs.set(unitOut.id, unitOut);
  access.inputs.set(unitIn.id, unitIn);
  changed(unitOut);
  changed(unitIn);
}

function hex(bytes) { return Array.from(bytes, (b) => b.toString(16).toUpperCase().padStart(2, '0')).join(' '); }

// Replies in due order; delivered from a message task, never nested in a timer, so that the
// browser's clamp of nested timers to 4 ms does not slow a unit that answers within 2 ms.
const queue = [];
let timer = 0;
const wake = new MessageChannel();
wake.port1.onmessage = deliverDue;
function deliverDue() {
  while (queue.length && queue[0].at <= now()) deliver(queue.shift().bytes);
  arm();
}
// Never delivers within the send that asked: a browser hands replies over in tasks of their own.
function arm() {
  clearTimeout(timer);
  timer = 0;
  if (!queue.length) return;
  const wait = queue[0].at - now();
  if (wait <= 0) wake.port2.postMessage(0);
  else timer = setTimeout(() => wake.port2.postMessage(0), Math.ceil(wait));
}
function deliver(bytes) {
  if (unitIn.state !== 'connected' || unitIn.connection !== 'open') return;
  sim.transcript.push({t: now(), from: 'unit', hex: hex(bytes)});
  const event = new MIDIMessageEvent('midimessage', {data: bytes});
  unitIn.dispatchEvent(event);
  unitIn.onmidimessage?.(event);
}

function toUnit(bytes) {
  const t = now();
  sim.transcript.push({t, from: 'page', hex: hex(bytes)});
  if (unitOut.state !== 'connected' || bytes.length > 1 << 16) return;
  const heap = unit.HEAPU8;
  heap.set(bytes, buffer);
  unit._SimReceive(t, buffer, bytes.length);
  for (let i = 0; i < unit._SimReplies(); i++) {
    const start = unit._SimReplyBytes(i);
    const at = t + unit._SimReplyDue(i) - Math.floor(t);
    queue.push({at, bytes: heap.slice(start, start + unit._SimReplyLength(i))});
  }
  unit._SimTakeReplies();
  queue.sort((a, b) => a.at - b.at); // stable: equal times keep the unit's order
  arm();
  if (unit._SimUnplugged(now())) unplug();
}

let unplugTimer = 0;
function plug(text = sim.scenario) {
  const bytes = new TextEncoder().encode(text + '\0');
  const at = unit._malloc(bytes.length);
  unit.HEAPU8.set(bytes, at);
  const result = unit._SimPlugIn(at, now());
  unit._free(at);
  if (result !== 0) throw new Error(`The simulated unit does not understand "${text}"`);
  queue.length = 0;
  clearTimeout(unplugTimer);
  const unplugAt = unit._SimUnplugAt();
  if (unplugAt >= 0) unplugTimer = setTimeout(unplug, unplugAt - now());
  for (const p of [unitOut, unitIn]) {
    if (p.state === 'connected') continue;
    p.state = 'connected';
    if (p.connection === 'pending') p.connection = 'open';
    changed(p);
  }
  listUnit();
}
function unplug() {
  queue.length = 0;
  for (const p of [unitOut, unitIn]) {
    if (p.state === 'disconnected') continue;
    p.state = 'disconnected';
    if (p.connection === 'open') p.connection = 'pending';
    changed(p);
  }
}

navigator.requestMIDIAccess = async (options = {}) => {
  if (!unit) {
    unit = await ready;
    buffer = unit._malloc(1 << 16);
    for (const p of ports.outputs) access.outputs.set(p.id, p);
    for (const p of ports.inputs) access.inputs.set(p.id, p);
    const later = Number(knobs.plug_after);
    if (later >= 0) setTimeout(() => plug(), later);
    else plug();
  }
  access.sysexEnabled = Boolean(options.sysex);
  return access;
};
