// The results page's "How to install it" block in headless Chromium, for a
// Windows 10 and a Windows XP report: the command that system has, the
// device's hardware id, and what the package lacks.
// pnputil's switches: learn.microsoft.com "PnPUtil Command Syntax" (Windows 10:
// /add-driver ... /install; Windows 7/8: -i -a).
import { after, before, test } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import { pathToFileURL } from "node:url";
import { closeBrowser, launchBrowser } from "./browser.mjs";

const WIN10 = process.env.KESTROVA_INSTALL_WIN10;
const XP = process.env.KESTROVA_INSTALL_XP;

let context;
let work;

before(async () => {
  assert.ok(WIN10 && fs.existsSync(WIN10), "KESTROVA_INSTALL_WIN10 names no file");
  assert.ok(XP && fs.existsSync(XP), "KESTROVA_INSTALL_XP names no file");
  ({ context, work } = await launchBrowser("install-"));
});

after(() => closeBrowser({ context, work }));

async function installBlock(file) {
  const page = await context.newPage();
  await page.goto(pathToFileURL(file).href);
  const block = page.locator("#attention article .best .install");
  await assert.doesNotReject(block.waitFor());
  assert.ok(await block.isVisible());
  return { page, text: (await block.innerText()).replace(/\s+/g, " ") };
}

test("Windows 10: pnputil /add-driver with /install, the hardware id, the missing file", async () => {
  const { page, text } = await installBlock(WIN10);
  assert.match(text, /pnputil \/add-driver toastpkg\.inf \/install/);
  assert.match(text, /as administrator/);
  assert.match(text, /Device Manager/);
  assert.match(text, /\{b85b7c50-6a01-11d2-b841-00c04fad5171\}\\MsToaster/);
  // The amd64 files are not in the folder; the x86 ones are, but do not count here.
  assert.match(text, /incomplete: .*amd64\/toaster\.sys/);
  await page.close();
});

test("Windows XP: Device Manager only, no pnputil", async () => {
  const { page, text } = await installBlock(XP);
  assert.doesNotMatch(text, /pnputil/);
  assert.match(text, /^How to install it .*Open Device Manager, right-click the device, choose Update driver/);
  assert.match(text, /\{b85b7c50-6a01-11d2-b841-00c04fad5171\}\\MsToaster/);
  assert.match(text, /incomplete: tostx86\.cat, i386\/tostrco2\.dll are missing/);
  assert.doesNotMatch(text, /i386\/toaster\.sys/);
  await page.close();
});
