'use strict';
// The companion's standard streams. Node marks its descriptors 0, 1 and 2
// close-on-exec, and a host may have closed them; either way the real
// companion must start with /dev/null on all three, so that its pidfd and RPC
// socket never take those numbers and nothing it writes to standard output or
// error reaches the RPC socket. The host is a real Node process that loads
// the addon and starts the companion for the demo game.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const { distDir, copyAddon } = require('./layout');
const { DEMO_APP_ID, makeRuntimeDir, startService, startDemoGame } = require('./programs');

const HOST = `
const fs = require('node:fs');
const [addonFile, gamePid, appId, streams] = process.argv.slice(1);
const addon = require(addonFile);
if (streams === 'closed') for (const fd of [0, 1, 2]) fs.closeSync(fd);
process.send(addon.spawnTallowin(Number(gamePid), appId));
process.on('message', () => process.exit(0));
`;

let addonFile;
let game;
const runtimeDirs = [];

before(async () => {
  addonFile = copyAddon(distDir);
  game = await startDemoGame();
});

after(() => {
  game?.kill();
  for (const runtimeDir of runtimeDirs) fs.rmSync(runtimeDir, { recursive: true, force: true });
});

for (const streams of ['close-on-exec', 'closed']) {
  test(`the companion's descriptors 0, 1 and 2 are /dev/null when the host's are ${streams}`,
    { timeout: 60000 }, async (t) => {
      const runtimeDir = makeRuntimeDir();
      runtimeDirs.push(runtimeDir);
      const service = await startService(runtimeDir);
      const host = spawn(process.execPath, ['-e', HOST, addonFile, String(game.pid), DEMO_APP_ID, streams], {
        env: { ...process.env, XDG_RUNTIME_DIR: runtimeDir },
        stdio: ['ignore', 'inherit', 'inherit', 'ipc'],
      });
      const pid = await new Promise((resolve, reject) => {
        host.once('message', resolve);
        host.once('exit', () => reject(new Error('the host ended before it reported')));
      });
      t.after(() => {
        host.kill('SIGKILL');
        try { process.kill(pid, 'SIGKILL'); } catch { /* ended with its host */ }
        service.stop();
      });
      assert.ok(Number.isInteger(pid) && pid > 0, `the host started the companion: ${pid}`);

      // It runs and publishes, so its own descriptors work.
      assert.equal((await service.presenceOf(pid)).args.activity.details, 'Exploring Harbor');
      for (const fd of [0, 1, 2]) {
        assert.equal(fs.readlinkSync(`/proc/${pid}/fd/${fd}`), '/dev/null', `descriptor ${fd}`);
      }
    });
}
