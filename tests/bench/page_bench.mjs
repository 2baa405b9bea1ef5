// Figures, never a verdict: the page's full update against the simulated unit in headless
// Chromium with replies after 0 and 2 ms (time a record, and the ratio to the unit-bound ideal:
// records x reply time + erase + the three handshakes), the renderer's CPU time while writing
// as a share of the wall time, the weight of the released site, and the time from navigation
// to a usable port list.
//
//   node tests/bench/page_bench.mjs [DEMO_DIR [SITE_DIR]]
import { readdirSync, statSync } from "node:fs";
import { join } from "node:path";
import { close, launch, open, run } from "../web/page_driver.mjs";

const [demo = "build/web/demo", site = "build/web/site"] = process.argv.slice(2);

const weight = (folder) => readdirSync(folder, { recursive: true }).map((name) =>
  statSync(join(folder, name))).reduce((sum, e) => sum + (e.isFile() ? e.size : 0), 0);

// CPU seconds of all renderer processes, from the browser's own process list.
async function rendererCpu(cdp) {
  const { processInfo } = await cdp.send("SystemInfo.getProcessInfo");
  return processInfo.filter((p) => p.type === "renderer").reduce((sum, p) => sum + p.cpuTime, 0);
}

const browser = await launch();
const cdp = await browser.newBrowserCDPSession();
for (const delay of [0, 2]) {
  const session = await open(browser, demo, { sim: `update;delay=${delay}` });
  await run(session, ["pick tavi", "on update", "click update", "past 5"]);
  const cpu0 = await rendererCpu(cdp);
  const wall0 = performance.now();
  await run(session, ["past 95"]);
  const cpuShare = (await rendererCpu(cdp) - cpu0) / ((performance.now() - wall0) / 1000);
  await run(session, ["is line Programming successful"]);
  const log = await session.page.evaluate(() => window.taviSim.transcript);
  const sent = log.filter((m) => m.from === "page");
  const records = sent.filter((m) => m.hex.startsWith("F0 2C 4D 30"));
  const first = log.indexOf(sent.findLast((m) => m.hex === "F0 2C 4D 10 F7" && m.t < records[0].t));
  const last = log.findIndex((m) => m.hex === "F0 2C 4D 60 F7");
  // The simulated unit's timers fire late by a fraction of a millisecond: so besides the
  // nominal ideal, the run is held against the unit's own time, from each request to its
  // reply; the rest is the page's, from a reply to the next request.
  let unitMs = 0;
  for (let i = first; i < last; i++) {
    if (log[i].from === "page" && log[i + 1].from === "unit") unitMs += log[i + 1].t - log[i].t;
  }
  const runMs = log[last].t - log[first].t;
  const perRecord = (records.at(-1).t - records[0].t) / (records.length - 1);
  const ideal = (records.length + 3) * delay; // the simulated unit erases at once
  const nominal = ideal > 0 ? (runMs / ideal).toFixed(3) : "n/a (ideal 0 ms)";
  console.log(`replies after ${delay} ms: ${records.length} records, ` +
    `${perRecord.toFixed(3)} ms a record, run ${runMs.toFixed(0)} ms; ratio to the ideal ` +
    `${nominal}, to the unit's own reply times ${(runMs / unitMs).toFixed(3)} (the page's ` +
    `${((runMs - unitMs) / (records.length + 3)).toFixed(3)} ms an exchange); renderer CPU ` +
    `while writing ${(cpuShare * 100).toFixed(1)}% of one core`);
  await close(session);
}

const session = await open(browser, demo, { sim: "normal" });
const start = performance.now();
await session.page.reload();
await run(session, ["pick", "entries tavi"]);
console.log(`navigation to a usable port list: ${(performance.now() - start).toFixed(0)} ms`);
await close(session);
await browser.close();
console.log(`released site: ${weight(site)} bytes in all, before compression`);
