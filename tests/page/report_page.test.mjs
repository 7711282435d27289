// The report page in headless Chromium: reports built as the program builds
// them, a report from kestrova-scan, sending to a local service, and the
// damaged inputs a reader may open.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import http from "node:http";
import path from "node:path";
import { pathToFileURL } from "node:url";
import { closeBrowser, launchBrowser } from "./browser.mjs";
import * as R from "./report_lib.mjs";


const HWID = "WD-WCC6Y3KL5N2X";
const SCANID = "6F9619FF8B86D011B42D00C04FC964FF";
// The sample devices plus one without a driver and without a problem code.
const DEVICES = [...R.sampleDevices, { name: "Unknown Device", hwids: "ACPI\\INT33A1,*INT33A1,", problem: 0 }];
const SCAN_DATA = R.scanData(DEVICES, R.sampleInfo);

let context;
let work;

before(async () => {
  ({ context, work } = await launchBrowser("page-"));
});

after(() => closeBrowser({ context, work }));

function report({ url = "", drivers = R.base64Ansi(SCAN_DATA), hwid = R.base64Ansi(HWID), scanid = SCANID,
                  setupLog = R.sampleLog } = {}) {
  return R.fillTemplate(R.configure(R.readSource(), url), { drivers, hwid, scanid, setupLog });
}

let pageCount = 0;
// Opens the page from file:// and records script errors, console errors
// and every request that is not the file itself.
async function open(html, { allowConsole = () => false } = {}) {
  const file = path.join(work, `report-${++pageCount}.html`);
  fs.writeFileSync(file, html);
  const page = await context.newPage();
  const errors = [];
  const requests = [];
  page.on("pageerror", (e) => errors.push(`pageerror: ${e.message}`));
  page.on("console", (m) => {
    if (m.type() === "error" && !allowConsole(m.text())) errors.push(`console: ${m.text()}`);
  });
  page.on("request", (r) => { if (!r.url().startsWith("file:")) requests.push(r); });
  await page.goto(pathToFileURL(file).href);
  return { page, errors, requests };
}

const text = (page, selector) => page.locator(selector).innerText();
const rowNumbers = (page) =>
  page.locator("#device-body tr").evaluateAll((rows) => rows.map((r) => Number(r.dataset.number)));

// A local service that records what it receives. It takes posts to
// /report (or refuses them with `refusal`) and answers /reports/<id> with a
// page naming the id.
function startService() {
  const received = [];
  const state = { refusal: null };
  const server = http.createServer((req, res) => {
    const chunks = [];
    req.on("data", (c) => chunks.push(c));
    req.on("end", () => {
      received.push({ method: req.method, url: req.url, type: req.headers["content-type"], body: Buffer.concat(chunks) });
      if (req.method === "POST" && state.refusal) {
        res.writeHead(state.refusal.status, { "Content-Type": "text/plain", "Access-Control-Allow-Origin": "*" });
        res.end(state.refusal.text);
      } else if (req.method === "POST") {
        res.writeHead(200, { "Content-Type": "text/html", "Access-Control-Allow-Origin": "*" });
        res.end("<!DOCTYPE html><title>results</title>");
      } else {
        const id = /^\/reports\/([^?]*)/.exec(req.url)?.[1] ?? "";
        res.writeHead(200, { "Content-Type": "text/html" });
        res.end(`<!DOCTYPE html><title>results</title><p id="answer">Drivers for scan ${id}</p>`);
      }
    });
  });
  return new Promise((resolve) => server.listen(0, "127.0.0.1", () => {
    resolve({ server, received, state, url: `http://127.0.0.1:${server.address().port}` });
  }));
}

