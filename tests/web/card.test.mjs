// The reference service's presence card in the installed headless Chromium:
// real processes (the service with --web, the demo game with the release
// companion, or presence_sender for chosen presences) and a real browser.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import http from 'node:http';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { launchBrowser } from './browser.mjs';
import { Program, waitUntil } from './programs.mjs';

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const BUILD = process.env.CORVANE_BUILD_DIR ?? path.join(ROOT, 'build/linux-release');
const SERVICE = path.join(BUILD, 'tools/rpc_service/rpc_service');
const DEMO_GAME = path.join(BUILD, 'tools/demo_game/demo_game');
const COMPANION_DIR = path.join(BUILD, 'dist/8a57342e5e');
const SENDER = path.join(BUILD, 'tests/presence_sender');
const ARTIFACTS = path.join(ROOT, 'build/test-web');
const DEMO_APPLICATION_ID = '300000000000000001';
// The companion polls every 15 s; a change shows at the next poll.
const POLL_WAIT_MS = 25000;
const WAIT_MS = 10000;

let workDir;
let browser;

before(async () => {
  workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'corvane-web-'));
  fs.mkdirSync(ARTIFACTS, { recursive: true });
  browser = await launchBrowser(workDir);
});

after(async () => {
  await browser?.close();
  fs.rmSync(workDir, { recursive: true, force: true });
});

// The service with --web on any free port, in a socket directory of its
// own; resolves once it listens, with the page's address.
async function startService(t, extraArguments = []) {
  const runtimeDir = fs.mkdtempSync(path.join(workDir, 'run-'));
  const env = { ...process.env, XDG_RUNTIME_DIR: runtimeDir };
  const service = new Program(SERVICE, ['--web', '0', ...extraArguments], { env });
  t.after(() => service.stop());
  const first = await service.nextLine(() => true, WAIT_MS);
  assert.match(first, /^web http:\/\/127\.0\.0\.1:\d+\/$/, 'the page\'s address comes first');
  await service.nextLine((line) => line.startsWith('listening '), WAIT_MS);
  return { service, env, url: first.slice('web '.length) };
}

async function openPage(t, url) {
  const page = await browser.newPage();
  t.after(() => page.close());
  const response = await page.goto(url);
  // No reload may happen: a mark set now must still be there at the end.
  await page.evaluate(() => { window.loadedOnce = true; });
  return { page, response };
}

const card = (id) => `article[data-client="${id}"]`;

async function textOf(page, selector) {
  await page.locator(selector).waitFor({ timeout: WAIT_MS });
  return page.locator(selector).textContent();
}

// Waits until the element shows `expected` (a text or a pattern).
async function waitForText(page, selector, expected, timeout = WAIT_MS) {
  await page.waitForFunction(([s, e, isPattern]) => {
    const node = document.querySelector(s);
    if (!node) return false;
    return isPattern ? new RegExp(e).test(node.textContent) : node.textContent === e;
  }, [selector, expected instanceof RegExp ? expected.source : expected, expected instanceof RegExp], { timeout });
}

// The seconds a timer shows: "1:02:03 left" is 3723.
function seconds(clockText) {
  const parts = clockText.split(' ')[0].split(':').map(Number);
  return parts.reduce((total, part) => total * 60 + part, 0);
}

// Waits until the timer has moved `by` seconds (negative: down) from `from`.
async function waitForTimerToMove(page, selector, from, by) {
  await waitUntil(async () => {
    const now = seconds(await page.locator(selector).textContent());
    return by > 0 ? now >= from + by : now <= from + by;
  }, WAIT_MS, `${selector} to move ${by} s from ${from}`);
}

test('the card follows the demo game and the release companion live', async (t) => {
  const { env, url } = await startService(t);
  const { page } = await openPage(t, url);
  assert.equal(await textOf(page, '#empty'), 'No client has sent its handshake yet.');

  const game = new Program(DEMO_GAME, ['--step-ms', '0', '--seconds', '120'], { env });
  t.after(() => game.stop());
  await game.nextLine((line) => line.startsWith('demo_game: map'), WAIT_MS);  // its state is in memory
  const companion = new Program('./CorvaneTallowin_x64', [String(game.pid), DEMO_APPLICATION_ID],
    { env, cwd: COMPANION_DIR });
  t.after(() => companion.stop());

  await waitForText(page, `${card(1)} .details`, 'Exploring Harbor');
  assert.equal(await textOf(page, `${card(1)} .application`), DEMO_APPLICATION_ID);
  assert.equal(await textOf(page, `${card(1)} .state`), 'Level 1, party of 1/4');
  const large = page.locator(`${card(1)} .large-image`);
  assert.equal(await large.textContent(), 'map_harbor');
  assert.equal(await large.getAttribute('title'), 'Harbor');
  assert.equal(await page.locator(`${card(1)} .small-image`).getAttribute('title'), 'Score 0');

  // Two steps change the map (one at a time: the game takes a step per
  // wake-up); the next poll brings the change, without a reload.
  for (const level of [2, 3]) {
    game.write('step\n');
    await game.nextLine((line) => line.includes(`level ${level},`), WAIT_MS);
  }
  await waitForText(page, `${card(1)} .details`, 'Exploring Old Quarry', POLL_WAIT_MS);
  assert.equal(await textOf(page, `${card(1)} .state`), 'Level 3, party of 3/4');
  assert.equal(await page.evaluate(() => window.loadedOnce), true);
  await page.screenshot({ path: path.join(ARTIFACTS, 'presence-card.png') });

  // The game ends, the companion with it: the card stays, greyed.
  game.write('exit\n');
  assert.equal(await companion.exited(WAIT_MS), 0);
  await page.locator(`${card(1)}.gone`).waitFor({ timeout: WAIT_MS });
  assert.equal(await textOf(page, `${card(1)} .connection`), 'disconnected');
});

