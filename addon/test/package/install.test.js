'use strict';
// The packed addon as a host application gets it: `npm install <tarball>`
// into a fresh project, which fetches nan and builds the module against the
// installed Node's headers. A host script in that project then requires the
// package by name, asks for the demo game's script and starts the companion
// for the running demo game; the reference service receives its presence.
// `make test` runs this after assembling dist/, with CORVANE_PACKAGE naming
// the tarball.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync, spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { COMPANION_DIR_NAME } = require('../layout');
const { DEMO_APP_ID, makeRuntimeDir, startService, startDemoGame } = require('../programs');

const packageFile = process.env.CORVANE_PACKAGE;
// Headers of the Node that runs this test; never downloaded.
const nodeDir = path.dirname(path.dirname(fs.realpathSync(process.execPath)));

const HOST = `
const presence = require('corvane_ostravine');
const [gamePid, appId] = process.argv.slice(2);
process.send({
  exports: Object.keys(presence),
  demoScript: presence.hasTallowin(appId),
  otherScript: presence.hasTallowin('1'),
  companion: presence.spawnTallowin(Number(gamePid), appId),
});
process.on('message', () => process.exit(0));
`;

let project;
let runtimeDir;
let service;
let game;

before(async () => {
  assert.ok(packageFile && fs.existsSync(packageFile), `CORVANE_PACKAGE names the packed addon: ${packageFile}`);
  project = fs.mkdtempSync(path.join(os.tmpdir(), 'corvane-host-'));
  fs.writeFileSync(path.join(project, 'package.json'),
    JSON.stringify({ name: 'corvane-host', version: '1.0.0', private: true }));
  fs.writeFileSync(path.join(project, 'host.js'), HOST);
  execFileSync('npm', ['install', path.resolve(packageFile), '--no-audit', '--no-fund', '--loglevel=error'], {
    cwd: project,
    env: { ...process.env, npm_config_nodedir: nodeDir },
    stdio: ['ignore', 'inherit', 'inherit'],
  });
  runtimeDir = makeRuntimeDir();
  service = await startService(runtimeDir);
  game = await startDemoGame();
});

after(() => {
  game?.kill();
  service?.stop();
  for (const dir of [project, runtimeDir]) if (dir) fs.rmSync(dir, { recursive: true, force: true });
});

test('the installed package starts a working companion from beside its module', { timeout: 60000 }, async (t) => {
  const host = spawn(process.execPath, ['host.js', String(game.pid), DEMO_APP_ID], {
    cwd: project,
    env: { ...process.env, XDG_RUNTIME_DIR: runtimeDir },
    stdio: ['ignore', 'inherit', 'inherit', 'ipc'],
  });
  const report = await new Promise((resolve, reject) => {
    host.once('message', resolve);
    host.once('exit', () => reject(new Error('the host ended before it reported')));
  });
  t.after(() => host.kill('SIGKILL'));

  assert.deepEqual(report.exports, ['hasTallowin', 'spawnTallowin']);
  assert.equal(report.demoScript, true);
  assert.equal(report.otherScript, false);
  const pid = report.companion;
  assert.ok(Number.isInteger(pid) && pid > 0, `the companion's pid: ${pid}`);

  const installed = path.join(project, 'node_modules', 'corvane_ostravine', 'build', 'Release');
  assert.equal(fs.readlinkSync(`/proc/${pid}/exe`),
    fs.realpathSync(path.join(installed, COMPANION_DIR_NAME, 'CorvaneTallowin_x64')));
  assert.equal((await service.presenceOf(pid)).args.activity.details, 'Exploring Harbor');
});
