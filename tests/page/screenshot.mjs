// Renders the sample report and saves a screenshot of it:
//   node tests/page/screenshot.mjs docs/screenshot-report.png
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { pathToFileURL } from "node:url";
import { chromium } from "playwright-core";
import * as R from "./report_lib.mjs";

const out = path.resolve(process.argv[2] || "screenshot-report.png");
const dir = fs.mkdtempSync(path.join(os.tmpdir(), "kestrova-shot-"));
const file = path.join(dir, "driver.html");
fs.writeFileSync(file, R.fillTemplate(R.configure(R.readSource(), ""), {
  drivers: R.base64Ansi(R.scanData(R.sampleDevices, R.sampleInfo)),
  hwid: R.base64Ansi("WD-WCC6Y3KL5N2X"),
  scanid: "6F9619FF8B86D011B42D00C04FC964FF",
  setupLog: R.sampleLog,
}));
const context = await chromium.launchPersistentContext(path.join(dir, "profile"), {
  executablePath: process.env.KESTROVA_CHROMIUM || "/usr/bin/chromium",
  headless: true,
  args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking", "--no-first-run",
         "--disable-component-update", "--disable-sync"],
  viewport: { width: 1280, height: 900 },
});
try {
  const page = await context.newPage();
  await page.goto(pathToFileURL(file).href);
  await page.screenshot({ path: out, fullPage: true });
  console.log(out);
} finally {
  await context.close();
  fs.rmSync(dir, { recursive: true, force: true });
}