// A one-pixel PNG, for the image that the assets folder holds.
const PIXEL_PNG = Buffer.from('iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==',
  'base64');

test('a chosen presence: markup shown as text, party, live timers, images, buttons, cut request, clear, end', async (t) => {
  const assets = fs.mkdtempSync(path.join(workDir, 'assets-'));
  fs.writeFileSync(path.join(assets, 'harbor.png'), PIXEL_PNG);
  const { service, env, url } = await startService(t, ['--assets', assets, '--clients', '1']);
  const { page, response } = await openPage(t, url);
  const policy = response.headers()['content-security-policy'];
  assert.match(policy, /script-src 'self'/);
  assert.doesNotMatch(policy, /unsafe-inline|unsafe-eval/);

  const client = new Program(SENDER, ['1234'], { env });
  t.after(() => client.stop());
  const markup = {
    details: '<img src=x onerror="window.injected=\'details\'">',
    state: '<script>window.injected = \'state\'</script>',
    largeImageText: '<i onmouseover="window.injected=\'caption\'">Harbor</i>',
    smallImageKey: '<b>key</b>',
    smallImageText: '"quoted" & <u>underlined</u>',
  };
  const startTime = Math.floor(Date.now() / 1000) - 75;
  const lines = Object.entries(markup).map(([field, value]) => `${field} ${value}`);
  client.write([...lines, 'largeImageKey harbor', 'partyId p1', 'partyCount 2', 'partyCapacity 5',
    `startTime ${startTime}`, 'joinSecret j', 'spectateSecret s', 'instance 1', 'send', ''].join('\n'));

  await waitForText(page, `${card(1)} .details`, markup.details);
  assert.equal(await textOf(page, `${card(1)} .state`), markup.state);
  assert.equal(await textOf(page, `${card(1)} .application`), '1234');
  const small = page.locator(`${card(1)} .small-image`);
  assert.equal(await small.textContent(), markup.smallImageKey);
  assert.equal(await small.getAttribute('title'), markup.smallImageText);
  // The key with a file is the file; the caption is its title.
  const large = page.locator(`${card(1)} img.large-image`);
  await large.waitFor({ timeout: WAIT_MS });
  assert.equal(await large.getAttribute('title'), markup.largeImageText);
  await page.waitForFunction((s) => document.querySelector(s)?.naturalWidth === 1, `${card(1)} img.large-image`);
  // Nothing of the markup became an element, and no script of it ran.
  assert.equal(await page.locator(`${card(1)} script, ${card(1)} b, ${card(1)} i, ${card(1)} u`).count(), 0);
  assert.equal(await page.locator(`${card(1)} img`).count(), 1);
  assert.equal(await page.evaluate(() => window.injected), undefined);

  assert.equal(await textOf(page, `${card(1)} .party`), '2 of 5');
  assert.equal(await textOf(page, `${card(1)} .join`), 'Ask to Join');
  assert.equal(await textOf(page, `${card(1)} .spectate`), 'Spectate');
  assert.equal(await textOf(page, `${card(1)} .instance`), 'instance');
  const elapsed = await textOf(page, `${card(1)} .timer`);
  assert.match(elapsed, /^01:1\d elapsed$/);
  await waitForTimerToMove(page, `${card(1)} .timer`, seconds(elapsed), 2);

  // An end time counts down; fields left unset leave their lines out.
  const endTime = Math.floor(Date.now() / 1000) + 3 * 3600 + 125;
  client.write(`reset\ndetails Countdown\nendTime ${endTime}\nsend\n`);
  await waitForText(page, `${card(1)} .details`, 'Countdown');
  const left = await textOf(page, `${card(1)} .timer`);
  assert.match(left, /^3:02:0\d left$/);
  await waitForTimerToMove(page, `${card(1)} .timer`, seconds(left), -2);
  for (const absent of ['.state', '.party', '.images', '.buttons', '.instance']) {
    assert.equal(await page.locator(`${card(1)} ${absent}`).count(), 0, absent);
  }

  // A request the client cut at its buffer's end is shown as it came: cut.
  client.write(`reset\nstate ${'x'.repeat(20000)}\nsend\n`);
  await waitForText(page, `${card(1)} .presence-broken`, 'The last request is not JSON (16384 characters)');
  assert.match(await textOf(page, `${card(1)} .presence-raw`), /"state":"x{16000,}$/);

  client.write('clear\n');
  await waitForText(page, `${card(1)} .presence-cleared`, 'Presence cleared');
  assert.equal(await textOf(page, `${card(1)} .requests`), '4 requests');

  // Its one client gone, the service ends, and the page's stream with it;
  // the stream still brought the end, so the card stays, greyed.
  client.closeInput();
  assert.equal(await client.exited(WAIT_MS), 0);
  assert.equal(await service.exited(WAIT_MS), 0);
  await page.locator(`${card(1)}.gone`).waitFor({ timeout: WAIT_MS });
  assert.equal(await page.evaluate(() => window.loadedOnce), true);
});

// A plain request with the given Host header; resolves with the status.
function statusFor(port, host, address = '127.0.0.1', pathName = '/') {
  return new Promise((resolve, reject) => {
    const request = http.get({ host: address, port, path: pathName, headers: { Host: host } }, (response) => {
      response.resume();
      resolve(response.statusCode);
    });
    request.on('error', reject);
  });
}

test('the page answers on 127.0.0.1 only, to its own host names only', async (t) => {
  const assets = fs.mkdtempSync(path.join(workDir, 'assets-'));
  fs.writeFileSync(path.join(workDir, 'outside.png'), PIXEL_PNG);
  const { url } = await startService(t, ['--assets', assets]);
  const port = Number(new URL(url).port);

  const cases = [
    [`127.0.0.1:${port}`, '/', 200],
    [`localhost:${port}`, '/card.js', 200],
    // Another site's name resolved to this address (DNS rebinding).
    [`rebind.example:${port}`, '/', 421],
    [`127.0.0.1:${port + 1}`, '/', 421],
    [`localhost`, '/', 421],
    [`127.0.0.1:${port}`, '/missing.js', 404],
    // Image keys never reach out of the assets folder.
    [`127.0.0.1:${port}`, '/assets/..%2Foutside.png', 404],
    [`127.0.0.1:${port}`, `/assets/${encodeURIComponent('../' + path.basename(workDir) + '/outside')}.png`, 404],
  ];
  for (const [host, pathName, expected] of cases) {
    assert.equal(await statusFor(port, host, '127.0.0.1', pathName), expected, `${host} ${pathName}`);
  }
  // Another loopback address is another interface: nothing listens there.
  await assert.rejects(statusFor(port, `127.0.0.2:${port}`, '127.0.0.2'), { code: 'ECONNREFUSED' });
  for (const address of Object.values(os.networkInterfaces()).flat()) {
    if (address.internal || address.family !== 'IPv4') continue;
    await assert.rejects(statusFor(port, `${address.address}:${port}`, address.address), { code: 'ECONNREFUSED' },
      address.address);
  }
});

// Opens the event stream; resolves with its status and the request, which
// the caller destroys to close the stream.
function openStream(port) {
  return new Promise((resolve, reject) => {
    const request = http.get({ host: '127.0.0.1', port, path: '/events' }, (response) => {
      response.resume();
      resolve({ status: response.statusCode, request });
    });
    request.on('error', reject);
  });
}

test('event streams beyond four are refused, and a closed one makes room again', async (t) => {
  const { url } = await startService(t);
  const port = Number(new URL(url).port);
  const open = [];
  t.after(() => open.forEach((stream) => stream.request.destroy()));
  for (let i = 0; i < 4; ++i) open.push(await openStream(port));
  assert.deepEqual(open.map((stream) => stream.status), [200, 200, 200, 200]);
  const refused = await openStream(port);
  refused.request.destroy();
  assert.equal(refused.status, 503);
  // The files are still served meanwhile.
  assert.equal(await statusFor(port, `127.0.0.1:${port}`), 200);

  // The service notices a closed stream at its next keep-alive comment.
  open.pop().request.destroy();
  await waitUntil(async () => {
    const stream = await openStream(port);
    if (stream.status === 200) open.push(stream); else stream.request.destroy();
    return stream.status === 200;
  }, WAIT_MS, 'room for a stream');
});

test('a --web port that is taken is refused with exit code 1', async (t) => {
  const { url } = await startService(t);
  const taken = new Program(SERVICE, ['--web', new URL(url).port], { env: { ...process.env, XDG_RUNTIME_DIR: workDir } });
  t.after(() => taken.stop());
  assert.equal(await taken.exited(WAIT_MS), 1);
  assert.match(taken.errors(), /--web: cannot bind 127\.0\.0\.1:\d+/);
});
