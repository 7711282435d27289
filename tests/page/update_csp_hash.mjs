// Writes the hash of the page's script into its Content-Security-Policy.
// Run after every change to the script: node tests/page/update_csp_hash.mjs
import fs from "node:fs";
import { SOURCE_TEMPLATE, scriptHash } from "./report_lib.mjs";

const html = fs.readFileSync(SOURCE_TEMPLATE, "latin1");
const updated = html.replace(/'sha256-[^']*'/, `'sha256-${scriptHash(html)}'`);
if (updated !== html) fs.writeFileSync(SOURCE_TEMPLATE, updated, "latin1");
console.log(`script-src 'sha256-${scriptHash(html)}'`);
