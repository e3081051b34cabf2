'use strict';
// Companions are tied to the host process: however the host ends, they end
// with it.

const { test } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const { copyAddon, makeStandInLayout, startRecord, hasEnded, waitFor } = require('./layout');

// A host that loads the addon, starts two companions, reports their pids and
// exits when told to.
const HOST = `
const addon = require(process.argv[1]);
const pids = [addon.spawnTallowin(process.pid, '123456'), addon.spawnTallowin(process.pid, '654321')];
process.send(pids);
process.on('message', () => process.exit(0));
`;

const endings = {
  'exits': (host) => host.send('exit'),
  'is terminated': (host) => host.kill('SIGTERM'),
  'is killed': (host) => host.kill('SIGKILL'),
};

for (const [ending, end] of Object.entries(endings)) {
  test(`every companion ends when the host ${ending}`, async (t) => {
    const layout = makeStandInLayout();
    t.after(() => fs.rmSync(layout.moduleDir, { recursive: true, force: true }));
    const addonFile = copyAddon(layout.moduleDir);

    const host = spawn(process.execPath, ['-e', HOST, addonFile], { stdio: ['ignore', 'inherit', 'inherit', 'ipc'] });
    const hostEnded = new Promise((resolve) => host.on('exit', resolve));
    const pids = await new Promise((resolve, reject) => {
      host.once('message', resolve);
      host.once('exit', () => reject(new Error('the host ended before it reported')));
    });
    t.after(() => pids.forEach((pid) => { try { process.kill(pid, 'SIGKILL'); } catch { /* ended */ } }));
    assert.equal(pids.length, 2);
    for (const pid of pids) {
      assert.ok(pid, 'the host started a companion');
      await startRecord(layout.companionDir, pid);
      assert.ok(!hasEnded(pid));
    }

    end(host);
    await hostEnded;
    await waitFor(() => pids.every(hasEnded), 'the companions to end with their host');
  });
}
