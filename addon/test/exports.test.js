'use strict';
// The module as the build assembles it: the addon beside the companion
// directory of build/<preset>/dist, loaded by real Node.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { COMPANION_DIR_NAME, distDir, installAddon } = require('./layout');
const { accepted, refused } = require('./application_ids');

const scriptsDir = path.join(distDir, COMPANION_DIR_NAME, 'scripts');
const prefix = `addon-test-${process.pid}`;
const created = [];
let addon;

before(() => {
  assert.ok(fs.existsSync(scriptsDir), `${scriptsDir} is assembled by the linux build (make test builds it)`);
  addon = installAddon(distDir);
});

after(() => {
  for (const file of created) fs.rmSync(file, { recursive: true, force: true });
});

function createScript(name, { directory = false } = {}) {
  const file = path.join(scriptsDir, name);
  if (directory) fs.mkdirSync(file);
  else fs.writeFileSync(file, 'function get_presence() return {} end\n');
  created.push(file);
}

test('the exports are exactly hasTallowin and spawnTallowin, in that order', () => {
  assert.deepEqual(Reflect.ownKeys(addon), ['hasTallowin', 'spawnTallowin']);
  assert.equal(typeof addon.hasTallowin, 'function');
  assert.equal(typeof addon.spawnTallowin, 'function');
});

test('hasTallowin tells whether the script of an app id is in the scripts directory', () => {
  createScript(`${prefix}.lua`);
  createScript(`${prefix}-folder.lua`, { directory: true });
  createScript(`${prefix}-J\u00fcrgen \u{1F600}.lua`);
  createScript(`${prefix}-\uFFFD.lua`);
  createScript(`${prefix}-cut`);

  const cases = [
    [prefix, true],
    [`${prefix}-absent`, false],
    [`${prefix}-folder`, true],
    [`${prefix}-J\u00fcrgen \u{1F600}`, true],
    // A lone surrogate reaches the file system as U+FFFD.
    [`${prefix}-\uD800`, true],
    // A zero byte must not cut the name short and find "…-cut".
    [`${prefix}-cut\u0000x`, false],
  ];
  for (const [appId, exists] of cases) {
    assert.equal(addon.hasTallowin(appId), exists, JSON.stringify(appId));
  }
});

test('hasTallowin applies the application-id rule, though a file of the name is there', () => {
  // The ids here name no script of another test; the shared directory holds
  // what these create only for this test.
  for (const appId of [...accepted, ...refused]) {
    if (fs.existsSync(path.join(scriptsDir, `${appId}.lua`))) continue;  // the demo game's, kept
    try { createScript(`${appId}.lua`); } catch { /* a name this system cannot hold */ }
  }
  createScript(`${prefix}-inside.lua`);
  for (const appId of accepted) assert.equal(addon.hasTallowin(appId), true, JSON.stringify(appId));
  for (const appId of refused) assert.equal(addon.hasTallowin(appId), false, JSON.stringify(appId));
  // Nor does a detour find a script that is there.
  for (const appId of [`../scripts/${prefix}-inside`, `./${prefix}-inside`, `/${prefix}-inside`]) {
    assert.equal(addon.hasTallowin(appId), false, JSON.stringify(appId));
  }
});

test('hasTallowin("") tests the file ".lua"', () => {
  const bare = path.join(scriptsDir, '.lua');
  assert.ok(!fs.existsSync(bare));
  assert.equal(addon.hasTallowin(''), false);
  createScript('.lua');
  assert.equal(addon.hasTallowin(''), true);
});

test('hasTallowin gives null for anything but a string', () => {
  const cases = [[], [5], [null], [undefined], [{}], [['1']], [new String('1')], [Symbol('1')], [1n]];
  for (const args of cases) {
    assert.equal(addon.hasTallowin(...args), null, String(args.map(String)));
  }
});
