// Figures, never a verdict: the page's full update against the simulated unit in headless
// Chromium with replies after 0 and 2 ms (time a record, and the ratio to the unit-bound ideal:
// records x reply time + erase + the three handshakes), the renderer's CPU time while writing
// as a share of the wall time, the weight of the released site, and the time from navigation
// to a usable port list.
//
//   node tests/bench/page_bench.mjs [DEMO_DIR [SITE_DIR]]
import { readdirSync, statSync } from "node:fs";
import { join } from "node:path";
import { close, launch, open, received, run } from "../web/page_driver.mjs";

const [demo = "build/web/demo", site = "build/web/site"] = process.argv.slice(2);

function weight(folder) {
  return readdirSync(folder, { recursive: true })
    .map((name) => statSync(join(folder, name)))
    .filter((entry) => entry.isFile())
    .reduce((sum, entry) => sum + entry.size, 0);
}

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
  await run(session, ["text line Programming successful"]);
  const log = await received(session.page);
  const records = log.filter((m) => m.hex.startsWith("F0 2C 4D 30"));
  const handshake = log.findLast((m) => m.hex === "F0 2C 4D 10 F7" &&
    m.t < records[0].t - 0).t;
  const finish = log.find((m) => m.hex === "F0 2C 4D 50 F7").t;
  const perRecord = (records.at(-1).t - records[0].t) / (records.length - 1);
  const ideal = (records.length + 3) * delay; // the simulated unit erases at once
  const ratio = ideal > 0 ? ((finish - handshake) / ideal).toFixed(3) : "n/a (ideal 0 ms)";
  console.log(`replies after ${delay} ms: ${records.length} records, ` +
    `${perRecord.toFixed(3)} ms a record, run ${(finish - handshake).toFixed(0)} ms, ` +
    `ratio to the ideal ${ratio}; renderer CPU while writing ${(cpuShare * 100).toFixed(1)}% ` +
    "of one core");
  await close(session);
}

const session = await open(browser, demo, { sim: "normal" });
const start = performance.now();
await session.page.reload();
await run(session, ["use", "entries tavi"]);
console.log(`navigation to a usable port list: ${(performance.now() - start).toFixed(0)} ms`);
await close(session);
await browser.close();
console.log(`released site: ${weight(site)} bytes in all, before compression`);