// application/x-www-form-urlencoded to raw bytes per field.
function parseForm(body) {
  const bytes = (s) => {
    const out = [];
    for (let i = 0; i < s.length; i++) {
      if (s[i] === "+") out.push(0x20);
      else if (s[i] === "%") { out.push(parseInt(s.slice(i + 1, i + 3), 16)); i += 2; }
      else out.push(s.charCodeAt(i));
    }
    return Buffer.from(out);
  };
  return body.toString("latin1").split("&").map((pair) => {
    const eq = pair.indexOf("=");
    return [bytes(pair.slice(0, eq)).toString("latin1"), bytes(pair.slice(eq + 1))];
  });
}

async function until(predicate, what) {
  for (let i = 0; i < 100 && !predicate(); i++) await new Promise((r) => setTimeout(r, 50));
  assert.ok(predicate(), `timed out waiting for ${what}`);
}

describe("the template file", () => {
  const source = R.readSource();

  test("is plain ASCII, declares windows-1252 and loads nothing from outside", () => {
    assert.ok(!/[^\x00-\x7f]/.test(source), "non-ASCII byte in driver.html");
    assert.match(source, /<meta charset="windows-1252">/);
    for (const outside of [/\b(src|href)\s*=/i, /\burl\(/, /@import/i, /https?:\/\//i]) {
      assert.doesNotMatch(source, outside);
    }
    // The policy's connect-src, frame-src and form-action; the page's data;
    // the action of the form offered when script is off.
    assert.deepEqual(source.match(/@[A-Za-z0-9_]+@/g),
                     ["@KESTROVA_SERVICE_CSP@", "@KESTROVA_SERVICE_CSP@", "@KESTROVA_SERVICE_CSP@",
                      "@KESTROVA_SERVICE_URL@", "@KESTROVA_SERVICE_CSP@"]);
    for (const name of ["drivers", "hwid", "scanid", "setup_api_log"]) {
      // In the script's data and in the form offered when script is off.
      assert.equal(source.split(`[${name}]`).length - 1, 2, `[${name}] should occur twice`);
    }
  });

  test("allows exactly its own script", () => {
    const hash = R.scriptHash(source);
    assert.ok(source.includes(`'sha256-${hash}'`),
              `the script changed: run node tests/page/update_csp_hash.mjs (sha256-${hash})`);
  });

  test("the build's copy is the source with the service address filled in", (t) => {
    const built = process.env.KESTROVA_BUILD_LINUX && path.join(process.env.KESTROVA_BUILD_LINUX, "driver.html");
    if (!built || !fs.existsSync(built)) return t.skip("no built driver.html given");
    assert.ok(fs.readFileSync(built, "latin1") === R.configure(source, ""), `${built} differs from the source: rebuild`);
  });
});

describe("a report", () => {
  test("shows the computer, the counts, attention devices first and the setup log", async () => {
    const { page, errors, requests } = await open(report());
    assert.equal(await text(page, "#stat-devices"), "9");
    assert.equal(await text(page, "#stat-attention"), "5");
    assert.equal(await text(page, "#stat-problems"), "4");
    assert.equal(await text(page, "#stat-nodriver"), "3");

    const facts = await text(page, "#facts");
    for (const want of ["Dell Inc. OptiPlex 7060 (0862)", "DESKTOP-7QK2M4R",
                        "Microsoft Windows 10 Pro, version 10.0.19045 (64-bit)",
                        "DELL   - 1072009,1.14.0,American Megatrends - 5000B", HWID, SCANID]) {
      assert.ok(facts.replace(/\s+/g, " ").includes(want.replace(/\s+/g, " ")), `summary lacks ${want}`);
    }

    // Problem codes first, then the device without a driver, then the rest.
    assert.deepEqual(await rowNumbers(page), [2, 4, 5, 6, 9, 1, 3, 7, 8]);
    const attention = await page.locator("#attention-list li").allInnerTexts();
    assert.equal(attention.length, 5);
    assert.match(attention[0], /Contr\u00f4leur audio haute d\u00e9finition \u2014 \u20ac[\s\S]*code 28[\s\S]*driver for this device is not installed/);
    assert.match(attention[1], /USB Composite Device[\s\S]*code 22[\s\S]*disabled/);
    assert.match(attention[2], /code 43[\s\S]*stopped this device/);
    assert.match(attention[4], /Unknown Device[\s\S]*no driver/);

    const row = await page.locator("#device-body tr", { hasText: "SATA AHCI" }).innerText();
    for (const want of ["hdc", "Intel", "10.1.1.38", "6-21-2006", "oem12.inf", "pci\\ven_8086&dev_2829",
                        "PCI\\VEN_8086&DEV_2829&SUBSYS_00000000&REV_02", "PCI\\CC_0106", "Working"]) {
      assert.ok(row.includes(want), `row lacks ${want}`);
    }

    assert.equal(await page.locator("#setup-log").textContent(), R.sampleLog.slice(2).split("\r\n").join("\n"));
    assert.match(await text(page, "#sending-text"), /local report: it has not been sent anywhere/);
    assert.equal(await page.locator("#messages").isVisible(), false);
    await page.waitForTimeout(300);
    assert.deepEqual(requests.map((r) => r.url()), [], "a local report requested something");
    assert.deepEqual(errors, []);
    await page.close();
  });

  test("still runs its script when the file has CR LF line ends", async () => {
    const crlf = Buffer.from(report().toString("latin1").replace(/\n/g, "\r\n"), "latin1");
    const { page, errors } = await open(crlf);
    assert.equal(await text(page, "#stat-devices"), "9");
    assert.deepEqual(errors, []);
    await page.close();
  });

  test("filters, sorts, and reads on a phone and on paper", async () => {
    const { page, errors } = await open(report());
    await page.fill("#filter", "realtek");
    assert.deepEqual(await rowNumbers(page), [5]);
    assert.equal(await text(page, "#shown"), "Showing 1 of 9");
    await page.fill("#filter", "pci\\cc_0106");
    assert.deepEqual(await rowNumbers(page), [1]);
    await page.fill("#filter", "no such device");
    assert.match(await text(page, "#device-body"), /No device matches the filter/);
    await page.fill("#filter", "");
    await page.check("#only-attention");
    assert.deepEqual(await rowNumbers(page), [2, 4, 5, 6, 9]);
    await page.uncheck("#only-attention");

    await page.click("th[data-key=name] button");
    const names = await page.locator("#device-body td.name").allInnerTexts();
    assert.deepEqual(names, [...names].sort((a, b) => a.localeCompare(b, undefined, { sensitivity: "base" })));
    assert.equal(await page.getAttribute("th[data-key=name]", "aria-sort"), "ascending");
    await page.click("th[data-key=date] button");
    await page.click("th[data-key=date] button");
    // Newest driver first; devices without a date last.
    assert.deepEqual((await rowNumbers(page)).slice(0, 2), [7, 5]);

    await page.setViewportSize({ width: 390, height: 800 });
    const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
    assert.ok(overflow <= 0, `page is ${overflow}px wider than a phone screen`);
    await page.emulateMedia({ media: "print" });
    assert.equal(await page.locator("#filter").isVisible(), false);
    assert.equal(await page.locator("#device-body tr").count(), 9);
    assert.deepEqual(errors, []);
    await page.close();
  });

  test("keeps a field that holds a line break or an equals sign in its entry", async () => {
    const devices = [{ ...DEVICES[0], name: "Dock=Port\r\nsecond line" }, DEVICES[1], DEVICES[2]];
    const { page, errors } = await open(report({ drivers: R.base64Ansi(R.scanData(devices, R.sampleInfo)) }));
    assert.equal(await text(page, "#stat-devices"), "3");
    assert.deepEqual(await rowNumbers(page), [2, 1, 3]);
    assert.equal(await page.locator("#device-body tr[data-number='1'] td.name").textContent(), "Dock=Port\r\nsecond line");
    assert.equal(await page.locator("#messages").isVisible(), false);
    assert.deepEqual(errors, []);
    await page.close();
  });

  test("shows setup-log markup as text and runs none of it", async () => {
    const attack = '</pre><script>document.title="pwned"</script><img src=x onerror="document.title=\'pwned\'">';
    const setupLog = `${R.CRLF}first line${R.CRLF}${attack}${R.CRLF}</div><script>document.title="pwned"</script>`;
    const { page, errors } = await open(report({ setupLog }));
    assert.equal(await page.locator("#setup-log").textContent(),
                 `first line\n${attack}\n</div><script>document.title="pwned"</script>`);
    assert.notEqual(await page.title(), "pwned");
    assert.match(await page.title(), /^Driver report - DESKTOP-7QK2M4R$/);
    assert.equal(await page.locator("img").count(), 0);
    assert.deepEqual(errors, []);
    await page.close();
  });

  test("refuses script that reaches the page unescaped", async () => {
    // Were the excerpt ever put in without escaping, the page's policy
    // still runs no script but its own.
    const html = R.fillTemplate(R.configure(R.readSource(), ""), {
      drivers: R.base64Ansi(SCAN_DATA), hwid: R.base64Ansi(HWID), scanid: SCANID, setupLog: "",
    }).toString("latin1").replace('<div id="setup-log-source" hidden>',
                                  '<div id="setup-log-source" hidden></div><script>document.title="pwned"</script><div>');
    const blocked = [];
    const { page, errors } = await open(Buffer.from(html, "latin1"), {
      allowConsole: (m) => /Content Security Policy/.test(m) && blocked.push(m),
    });
    assert.equal(await page.title(), "Driver report - DESKTOP-7QK2M4R");
    assert.equal(blocked.length, 1, "the injected script was not reported as blocked");
    assert.deepEqual(errors, []);
    await page.close();
  });
});

describe("sending", () => {
  let service;
  before(async () => { service = await startService(); });
  after(() => service.server.close());

  test("posts the four values byte for byte to the service, shows its answer, and sends again on request", async () => {
    service.received.length = 0;
    const drivers = R.base64Ansi(SCAN_DATA);
    const hwid = R.base64Ansi(HWID);
    const setupLog = R.sampleLog + `${R.CRLF}a&b=c+d %41 "quoted" 'single' \\back\\ <tag>`;
    const { page, errors, requests } = await open(report({ url: service.url, drivers, hwid, setupLog }));
    await until(() => service.received.length >= 1, "the POST");
    const post = service.received[0];
    assert.equal(post.method, "POST");
    assert.equal(post.url, "/report");
    assert.equal(post.type, "application/x-www-form-urlencoded");
    const fields = parseForm(post.body);
    assert.deepEqual(fields.map(([k]) => k), ["drivers", "hwid", "scanid", "setup_api_log"]);
    const got = Object.fromEntries(fields);
    assert.ok(got.drivers.equals(Buffer.from(drivers, "latin1")), "drivers differs");
    assert.ok(got.hwid.equals(Buffer.from(hwid, "latin1")), "hwid differs");
    assert.ok(got.scanid.equals(Buffer.from(SCANID, "latin1")), "scanid differs");
    assert.ok(got.setup_api_log.equals(R.cp1252(setupLog)),
              `setup_api_log differs: ${JSON.stringify(got.setup_api_log.toString("latin1"))}`);

    await page.locator("#sending-text", { hasText: "was sent to the driver-identification service at 127.0.0.1" }).waitFor();
    // The service's answer for this scan id, in the page.
    await page.frameLocator("#results-frame").locator("#answer", { hasText: `Drivers for scan ${SCANID}` }).waitFor();
    assert.equal(await page.locator("#results-link").getAttribute("href"), `${service.url}/reports/${SCANID}`);
    await page.click("#send-again");
    await until(() => service.received.filter((r) => r.method === "POST").length === 2, "the second POST");
    const posts = service.received.filter((r) => r.method === "POST");
    assert.ok(posts[1].body.equals(post.body));
    await until(() => service.received.filter((r) => r.method === "GET").length === 2, "the answer shown afresh");
    assert.ok(requests.every((r) => r.url().startsWith(`${service.url}/report`)),
              `other requests: ${requests.map((r) => r.url())}`);
    assert.deepEqual(errors, []);
    await page.close();
  });

  test("shows the service's reason when it refuses the report, and offers to send again", async () => {
    service.state.refusal = { status: 400, text: "The scan id is not 32 hexadecimal digits.\n" };
    try {
      const { page, errors } = await open(report({ url: service.url }), {
        allowConsole: (m) => /status of 400/.test(m),
      });
      await page.locator("#sending-text", { hasText: "did not take this report (400: The scan id is not 32 hexadecimal digits.)" }).waitFor();
      assert.equal(await page.locator("#sending").getAttribute("class"), "notice error");
      assert.equal(await page.locator("#send-again").isVisible(), true);
      assert.equal(await page.locator("#results").isVisible(), false);
      assert.deepEqual(errors, []);
      await page.close();
    } finally {
      service.state.refusal = null;
    }
  });

  test("says so when the service cannot be reached, and offers to send again", async () => {
    const closed = await startService();
    const url = closed.url;
    await new Promise((r) => closed.server.close(r));
    const { page, errors } = await open(report({ url }), {
      allowConsole: (m) => /ERR_CONNECTION_REFUSED/.test(m),
    });
    await page.locator("#sending-text", { hasText: "could not be sent" }).waitFor();
    assert.equal(await page.locator("#send-again").isVisible(), true);
    assert.equal(await text(page, "#stat-devices"), "9");
    assert.deepEqual(errors, []);
    await page.close();
  });

  test("the bare template sends nothing and says it is no report", async () => {
    service.received.length = 0;
    const { page, errors, requests } = await open(Buffer.from(R.configure(R.readSource(), service.url), "latin1"));
    assert.match(await text(page, "#messages"), /This is the report template, not a report/);
    assert.equal(await page.locator("#summary").isVisible(), false);
    await page.waitForTimeout(300);
    assert.equal(service.received.length, 0);
    assert.deepEqual(requests, []);
    assert.deepEqual(errors, []);
    await page.close();
  });
});

describe("a damaged report gives a readable message and no script error", () => {
  const good = R.base64Ansi(SCAN_DATA);
  const list = R.driverList(DEVICES);
  const cut = list.indexOf(`${R.CRLF}driver_6=`) + 40;
  const shifted = R.scanData(DEVICES.slice(0, 2), R.sampleInfo).replace("driver_2=", "driver_2=extra[;]") +
                  "";
  const cases = [
    ["a character that is not Base64", { drivers: good.slice(0, 100) + "!" + good.slice(101) },
     /The device data is damaged: character 101 \("!"\) is not part of the Base64 encoding/],
    ["Base64 cut short", { drivers: good.slice(0, -3) }, /The device data is damaged: its Base64 encoding is cut short/],
    ["a list that ends inside an entry", { drivers: R.base64Ansi(list.slice(0, cut - (cut % 3))) },
     /ends in the middle of entry driver_6: the report is incomplete/],
    ["an entry with a separator too many", { drivers: R.base64Ansi(shifted) },
     /Entry driver_2 has 12 separators instead of 11/],
    ["an entry with a separator too few",
     { drivers: R.base64Ansi(R.scanData(DEVICES.slice(0, 3), R.sampleInfo).replace("[;]", "")) },
     /Entry driver_1 has 10 separators instead of 11/],
    ["an empty report", { drivers: "", hwid: "", scanid: "", setupLog: "" }, /This report holds no device data/],
    ["a damaged hardware id", { hwid: "%%%" }, /The hardware id is damaged/],
    ["a scan id of the wrong form", { scanid: "not-a-scan-id" }, /The scan id "not-a-scan-id" is not in the expected form/],
  ];
  for (const [name, values, message] of cases) {
    test(name, async () => {
      const { page, errors } = await open(report(values));
      assert.match(await text(page, "#messages"), message);
      assert.ok((await text(page, "body")).length > 200, "the page is nearly blank");
      assert.deepEqual(errors, []);
      await page.close();
    });
  }

  test("what can be read of a damaged list is still shown", async () => {
    const { page } = await open(report({ drivers: R.base64Ansi(shifted) }));
    assert.equal(await text(page, "#stat-devices"), "2");
    assert.match(await text(page, "#device-body"), /damaged entry/);
    await page.close();
  });
});

// The report that the Linux command-line scan writes from its template.
test("a report written by kestrova-scan", async (t) => {
  const file = process.env.KESTROVA_SCAN_REPORT;
  if (!file) return t.skip("KESTROVA_SCAN_REPORT not set");
  const html = fs.readFileSync(file);
  const drivers = /data-drivers="([^"]*)"/.exec(html.toString("latin1"))[1];
  const { page, errors } = await open(html);
  if (!/^[A-Za-z0-9+/]*={0,2}$/.test(drivers)) {
    // The scan still runs on stand-in operations without Base64.
    t.diagnostic("the scan's device data is not Base64 yet");
    assert.match(await text(page, "#messages"), /The device data is damaged/);
  } else {
    const data = new TextDecoder("windows-1252").decode(Buffer.from(drivers, "base64"));
    const entries = [...data.matchAll(/\r\ndriver_(\d+)=((?:(?!\r\ndriver_)[\s\S])*)/g)].map((m) => {
      const fields = m[2].split("\r\n\r\n")[0].split("[;]");
      return { number: Number(m[1]), attention: fields[11] !== "0" || fields[7] === "" };
    });
    assert.ok(entries.length > 0, "the scan listed no device");
    t.diagnostic(`${entries.length} devices in the scan`);
    assert.equal(await text(page, "#stat-devices"), String(entries.length));
    const attention = entries.filter((e) => e.attention).map((e) => e.number);
    assert.deepEqual((await rowNumbers(page)).slice(0, attention.length), attention);
    const info = Object.fromEntries([...data.matchAll(/\r\n(\w+)=([^\r\n]*)/g)].map((m) => [m[1], m[2]]));
    const facts = await text(page, "#facts");
    for (const label of ["Manufacturer", "Model", "Caption", "CSName"]) {
      if (info[label]) assert.ok(facts.includes(info[label].trim()), `summary lacks ${label}`);
    }
  }
  assert.deepEqual(errors, []);
  await page.close();
});

