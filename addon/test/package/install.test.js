'use strict';
// The packed addon as a host application gets it: `npm install <tarball>`
// into a fresh project, with the package's install script and, as hosts
// increasingly install, without it. Either way the prebuilt module for this
// platform and Node's ABI is the one loaded, and nothing is built. A host
// script in that project then requires the package by name, asks for the
// demo game's script and starts the companion for the running demo game; the
// reference service receives its presence. `make test` runs this after
// assembling dist/, with CORVANE_PACKAGE naming the tarball.

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
const path = require('node:path');
const presence = require('corvane_ostravine');
const moduleFile = require('node-gyp-build').path(path.dirname(require.resolve('corvane_ostravine/package.json')));
const [gamePid, appId] = process.argv.slice(2);
process.send({
  exports: Object.keys(presence),
  moduleFile,
  demoScript: presence.hasTallowin(appId),
  otherScript: presence.hasTallowin('1'),
  companion: presence.spawnTallowin(Number(gamePid), appId),
});
process.on('message', () => process.exit(0));
`;

// How each install is made, and which module it then loads: the prebuilt
// one where it fits, else the one its install script built from source (here
// where the prebuilt module's C library tag does not fit), which has the
// companion directory copied beside it.
const prebuilt = path.join('prebuilds', 'linux-x64', `node.abi${process.versions.modules}.glibc.node`);
const INSTALLS = {
  'without install scripts': { options: ['--ignore-scripts'], env: {}, module: prebuilt },
  'with install scripts': { options: [], env: {}, module: prebuilt },
  'where no prebuilt module fits': {
    options: [], env: { LIBC: 'musl' }, module: path.join('build', 'Release', 'corvane_ostravine.node'),
  },
};
const projects = [];
let runtimeDir;
let service;
let game;

function installInFreshProject(options, env) {
  const project = fs.mkdtempSync(path.join(os.tmpdir(), 'corvane-host-'));
  projects.push(project);
  fs.writeFileSync(path.join(project, 'package.json'),
    JSON.stringify({ name: 'corvane-host', version: '1.0.0', private: true }));
  fs.writeFileSync(path.join(project, 'host.js'), HOST);
  execFileSync('npm', ['install', path.resolve(packageFile), ...options, '--no-audit', '--no-fund', '--loglevel=error'], {
    cwd: project,
    env: { ...process.env, ...env, npm_config_nodedir: nodeDir },
    stdio: ['ignore', 'inherit', 'inherit'],
  });
  return project;
}

before(async () => {
  assert.ok(packageFile && fs.existsSync(packageFile), `CORVANE_PACKAGE names the packed addon: ${packageFile}`);
  runtimeDir = makeRuntimeDir();
  service = await startService(runtimeDir);
  game = await startDemoGame();
});

after(() => {
  game?.kill();
  service?.stop();
  for (const dir of [...projects, runtimeDir]) if (dir) fs.rmSync(dir, { recursive: true, force: true });
});

for (const [install, { options, env, module }] of Object.entries(INSTALLS)) {
  test(`installed ${install}, the package's module starts a working companion from beside it`,
    { timeout: 300000 }, async (t) => {
      const project = installInFreshProject(options, env);
      const host = spawn(process.execPath, ['host.js', String(game.pid), DEMO_APP_ID], {
        cwd: project,
        env: { ...process.env, ...env, XDG_RUNTIME_DIR: runtimeDir },
        stdio: ['ignore', 'inherit', 'inherit', 'ipc'],
      });
      const report = await new Promise((resolve, reject) => {
        host.once('message', resolve);
        host.once('exit', () => reject(new Error('the host ended before it reported')));
      });
      t.after(() => host.kill('SIGKILL'));

      const installed = path.join(project, 'node_modules', 'corvane_ostravine');
      assert.equal(report.moduleFile, path.join(installed, module));
      if (module === prebuilt) assert.ok(!fs.existsSync(path.join(installed, 'build')), 'nothing was built');
      assert.deepEqual(report.exports, ['hasTallowin', 'spawnTallowin']);
      assert.equal(report.demoScript, true);
      assert.equal(report.otherScript, false);
      const pid = report.companion;
      assert.ok(Number.isInteger(pid) && pid > 0, `the companion's pid: ${pid}`);
      assert.equal(fs.readlinkSync(`/proc/${pid}/exe`),
        fs.realpathSync(path.join(installed, path.dirname(module), COMPANION_DIR_NAME, 'CorvaneTallowin_x64')));
      assert.equal((await service.presenceOf(pid)).args.activity.details, 'Exploring Harbor');
    });
}
