// The run command's walk-through: the table's full-update row on the demo site, with the given
// scenario, a screenshot at each of its stages.
//
//   node tests/web/page_tour.mjs DEMO_DIR SCENARIO SHOTS_DIR
import { close, launch, open, run } from "./page_driver.mjs";
import { rows } from "./page_rows.mjs";

const [root, sim, shots] = process.argv.slice(2);
const tour = rows.find((row) => row.tour);
const browser = await launch();
// A unit a little slower than the table's, so that the writing stage lasts to be photographed.
const session = await open(browser, root, { sim: `${sim};delay=2`, shots });
await run(session, tour.steps).finally(() => close(session).then(() => browser.close()));
console.log(`walk-through complete: ${tour.name}`);