// Internet Explorer (8 to 11) has none of TextDecoder, fetch, URL or
// String.prototype.codePointAt, and IE 8 and 9 no atob: the page must not
// need them. They are deleted before the page's own script runs.
// The fixtures tests/match reads too: device data in the code pages of
// non-Western Windows, each naming its code page in its last line.
describe("a report in another code page", () => {
  const fixtures = JSON.parse(fs.readFileSync(path.join(R.SOURCE_DIR, "tests", "data", "report", "code_pages.json"), "utf8"));

  test("shows the names as written, and its setup log in the same code page", async () => {
    for (const f of fixtures.reports) {
      // The excerpt's bytes are the report's: here the name in its code page, as the page file holds them.
      const nameBytes = Buffer.from(f.drivers, "base64");
      const start = nameBytes.indexOf("driver_1=") + "driver_1=".length;
      const logBytes = nameBytes.subarray(start, nameBytes.indexOf("[;]", start));
      const html = R.fillTemplate(R.configure(R.readSource(), ""), { drivers: f.drivers, hwid: f.hwid, scanid: SCANID, setupLog: "" });
      const at = html.indexOf('id="setup-log-source" hidden>') + 'id="setup-log-source" hidden>'.length;
      const filled = Buffer.concat([html.subarray(0, at), logBytes, html.subarray(at)]);
      const { page, errors } = await open(filled);
      const row = await page.locator("#device-body tr").first().innerText();
      assert.ok(row.includes(f.name), `code page ${f.code_page}: row shows ${row}`);
      assert.ok((await text(page, "#facts")).includes(f.name), `code page ${f.code_page}: the OS caption`);
      assert.ok((await text(page, "#facts")).includes("WD-WX11A1234567"));
      assert.equal((await page.locator("#setup-log").textContent()).trim(), f.name, `code page ${f.code_page}: setup log`);
      assert.equal(await page.locator("#messages").isVisible(), false, `code page ${f.code_page}: a warning`);
      assert.deepEqual(errors, []);
      await page.close();
    }
  });

  test("says what it cannot decode, and shows the rest", async () => {
    // A Shift-JIS lead byte without its trail byte.
    const bad = Buffer.from(R.CRLF + "driver_1=\x81 A" + "[;]".repeat(7) + "x.inf[;]ID,[;][;][;]0" + R.CRLF + R.CRLF + "Caption=W" + R.CRLF + "CodePage=932", "latin1").toString("base64");
    const { page, errors } = await open(report({ drivers: bad }));
    assert.ok((await page.locator("#device-body tr").first().innerText()).includes("\ufffd A"));
    assert.match(await text(page, "#messages"), /not text in code page 932/);
    assert.deepEqual(errors, []);
    await page.close();
    // Without TextDecoder (every Internet Explorer) a 1251 report is shown as windows-1252, with a warning.
    const old = await context.newPage();
    await old.addInitScript(() => { delete window.TextDecoder; });
    const file = path.join(work, `report-${++pageCount}.html`);
    fs.writeFileSync(file, R.fillTemplate(R.configure(R.readSource(), ""), { drivers: fixtures.reports[0].drivers, hwid: fixtures.reports[0].hwid, scanid: SCANID, setupLog: "" }));
    await old.goto(pathToFileURL(file).href);
    assert.equal(await old.locator("#stat-devices").innerText(), "1");
    assert.match(await old.locator("#messages").innerText(), /code page 1251, which this browser cannot decode; it is shown as windows-1252/);
    await old.close();
  });
});

