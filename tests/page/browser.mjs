// Headless Chromium for the page tests: Debian's browser with the flags this
// machine needs (no background connections, no first-run work) and a fresh
// profile in its own folder, removed afterwards.
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { chromium } from "playwright-core";

export const FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                      "--no-first-run", "--disable-component-update", "--disable-sync"];

// { context, work }: the browser and a scratch folder named after `prefix`.
// `options` go to the browser context (say, javaScriptEnabled: false).
export async function launchBrowser(prefix, options = {}) {
  const work = fs.mkdtempSync(path.join(process.env.KESTROVA_PAGE_WORK || os.tmpdir(), prefix));
  const context = await chromium.launchPersistentContext(path.join(work, "profile"), {
    executablePath: process.env.KESTROVA_CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: FLAGS,
    viewport: { width: 1280, height: 900 },
    ...options,
  });
  return { context, work };
}

export async function closeBrowser({ context, work } = {}) {
  await context?.close();
  if (work) fs.rmSync(work, { recursive: true, force: true });
}
