// Drives the page in Debian's headless Chromium as a user would, finding controls only by role
// and name, and reads what the simulated unit received. One step language for the test table,
// the benchmark and the run command's walk-through. Each step is a string: "verb args".
import { mkdirSync } from "node:fs";
import { chromium } from "playwright-core";
import { serve } from "../../tools/serve_static.mjs";

const LIMIT_MS = 60000; // a bound, never a pause: steps end as soon as their condition holds

export const launch = () => chromium.launch({ executablePath: "/usr/bin/chromium",
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-sync",
    "--disable-background-networking", "--disable-component-update"] });

// A fresh profile on a served site: "demo" (simulated unit) or "release" (none).
// row: { sim, site, grant = true, init }
export async function open(browser, root, row) {
  const server = await serve(root);
  // Pictures of the page alone: a window about the size of the page.
  const context = await browser.newContext(row.shots ? { viewport: { width: 300, height: 520 } }
    : {});
  if (row.grant !== false) {
    await context.grantPermissions(["midi", "midi-sysex"], { origin: server.url });
  }
  if (row.init) {
    await context.addInitScript(row.init);
  }
  const page = await context.newPage();
  const errors = [];
  page.on("pageerror", (error) => errors.push(error.message));
  await page.goto(server.url + (row.sim !== undefined ? `?sim=${encodeURIComponent(row.sim)}` : ""));
  return { page, context, server, errors, shots: row.shots, root };
}

export async function close(session) {
  await session.context.close();
  await session.server.close();
}

const NAMES = {
  list: ["combobox", "MIDI port"],
  device: ["status", "Unit status"],
  line: ["status", "Update status"],
  bar: ["progressbar", "Update progress"],
  update: ["button", "Update firmware"],
  help: ["button", "Update help"],
  "help-settings": ["button", "Settings help"],
  zero: ["checkbox", "Blank leading zero"],
  frames: ["checkbox", "Blank frames when running"],
  ltc: ["checkbox", "Disable stationary LTC output"],
  fly: ["checkbox", "Infinite flywheel"],
  mmc: ["spinbutton", "MIDI Machine Control ID"],
  bright: ["slider", "Brightness"],
};
const GROUPS = { settings: ["zero", "frames", "ltc", "fly", "mmc", "bright"] };

function control(page, name) {
  const [role, label] = NAMES[name];
  return page.getByRole(role, { name: label, exact: true });
}

// What the unit received, as { t, hex } in order (t in ms on the page's clock).
export async function received(page) {
  return page.evaluate(() => window.taviSim.transcript.filter((m) => m.from === "page"));
}

async function poll(check, what) {
  for (const until = Date.now() + LIMIT_MS; ;) {
    const result = await check();
    if (result === true) return;
    if (Date.now() > until) throw new Error(`${what}: ${result}`);
    await new Promise((resolve) => setTimeout(resolve, 25));
  }
}

async function enabled(s, names, want) {
  for (const name of names.split(" ").flatMap((n) => GROUPS[n] ?? [n])) {
    await poll(async () => (await control(s.page, name).isEnabled()) === want || "not so",
      `${want ? "on" : "off"} ${name}`);
  }
}

// The open message box, or null: { caption, text }.
async function messageBox(page) {
  const box = page.getByRole("dialog");
  if (!(await box.isVisible())) return null;
  return { caption: await box.getByRole("heading").textContent(),
    text: await box.locator("p").textContent(), box };
}