describe("an old browser", () => {
  let service;
  before(async () => { service = await startService(); });
  after(() => service.server.close());

  async function openOld(html) {
    const file = path.join(work, `old-${++pageCount}.html`);
    fs.writeFileSync(file, html);
    const page = await context.newPage();
    const errors = [];
    page.on("pageerror", (e) => errors.push(`pageerror: ${e.message}`));
    await page.addInitScript(() => {
      for (const name of ["TextDecoder", "fetch", "URL", "atob"]) delete window[name];
      delete String.prototype.codePointAt;
    });
    await page.goto(pathToFileURL(file).href);
    return { page, errors };
  }

  test("decodes and shows the report and sends it byte for byte", async () => {
    service.received.length = 0;
    const setupLog = R.sampleLog + `${R.CRLF}caf\u00e9 \u20ac \u2014 a&b=c+d`;
    const { page, errors } = await openOld(report({ url: service.url, setupLog }));
    assert.equal(await page.evaluate(() => typeof window.TextDecoder + typeof window.fetch + typeof window.atob),
                 "undefinedundefinedundefined");
    assert.equal(await text(page, "#stat-devices"), "9");
    const attention = await page.locator("#attention-list li").allInnerTexts();
    assert.match(attention[0], /Contr\u00f4leur audio haute d\u00e9finition \u2014 \u20ac/);
    assert.ok((await text(page, "#facts")).includes(HWID));
    assert.equal(await page.locator("#send-by-form").isVisible(), false, "the script's page offers no form");

    await until(() => service.received.length >= 1, "the POST");
    const fields = Object.fromEntries(parseForm(service.received[0].body));
    assert.ok(fields.drivers.equals(Buffer.from(R.base64Ansi(SCAN_DATA), "latin1")), "drivers differs");
    assert.ok(fields.setup_api_log.equals(R.cp1252(setupLog)), "setup_api_log differs");
    await page.locator("#sending-text", { hasText: "was sent to the driver-identification service at 127.0.0.1" }).waitFor();
    assert.deepEqual(errors, []);
    await page.close();
  });

  test("tells a refused report and an unreachable service apart", async () => {
    service.state.refusal = { status: 400, text: "The scan id is not 32 hexadecimal digits.\n" };
    try {
      const { page } = await openOld(report({ url: service.url }));
      await page.locator("#sending-text", { hasText: "did not take this report (400: The scan id is not 32 hexadecimal digits.)" }).waitFor();
      await page.close();
    } finally {
      service.state.refusal = null;
    }
    const closed = await startService();
    await new Promise((r) => closed.server.close(r));
    const { page } = await openOld(report({ url: closed.url }));
    await page.locator("#sending-text", { hasText: "could not be sent" }).waitFor();
    assert.equal(await page.locator("#send-again").isVisible(), true);
    await page.close();
  });
});

