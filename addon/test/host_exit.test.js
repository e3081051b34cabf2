'use strict';
// Companions are tied to the host process: however the host ends, the real
// companions it started end with it, while their game runs on.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const { distDir, copyAddon, hasEnded, waitFor } = require('./layout');
const { DEMO_APP_ID, makeRuntimeDir, startService, startDemoGame } = require('./programs');

// A host that loads the addon and starts one companion per runtime directory
// for the game, each publishing to the service of that directory (a service
// serves one client at a time). It reports their pids and exits when told to.
const HOST = `
const [addonFile, gamePid, appId, ...runtimeDirs] = process.argv.slice(1);
const addon = require(addonFile);
const pids = runtimeDirs.map((runtimeDir) => {
  process.env.XDG_RUNTIME_DIR = runtimeDir;
  return addon.spawnTallowin(Number(gamePid), appId);
});
process.send(pids);
process.on('message', () => process.exit(0));
`;

const endings = {
  'is killed': (host) => host.kill('SIGKILL'),
  'is terminated': (host) => host.kill('SIGTERM'),
  'exits': (host) => host.send('exit'),
};

let addonFile;
let game;
const runtimeDirs = [makeRuntimeDir(), makeRuntimeDir()];
const services = [];

before(async () => {
  addonFile = copyAddon(distDir);
  for (const runtimeDir of runtimeDirs) services.push(await startService(runtimeDir));
  game = await startDemoGame();
});

after(() => {
  game?.kill();
  for (const service of services) service.stop();
  for (const runtimeDir of runtimeDirs) fs.rmSync(runtimeDir, { recursive: true, force: true });
});

for (const [ending, end] of Object.entries(endings)) {
  test(`every companion ends when the host ${ending}`, { timeout: 60000 }, async (t) => {
    const host = spawn(process.execPath, ['-e', HOST, addonFile, String(game.pid), DEMO_APP_ID, ...runtimeDirs],
      { stdio: ['ignore', 'inherit', 'inherit', 'ipc'] });
    const hostEnded = new Promise((resolve) => host.on('exit', resolve));
    const pids = await new Promise((resolve, reject) => {
      host.once('message', resolve);
      host.once('exit', () => reject(new Error('the host ended before it reported')));
    });
    t.after(() => {
      host.kill('SIGKILL');
      pids.forEach((pid) => { try { process.kill(pid, 'SIGKILL'); } catch { /* ended */ } });
    });
    assert.equal(pids.length, 2);
    assert.ok(pids.every(Boolean), `the host started both companions: ${pids}`);
    assert.notEqual(pids[0], pids[1]);
    // Each runs and publishes, the duplicate for the same game as well.
    for (const [i, pid] of pids.entries()) {
      assert.equal((await services[i].presenceOf(pid)).args.activity.details, 'Exploring Harbor');
    }

    end(host);
    await hostEnded;
    await waitFor(() => pids.every(hasEnded), 'the companions to end with their host');
    assert.ok(!hasEnded(game.pid), 'the game still runs, so the companions ended with the host alone');
  });
}
