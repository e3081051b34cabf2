'use strict';
// spawnTallowin on the companion directory that the build assembles: the real
// companion, started for the demo game, publishes the game's presence to the
// reference RPC service. It finds the service through XDG_RUNTIME_DIR, which
// it inherits from this process.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { COMPANION_DIR_NAME, distDir, installAddon, childrenOf, processState, waitFor } = require('./layout');
const { DEMO_APP_ID, makeRuntimeDir, startService, startDemoGame } = require('./programs');

const companionDir = path.join(distDir, COMPANION_DIR_NAME);
let addon;
let runtimeDir;
let service;
let game;
const companions = [];

before(async () => {
  addon = installAddon(distDir);
  runtimeDir = makeRuntimeDir();
  process.env.XDG_RUNTIME_DIR = runtimeDir;
  service = await startService(runtimeDir);
  game = await startDemoGame();
});

after(() => {
  for (const pid of companions) {
    try { process.kill(pid, 'SIGKILL'); } catch { /* already ended */ }
  }
  game?.kill();
  service?.stop();
  fs.rmSync(runtimeDir, { recursive: true, force: true });
});

test('spawnTallowin starts the companion for a game and returns its pid', { timeout: 60000 }, async () => {
  const pid = addon.spawnTallowin(game.pid, DEMO_APP_ID);
  assert.ok(Number.isInteger(pid) && pid > 0, `pid ${pid}`);
  companions.push(pid);
  assert.ok(childrenOf(process.pid).includes(pid));

  // The service hears from the process whose pid was returned.
  const presence = await service.presenceOf(pid);
  assert.equal(presence.args.activity.details, 'Exploring Harbor');
  assert.equal(fs.readlinkSync(`/proc/${pid}/exe`), fs.realpathSync(path.join(companionDir, 'CorvaneTallowin_x64')));
  assert.equal(fs.readlinkSync(`/proc/${pid}/cwd`), fs.realpathSync(companionDir));

  // While the addon waits for its companion, Node still sees its own
  // children end, with their exit codes.
  assert.equal(spawnSync('sh', ['-c', 'exit 3']).status, 3);
  const child = spawn('sh', ['-c', 'exit 5']);
  assert.equal(await new Promise((resolve) => child.on('exit', resolve)), 5);

  // The game ends, the companion with it, and it is reaped, not left a zombie.
  assert.equal(await game.end(), 0);
  await waitFor(() => processState(pid) === null, `companion ${pid} to end and be reaped`);
});
