// The results page of kestrova-match in headless Chromium: devices needing
// attention first, best driver and alternatives, and a hostile description
// from an INF shown as text with nothing of it run.
import { after, before, test } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import { pathToFileURL } from "node:url";
import { closeBrowser, launchBrowser } from "./browser.mjs";

const PAGE = process.env.KESTROVA_RESULTS_PAGE;

let context;
let work;

before(async () => {
  assert.ok(PAGE && fs.existsSync(PAGE), "KESTROVA_RESULTS_PAGE names no file");
  ({ context, work } = await launchBrowser("results-"));
});

after(() => closeBrowser({ context, work }));

test("shows the hostile description as text, runs nothing and loads nothing", async () => {
  const page = await context.newPage();
  const errors = [];
  const requests = [];
  page.on("pageerror", (e) => errors.push(e.message));
  page.on("request", (r) => { if (!r.url().startsWith("file:")) requests.push(r.url()); });
  await page.goto(pathToFileURL(PAGE).href);
  await page.waitForLoadState("load");

  assert.equal(await page.title(), "Driver matches - Kestrova");
  assert.equal(await page.locator("img").count(), 0, "an <img> element was made from report or INF text");
  const best = page.locator("#others .best .what", { hasText: "I219-V" });
  await assert.doesNotReject(best.waitFor());
  assert.match(await best.textContent(),
               /Best driver: Intel\(R\) Ethernet Connection \(2\) I219-V <img src=x onerror="document.title='pwned'">/);
  assert.deepEqual(errors, []);
  assert.deepEqual(requests, []);
  await page.close();
});

test("puts devices needing attention first, each with its best driver or none", async () => {
  const page = await context.newPage();
  await page.goto(pathToFileURL(PAGE).href);
  const sections = await page.locator("main > section[id]").evaluateAll((s) => s.map((e) => e.id));
  assert.deepEqual(sections.filter((id) => id === "attention" || id === "others"), ["attention", "others"]);
  const attention = await page.locator("#attention article .name").allTextContents();
  assert.deepEqual(attention, ["Multimedia Audio Controller", "PCI Bridge", "USB Input Device"]);
  const audio = page.locator("#attention article", { hasText: "Multimedia Audio Controller" });
  assert.match(await audio.locator(".best").textContent(), /Sonora HD Audio f\u00fcr Cannon Lake/);
  assert.match(await audio.locator(".why").textContent(), /hardware id PCI\\VEN_8086&DEV_A348&SUBSYS_085A1028, rank \d+/);
  const missing = page.locator("#attention article", { hasText: "USB Input Device" });
  assert.match(await missing.locator(".best").textContent(), /No driver in the catalog/);
  // The alternatives open on request.
  const net = page.locator("#others article", { hasText: "I219-V" });
  await net.locator("details.alternatives summary").click();
  assert.equal(await net.locator("details.alternatives tbody tr").count(), 2);
  // The report page's look: the same header colour.
  const bg = await page.locator("header.top").evaluate((e) => getComputedStyle(e).backgroundColor);
  assert.equal(bg, "rgb(23, 50, 63)");
  await page.close();
});