// With script off, the page still offers a plain form that posts the same
// four values the script would.
describe("with script off", () => {
  let service;
  let noScript;
  before(async () => {
    service = await startService();
    noScript = await launchBrowser("noscript-", { javaScriptEnabled: false });
  });
  after(async () => {
    service.server.close();
    await closeBrowser(noScript);
  });

  async function openNoScript(html) {
    const file = path.join(noScript.work, `report-${++pageCount}.html`);
    fs.writeFileSync(file, html);
    const page = await noScript.context.newPage();
    await page.goto(pathToFileURL(file).href);
    return page;
  }

  test("a form posts the report to the service", async () => {
    service.received.length = 0;
    const drivers = R.base64Ansi(SCAN_DATA);
    const hwid = R.base64Ansi(HWID);
    const setupLog = R.sampleLog + `${R.CRLF}a&b=c+d "quoted" <tag> caf\u00e9 \u20ac`;
    const page = await openNoScript(report({ url: service.url, drivers, hwid, setupLog }));
    assert.match(await text(page, "#fallback"), /scripts are turned off/);
    assert.equal(await page.locator(".send-local").isVisible(), false);
    const opened = page.context().waitForEvent("page");
    await page.click("#send-by-form");
    await opened;
    await until(() => service.received.some((r) => r.method === "POST"), "the form's POST");
    const post = service.received.find((r) => r.method === "POST");
    assert.equal(post.url, "/report");
    assert.equal(post.type, "application/x-www-form-urlencoded");
    const fields = parseForm(post.body);
    assert.deepEqual(fields.map(([k]) => k), ["drivers", "hwid", "scanid", "setup_api_log"]);
    const got = Object.fromEntries(fields);
    assert.ok(got.drivers.equals(Buffer.from(drivers, "latin1")), "drivers differs");
    assert.ok(got.hwid.equals(Buffer.from(hwid, "latin1")), "hwid differs");
    assert.ok(got.scanid.equals(Buffer.from(SCANID, "latin1")), "scanid differs");
    assert.ok(got.setup_api_log.equals(R.cp1252(setupLog)),
              `setup_api_log differs: ${JSON.stringify(got.setup_api_log.toString("latin1"))}`);
    await page.close();
  });

  test("a local report offers no form", async () => {
    const page = await openNoScript(report());
    assert.equal(await page.locator("#send-by-form").isVisible(), false);
    assert.equal(await page.locator(".send-local").isVisible(), true);
    await page.close();
  });
});
