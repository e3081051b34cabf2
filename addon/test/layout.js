'use strict';
// The companion layout the addon works on, for the tests: the assembled
// directory of the build, or a temporary one with a stand-in companion.

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const COMPANION_DIR_NAME = '8a57342e5e';
const ADDON_FILE = 'corvane_ostravine.node';
const builtAddon = path.resolve(__dirname, '..', 'build', 'Release', ADDON_FILE);
const distDir = process.env.CORVANE_DIST_DIR || path.resolve(__dirname, '..', '..', 'build', 'linux', 'dist');

// Places the built addon in `moduleDir`, so that its companion directory is
// the one beside it, and gives the path of the copy. The test files run at
// the same time and share the build's directory: the copy replaces the file
// by renaming, never by overwriting, because another test process may have
// the old file mapped.
function copyAddon(moduleDir) {
  const target = path.join(moduleDir, ADDON_FILE);
  const partial = `${target}.${process.pid}.partial`;
  fs.copyFileSync(builtAddon, partial);
  fs.renameSync(partial, target);
  return target;
}

function installAddon(moduleDir) {
  return require(copyAddon(moduleDir));
}

// Stands in for the companion until the real one is assembled: it records its
// program path, working directory and arguments in started-<pid> in its
// working directory, then waits to be ended, or ends at once when its app id
// asks for it.
const STAND_IN = `#!/bin/sh
printf '%s\\n' "$0" "$(pwd -P)" "$@" > "started-$$.partial" && mv "started-$$.partial" "started-$$"
[ "$2" = "end-at-once" ] && exit 0
exec sleep 600
`;

// A temporary module directory (named with a space and characters outside
// ASCII) holding the companion directory with the stand-in and a scripts
// directory.
function makeStandInLayout() {
  const moduleDir = fs.mkdtempSync(path.join(os.tmpdir(), 'corvane addon J\u00fcrgen \u{1F600} '));
  const companionDir = path.join(moduleDir, COMPANION_DIR_NAME);
  fs.mkdirSync(path.join(companionDir, 'scripts'), { recursive: true });
  const companion = path.join(companionDir, 'CorvaneTallowin_x64');
  fs.writeFileSync(companion, STAND_IN, { mode: 0o755 });
  return { moduleDir, companionDir, companion };
}

// What the stand-in wrote about its start, once it has written it.
async function startRecord(companionDir, pid) {
  const file = path.join(companionDir, `started-${pid}`);
  await waitFor(() => fs.existsSync(file), `companion ${pid} to start`);
  const [program, directory, ...args] = fs.readFileSync(file, 'utf8').split('\n').slice(0, -1);
  return { program, directory, args };
}

function startRecords(companionDir) {
  return fs.readdirSync(companionDir).filter((name) => name.startsWith('started-'));
}

// The process ids of the children of `pid`, over all its threads.
function childrenOf(pid) {
  const tasks = path.join('/proc', String(pid), 'task');
  return fs.readdirSync(tasks)
    .flatMap((task) => fs.readFileSync(path.join(tasks, task, 'children'), 'utf8').split(' '))
    .filter(Boolean)
    .map(Number);
}

// The state letter of a process ('S', 'R', 'Z', ...), or null once it is gone.
function processState(pid) {
  try {
    const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
    return stat.slice(stat.lastIndexOf(')') + 2, stat.lastIndexOf(')') + 3);
  } catch {
    return null;
  }
}

// A killed process that nobody has reaped yet is a zombie: it runs no more.
function hasEnded(pid) {
  const state = processState(pid);
  return state === null || state === 'Z' || state === 'X';
}

async function waitFor(condition, what, timeoutMs = 15000) {
  const deadline = Date.now() + timeoutMs;
  while (!condition()) {
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

module.exports = {
  COMPANION_DIR_NAME,
  distDir,
  copyAddon,
  installAddon,
  makeStandInLayout,
  startRecord,
  startRecords,
  childrenOf,
  processState,
  hasEnded,
  waitFor,
};
