// Prints what the report page shows for a report file: each device's name,
// one a line, then its warnings, if any, after a line "--".
//   node tests/page/shown_names.mjs REPORT.html
import path from "node:path";
import { pathToFileURL } from "node:url";
import { closeBrowser, launchBrowser } from "./browser.mjs";

const { context, work } = await launchBrowser("names-");
try {
  const page = await context.newPage();
  await page.goto(pathToFileURL(path.resolve(process.argv[2])).href);
  const names = await page.locator("#device-body tr").evaluateAll((rows) =>
    rows.map((r) => r.querySelector("td.name").innerText));
  console.log(names.join("\n"));
  if (await page.locator("#messages").isVisible()) console.log("--\n" + (await page.locator("#messages").innerText()));
} finally {
  await closeBrowser({ context, work });
}