const STEPS = {
  // Chooses an output by its name, as a user does: the list's first use asks for access.
  // "pick" alone only uses the list.
  async pick(s, name) {
    const list = control(s.page, "list");
    await list.focus();
    if (!name) return;
    await poll(async () => (await list.locator("option", { hasText: name }).count()) > 0 ||
      "not listed", `pick ${name}`);
    await list.selectOption({ label: name });
  },
  on: (s, args) => enabled(s, args, true),
  off: (s, args) => enabled(s, args, false),
  click: (s, name) => control(s.page, name).click(),
  // A message box with this caption and text ("box CAPTION|TEXT", or any text with "box
  // CAPTION"), answered with OK.
  async box(s, args) {
    const [caption, text] = args.split("|");
    await poll(async () => {
      const box = await messageBox(s.page);
      return (box && box.caption === caption && (text === undefined || box.text === text)) ||
        `box ${JSON.stringify(box && [box.caption, box.text])}`;
    }, `box ${caption}`);
    await s.page.getByRole("dialog").getByRole("button", { name: "OK" }).click();
  },
  async nobox(s) {
    const box = await messageBox(s.page);
    if (box) throw new Error(`unexpected box ${box.caption}: ${box.text}`);
  },
  // Types into the MMC ID field and leaves it (Tab), or presses Enter with "type TEXT enter".
  async type(s, args) {
    const [text, how] = args.split(" ");
    const field = control(s.page, "mmc");
    await field.fill(text === "-" ? "" : text);
    await field.press(how === "enter" ? "Enter" : "Tab");
  },
  key: (s, args) => control(s.page, args.split(" ")[0]).press(args.split(" ")[1]),
  // "is NAME WANT": a status line's text, the bar's value, a box's tick (true or false) or a
  // field's text; "past N": the bar shows at least N.
  async is(s, args) {
    const [name] = args.split(" ", 1);
    const want = args.slice(name.length + 1);
    const field = control(s.page, name);
    const role = NAMES[name][0];
    await poll(async () => {
      const now = role === "status" ? await field.textContent()
        : role === "progressbar" ? await field.getAttribute("value")
          : role === "checkbox" ? String(await field.isChecked()) : await field.inputValue();
      return now === want || `is "${now}"`;
    }, `is ${args}`);
  },
  past: (s, value) => poll(async () => Number(await control(s.page, "bar")
    .getAttribute("value")) >= Number(value) || "not yet", `past ${value}`),
  async entries(s, want) {
    const texts = await control(s.page, "list").locator("option:not([hidden])").allTextContents();
    if (texts.join("|") !== want) throw new Error(`entries: ${texts.join("|")}`);
  },
  // "log HEX=N": the unit received N messages beginning with HEX; "log HEX>=N" at least N.
  async log(s, args) {
    const [, prefix, op, count] = /^(.*?)(>?=)(\d+)$/.exec(args);
    await poll(async () => {
      const n = (await received(s.page)).filter((m) => m.hex.startsWith(prefix)).length;
      return (op === "=" ? n === Number(count) : n >= Number(count)) || `${n} received`;
    }, `log ${args}`);
  },
  // "paced HEX, HEX, ...": the unit received these as its last messages, each at least 45 ms
  // after the one before (the page sends them 50 ms apart).
  async paced(s, args) {
    const want = args.split(", ");
    await poll(async () => {
      const all = await received(s.page);
      const last = all.slice(-want.length);
      if (last.map((m) => m.hex).join(", ") !== args) {
        return `received ${last.map((m) => m.hex).join(", ")}`;
      }
      const gaps = last.slice(1).map((m, i) => m.t - last[i].t);
      return gaps.every((gap) => gap >= 45) || `gaps ${gaps.join(" ")}`;
    }, "paced");
  },
  sim: (s, action) => s.page.evaluate((what) => window.taviSim[what](), action),
  // The network goes: the server stops, and the page is loaded again.
  async offline(s) {
    await poll(async () => (await s.page.evaluate(() => !!navigator.serviceWorker.controller)) ||
      "no worker in control", "offline");
    await s.server.close();
    await s.page.reload();
  },
  async shot(s, name) {
    if (s.shots) {
      mkdirSync(s.shots, { recursive: true });
      s.shotCount = (s.shotCount ?? 0) + 1;
      await s.page.screenshot({ path: `${s.shots}/${String(s.shotCount).padStart(2, "0")}-${name}.png` });
    }
  },
};

export async function run(session, steps) {
  for (const step of steps) {
    const [verb] = step.split(" ", 1);
    try {
      await STEPS[verb](session, step.slice(verb.length + 1));
    } catch (error) {
      error.message = `step "${step}": ${error.message}`;
      throw error;
    }
  }
  if (session.errors.length > 0) throw new Error(`uncaught in the page: ${session.errors.join("; ")}`);
}
