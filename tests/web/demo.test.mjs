// `make demo`'s script as a newcomer runs it: the page's address comes
// first, the card there shows the demo game, and the first presence is the
// game's, not a clear.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { launchBrowser } from './browser.mjs';
import { Program } from './programs.mjs';

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const WAIT_MS = 10000;

test('the demo prints the card\'s address first, and its first presence is the game\'s', async (t) => {
  const workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'corvane-demo-'));
  const demo = new Program(path.join(ROOT, 'tools/demo'), [], { env: { ...process.env, DEMO_SECONDS: '6' } });
  let browser;
  // The browser's profile lies in the work folder: close it before removing that.
  t.after(async () => {
    await browser?.close();
    await demo.stop();
    fs.rmSync(workDir, { recursive: true, force: true });
  });

  const first = await demo.nextLine(() => true, WAIT_MS);
  const address = first.match(/^demo: the presence card: (http:\/\/127\.0\.0\.1:\d+\/) \(open it in a browser\)$/);
  assert.ok(address, first);

  browser = await launchBrowser(workDir);
  const page = await browser.newPage();
  await page.goto(address[1]);
  await page.locator('article .details').waitFor({ timeout: WAIT_MS });
  assert.equal(await page.locator('article .details').textContent(), 'Exploring Harbor');

  const presence = await demo.nextLine((line) => line.includes(' presence #'), WAIT_MS);
  assert.match(presence, /presence #1 from pid \d+: Exploring Harbor \| Level 1, party of 1\/4/);
  assert.equal(await demo.exited(WAIT_MS + 6000), 0);
});
