// The report page posting to a running kestrova-service (started on
// loopback by tests/e2e/service_linux.sh, which sets KESTROVA_SERVICE_URL):
// the page shows the service's answer with the right driver for each device.
import { after, before, test } from "node:test";
import assert from "node:assert/strict";
import crypto from "node:crypto";
import fs from "node:fs";
import path from "node:path";
import { pathToFileURL } from "node:url";
import { closeBrowser, launchBrowser } from "./browser.mjs";
import * as R from "./report_lib.mjs";

const SERVICE = process.env.KESTROVA_SERVICE_URL || "";

let context;
let work;

before(async () => {
  if (!SERVICE) return;
  ({ context, work } = await launchBrowser("service-page-"));
});

after(() => closeBrowser({ context, work }));

async function openReport(scanid, devices) {
  const html = R.fillTemplate(R.configure(R.readSource(), SERVICE), {
    drivers: R.base64Ansi(R.scanData(devices, R.sampleInfo)), hwid: R.base64Ansi("WD-WCC6Y3KL5N2X"), scanid,
    setupLog: R.sampleLog,
  });
  const file = path.join(work, `report-${scanid}.html`);
  fs.writeFileSync(file, html);
  const page = await context.newPage();
  const errors = [];
  page.on("pageerror", (e) => errors.push(`pageerror: ${e.message}`));
  page.on("console", (m) => { if (m.type() === "error") errors.push(`console: ${m.text()}`); });
  await page.goto(pathToFileURL(file).href);
  return { page, errors };
}

// The best driver the results page names for the device called `name`.
async function bestDriver(frame, name) {
  const card = frame.locator("article.device").filter({ has: frame.locator(".name", { hasText: name }) });
  await card.first().waitFor();
  return (await card.first().locator(".best").innerText()).trim();
}

test("a report sent to the service shows the drivers for its devices, and again after Send again", async (t) => {
  if (!SERVICE) return t.skip("KESTROVA_SERVICE_URL not set");
  const scanid = crypto.randomBytes(16).toString("hex").toUpperCase();
  const { page, errors } = await openReport(scanid, R.sampleDevices);
  await page.locator("#sending-text", { hasText: "was sent to the driver-identification service" }).waitFor();
  assert.equal(await page.locator("#sending").getAttribute("class"), "notice ok");
  const frame = page.frameLocator("#results-frame");
  await frame.locator("h1", { hasText: "Drivers for this computer" }).waitFor();

  assert.match(await bestDriver(frame, "Realtek PCIe GbE Family Controller"),
               /Best driver: Fixture PCIe GbE Family Controller[\s\S]*net\/fxnet\.inf/);
  // The subsystem-specific line ranks before the generic one.
  assert.match(await bestDriver(frame, "Contr\u00f4leur audio haute d\u00e9finition"),
               /Best driver: Fixture High Definition Audio \(OptiPlex\)[\s\S]*audio\/fxaudio\.inf/);
  assert.match(await bestDriver(frame, "PCI Simple Communications Controller"),
               /Best driver: Fixture Management Engine Interface[\s\S]*system\/fxmei\.inf/);
  assert.match(await bestDriver(frame, "USB Composite Device"), /No driver in the catalog fits this device/);

  const link = await page.locator("#results-link").getAttribute("href");
  assert.equal(link, `${SERVICE.replace(/\/+$/, "")}/reports/${scanid}`);

  // The report is stored under its scan id.
  const stored = await (await fetch(`${SERVICE.replace(/\/+$/, "")}/api/reports/${scanid}`)).json();
  assert.equal(stored.scanid, scanid);
  assert.equal(stored.devices.length, R.sampleDevices.length);

  await page.click("#send-again");
  await page.locator("#sending-text", { hasText: "was sent" }).waitFor();
  await frame.locator("h1", { hasText: "Drivers for this computer" }).waitFor();
  assert.deepEqual(errors, []);
  await page.close();
});

test("a report the service refuses says why and keeps Send again", async (t) => {
  if (!SERVICE) return t.skip("KESTROVA_SERVICE_URL not set");
  // The page itself warns about this scan id; the service refuses it.
  const { page } = await openReport("not-a-scan-id", R.sampleDevices);
  await page.locator("#sending-text", { hasText: "did not take this report (400: The scan id is not 32 hexadecimal digits.)" })
      .waitFor();
  assert.equal(await page.locator("#send-again").isVisible(), true);
  assert.equal(await page.locator("#results").isVisible(), false);
  await page.close();
});
