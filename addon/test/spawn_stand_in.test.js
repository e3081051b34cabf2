'use strict';
// spawnTallowin with a stand-in in the companion's place, for what the real
// companion cannot show: the stand-in records every start in its directory,
// even of a process that ends at once, with the exact arguments it received,
// and its temporary layout can lose its executable without touching the
// build's. spawn.test.js starts the real companion.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const { inspect } = require('node:util');
const { installAddon, makeStandInLayout, startRecord, startRecords, childrenOf } = require('./layout');
const { accepted, refused } = require('./application_ids');

let layout;
let addon;
let game;
const companions = [];

function launch(pid, appId) {
  const companion = addon.spawnTallowin(pid, appId);
  if (companion !== null) companions.push(companion);
  return companion;
}

before(() => {
  layout = makeStandInLayout();
  addon = installAddon(layout.moduleDir);
  game = spawn('sleep', ['600'], { stdio: 'ignore' });
});

after(() => {
  for (const pid of companions) {
    try { process.kill(pid, 'SIGKILL'); } catch { /* already ended */ }
  }
  game.kill('SIGKILL');
  fs.rmSync(layout.moduleDir, { recursive: true, force: true });
});

test('refused arguments give null and start nothing', () => {
  const cases = [
    ['1234', 'x'], [-1, 'x'], [1.5, 'x'], [4294967296, 'x'], [NaN, 'x'], [Infinity, 'x'],
    [true, 'x'], [null, 'x'], [undefined, 'x'], [1234n, 'x'], [{ valueOf: () => 1234 }, 'x'],
    [1234], [], [1234, 5], [1234, null], [1234, { toString: () => 'x' }],
    // Ids the application-id rule refuses (a zero byte, a separator, a device name, ...).
    ...refused.map((appId) => [1234, appId]),
  ];
  const before = childrenOf(process.pid);
  for (const args of cases) {
    assert.equal(launch(...args), null, inspect(args));
  }
  assert.deepEqual(childrenOf(process.pid), before);
  assert.deepEqual(startRecords(layout.companionDir), []);
});

// The layout's path holds a space and characters outside ASCII.
test('every accepted pid and app id reaches a companion of its own as one argument each', async () => {
  const cases = [
    [0, 'x'], [4294967295, 'x'], [game.pid, ''],
    ...accepted.filter((appId) => !appId.includes('\uD800')).map((appId) => [game.pid, appId]),
    // Nothing prevents a second companion for the same game.
    [game.pid, '123456'],
  ];
  const pids = new Set();
  for (const [gamePid, appId] of cases) {
    const pid = launch(gamePid, appId);
    assert.ok(pid, inspect([gamePid, appId]));
    pids.add(pid);
    assert.deepEqual(await startRecord(layout.companionDir, pid), {
      program: layout.companion,
      directory: fs.realpathSync(layout.companionDir),
      args: [String(gamePid), appId],
    });
  }
  assert.equal(pids.size, cases.length);
});

test('a companion that cannot be started gives null and leaves no child behind', () => {
  const before = childrenOf(process.pid);
  fs.chmodSync(layout.companion, 0o644);
  try {
    assert.equal(launch(game.pid, '123456'), null);
  } finally {
    fs.chmodSync(layout.companion, 0o755);
  }
  fs.renameSync(layout.companion, `${layout.companion}.away`);
  try {
    assert.equal(launch(game.pid, '123456'), null);
  } finally {
    fs.renameSync(`${layout.companion}.away`, layout.companion);
  }
  assert.deepEqual(childrenOf(process.pid), before);
});
