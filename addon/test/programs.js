'use strict';
// The real programs the build puts beside the companion directory, run for
// the addon's tests: the reference RPC service, each on a socket directory of
// its own, and the demo game, whose presence script the build ships.

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const { distDir } = require('./layout');

const DEMO_APP_ID = '300000000000000001';
const toolsDir = path.join(path.dirname(distDir), 'tools');
// The first presence comes right after READY, about a second after the
// companion starts; the limit only bounds a run that has gone wrong.
const WAIT_MS = 15000;

// The lines a child prints, kept from its start, so that a test can wait for
// a line that may already have come.
class OutputLines {
  constructor(child, name) {
    this.name = name;
    this.lines = [];
    this.waiters = new Set();
    readline.createInterface({ input: child.stdout }).on('line', (line) => {
      this.lines.push(line);
      for (const waiter of this.waiters) waiter(line);
    });
  }

  // The first line that `wanted` accepts; rejects when none comes in time.
  next(wanted, what) {
    const seen = this.lines.find(wanted);
    if (seen !== undefined) return Promise.resolve(seen);
    return new Promise((resolve, reject) => {
      const waiter = (line) => {
        if (!wanted(line)) return;
        this.waiters.delete(waiter);
        clearTimeout(timer);
        resolve(line);
      };
      const timer = setTimeout(() => {
        this.waiters.delete(waiter);
        reject(new Error(`timed out waiting for ${what}; ${this.name} printed:\n${this.lines.join('\n')}`));
      }, WAIT_MS);
      this.waiters.add(waiter);
    });
  }
}

// A temporary runtime directory, where a service on it makes its socket.
function makeRuntimeDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'corvane-addon-test-'));
}

// The reference service listening in `runtimeDir`. `presenceOf(pid)` gives the
// first SET_ACTIVITY request that names the process `pid`, parsed.
async function startService(runtimeDir) {
  const child = spawn(path.join(toolsDir, 'rpc_service', 'rpc_service'), [], {
    env: { ...process.env, XDG_RUNTIME_DIR: runtimeDir },
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  const output = new OutputLines(child, 'the service');
  await output.next((line) => line.startsWith('listening '), 'the service to listen');
  const requestOf = (line) => (line.startsWith('frame 1 ') ? JSON.parse(line.slice('frame 1 '.length)) : null);
  return {
    async presenceOf(pid) {
      const names = (line) => requestOf(line)?.cmd === 'SET_ACTIVITY' && requestOf(line).args?.pid === pid;
      return requestOf(await output.next(names, `a presence of process ${pid}`));
    },
    stop() {
      child.kill('SIGKILL');
    },
  };
}

// The demo game, started and printing its first state; it ends when told to
// (`end`), and by itself after a minute at most.
async function startDemoGame() {
  const child = spawn(path.join(toolsDir, 'demo_game', 'demo_game'), ['--seconds', '60', '--step-ms', '0'], {
    stdio: ['pipe', 'pipe', 'inherit'],
  });
  const exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  await new OutputLines(child, 'the game').next(() => true, 'the game to start');
  return {
    pid: child.pid,
    exited,
    end() {
      child.stdin.write('exit\n');
      return exited;
    },
    kill() {
      child.kill('SIGKILL');
    },
  };
}

module.exports = { DEMO_APP_ID, makeRuntimeDir, startService, startDemoGame };
