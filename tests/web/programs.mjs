// The real programs a browser test runs: started with pipes, read line by
// line, and stopped when the test ends.
import { spawn } from 'node:child_process';

export class Program {
  constructor(file, args, options = {}) {
    this.file = file;
    this.lines = [];
    this.stderr = '';
    this.waiters = [];
    this.exitCode = undefined;
    this.child = spawn(file, args, { ...options, stdio: ['pipe', 'pipe', 'pipe'] });
    this.pid = this.child.pid;
    let pending = '';
    this.child.stdout.setEncoding('utf8');
    this.child.stdout.on('data', (chunk) => {
      pending += chunk;
      let end;
      while ((end = pending.indexOf('\n')) >= 0) {
        this.lines.push(pending.slice(0, end));
        pending = pending.slice(end + 1);
      }
      this.wake();
    });
    this.child.stderr.setEncoding('utf8');
    this.child.stderr.on('data', (chunk) => { this.stderr += chunk; });
    this.child.stdin.on('error', () => {});  // a program that ended takes no more input
    this.child.on('error', (error) => { this.stderr += String(error); this.exitCode = -1; this.wake(); });
    this.child.on('exit', (code, signal) => { this.exitCode = signal ? signal : code; this.wake(); });
  }

  wake() {
    for (const waiter of this.waiters.splice(0)) waiter();
  }

  // Resolves when `check()` gives a value other than undefined, or rejects
  // after `timeoutMs`.
  waitFor(check, timeoutMs, what) {
    return new Promise((resolve, reject) => {
      const attempt = () => {
        const value = check();
        if (value !== undefined) {
          clearTimeout(timer);
          resolve(value);
        } else {
          this.waiters.push(attempt);
        }
      };
      const timer = setTimeout(() => {
        reject(new Error(`${this.file}: no ${what} within ${timeoutMs} ms; output:\n${this.lines.join('\n')}\n${this.stderr}`));
      }, timeoutMs);
      attempt();
    });
  }

  // The next line that `matches` accepts; the lines before it are consumed.
  nextLine(matches, timeoutMs) {
    return this.waitFor(() => {
      while (this.lines.length > 0) {
        const line = this.lines.shift();
        if (matches(line)) return line;
      }
      return this.exitCode !== undefined ? null : undefined;
    }, timeoutMs, 'matching line').then((line) => {
      if (line === null) throw new Error(`${this.file} ended (${this.exitCode}): ${this.stderr}`);
      return line;
    });
  }

  // The exit code (or signal name) once the program has ended.
  exited(timeoutMs) {
    return this.waitFor(() => this.exitCode, timeoutMs, 'exit');
  }

  write(text) {
    this.child.stdin.write(text);
  }

  closeInput() {
    this.child.stdin.end();
  }

  errors() {
    return this.stderr;
  }

  async stop() {
    if (this.exitCode !== undefined) return;
    this.child.kill('SIGTERM');
    await this.exited(5000).catch(() => this.child.kill('SIGKILL'));
  }
}

// Resolves once `condition()` (async) is true; checked every 100 ms.
export async function waitUntil(condition, timeoutMs, what) {
  const deadline = Date.now() + timeoutMs;
  while (!(await condition())) {
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
}
