// The page in headless Chromium: one table of scenarios (page_rows.mjs), one driver. Each row
// starts a fresh profile on the demo site (the simulated unit) or on the released site.
//
//   node --test tests/web/page_test.mjs        (SITE, DEMO: the built sites' folders)
import { after, before, test } from "node:test";
import { close, launch, open, run } from "./page_driver.mjs";
import { rows } from "./page_rows.mjs";

const DEMO = process.env.DEMO ?? "build/web/demo";
const SITE = process.env.SITE ?? "build/web/site";

let browser;
before(async () => {
  browser = await launch();
});
after(async () => {
  await browser.close();
});

for (const row of rows) {
  test(row.name, { timeout: 120000 }, async () => {
    const session = await open(browser, row.site === "release" ? SITE : DEMO, row);
    try {
      await run(session, row.steps);
    } finally {
      await close(session);
    }
  });
}
