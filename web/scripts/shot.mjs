// Ad-hoc: screenshot the page (node scripts/shot.mjs out.png [ja])
import { launch, openPage, sampleInventory } from '../tests/browser/harness.mjs';
const browser = await launch();
const page = await openPage(browser, { bridge: { inventory: sampleInventory() }, lang: process.argv[3] ?? 'en-US' });
await page.screenshot({ path: process.argv[2] ?? '/tmp/shot.png' });
await browser.close();
