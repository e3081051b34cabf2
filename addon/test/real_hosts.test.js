'use strict';
// The launcher in hosts that are not a plain Node main thread: worker
// threads, and a module loaded by a relative path. A stand-in takes the
// companion's place, so that what reached it can be seen. (A kernel without
// close_range is tested natively: tests/addon/launch_linux_test.cpp.)

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { copyAddon, makeStandInLayout, startRecord, hasEnded, waitFor } = require('./layout');

let game;
const layouts = [];
const started = [];

function standInLayout() {
  const layout = makeStandInLayout();
  layouts.push(layout);
  return { ...layout, addonFile: copyAddon(layout.moduleDir) };
}

// A Node host running `source` with `args`, that reports one message and
// exits when told to.
async function startHost(source, args) {
  const host = spawn(process.execPath, ['-e', source, ...args], { stdio: ['ignore', 'inherit', 'inherit', 'ipc'] });
  const exited = new Promise((resolve) => host.on('exit', resolve));
  const report = await new Promise((resolve, reject) => {
    host.once('message', resolve);
    host.once('exit', () => reject(new Error('the host ended before it reported')));
  });
  return { host, exited, report };
}

before(() => {
  game = spawn('sleep', ['600'], { stdio: 'ignore' });
});

after(() => {
  for (const pid of started) {
    try { process.kill(pid, 'SIGKILL'); } catch { /* already ended */ }
  }
  game.kill('SIGKILL');
  for (const layout of layouts) fs.rmSync(layout.moduleDir, { recursive: true, force: true });
});

// Two workers load the module one after the other, each starts a companion
// and ends; then the main thread loads it too: three contexts in one process.
const WORKER_HOST = `
const { Worker } = require('node:worker_threads');
const [addonFile, gamePid] = process.argv.slice(1);
const WORKER = \`
const { parentPort, workerData } = require('node:worker_threads');
const addon = require(workerData.addonFile);
parentPort.postMessage({ exports: Object.keys(addon), pid: addon.spawnTallowin(workerData.gamePid, '123456') });
\`;
function runWorker() {
  return new Promise((resolve, reject) => {
    let report;
    const worker = new Worker(WORKER, { eval: true, workerData: { addonFile, gamePid: Number(gamePid) } });
    worker.on('message', (message) => { report = message; });
    worker.on('error', reject);
    worker.on('exit', () => resolve(report));
  });
}
(async () => {
  const reports = [await runWorker(), await runWorker()];
  const addon = require(addonFile);
  reports.push({ exports: Object.keys(addon), pid: addon.spawnTallowin(Number(gamePid), '123456') });
  process.send(reports);
})().catch((error) => process.send({ error: String(error) }));
process.on('message', () => process.exit(0));
`;

test('a companion started from a worker thread outlives the worker and ends with the host', { timeout: 60000 },
  async (t) => {
    const layout = standInLayout();
    const { host, exited, report } = await startHost(WORKER_HOST, [layout.addonFile, String(game.pid)]);
    t.after(() => host.kill('SIGKILL'));
    assert.ok(Array.isArray(report), `every context loaded the module: ${JSON.stringify(report)}`);
    for (const { exports, pid } of report) {
      assert.deepEqual(exports, ['hasTallowin', 'spawnTallowin']);
      assert.ok(Number.isInteger(pid) && pid > 0, `a companion started: ${pid}`);
      started.push(pid);
      assert.deepEqual((await startRecord(layout.companionDir, pid)).args, [String(game.pid), '123456']);
    }
    // The workers have ended; had the companions been tied to their threads,
    // the kernel would have killed them by now.
    await new Promise((resolve) => setTimeout(resolve, 500));
    for (const { pid } of report) assert.ok(!hasEnded(pid), `companion ${pid} runs on after its worker ended`);

    host.kill('SIGKILL');
    await exited;
    await waitFor(() => report.every(({ pid }) => hasEnded(pid)), 'the companions to end with their host');
  });

test('a module loaded by a relative path starts its companion by an absolute one', () => {
  const layout = standInLayout();
  const relative = path.relative(process.cwd(), layout.addonFile);
  assert.ok(!path.isAbsolute(relative) && relative.includes('/'));
  const loaded = { exports: {} };
  process.dlopen(loaded, relative);
  const pid = loaded.exports.spawnTallowin(game.pid, '123456');
  assert.ok(pid, 'the companion started although the child changes directory first');
  started.push(pid);
  return startRecord(layout.companionDir, pid).then((record) => {
    assert.equal(record.program, fs.realpathSync(layout.companion));
    assert.equal(record.directory, fs.realpathSync(layout.companionDir));
  });
});
