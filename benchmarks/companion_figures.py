#!/usr/bin/env python3
"""The release companion's figures, printed for `make bench` (never asserted):
the size of each release binary, and for the Linux release companion run
against the demo game and the reference service: the time from its start to
the first presence, then over a measured stretch (60 s by default, or
FIGURES_SECONDS) while connected with the game idle, and again while no
service is there: resident memory, CPU time per minute and wake-ups per
second (voluntary context switches of all its threads). Goals: at most 8 MiB
resident and 2.5 wake-ups per second when idle."""

import os
import pathlib
import subprocess
import sys
import tempfile
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
RELEASE = ROOT / "build" / "linux-release"
COMPANION_DIR = RELEASE / "dist" / "8a57342e5e"
DEMO_APP_ID = "300000000000000001"
SECONDS = float(os.environ.get("FIGURES_SECONDS", "60"))

BINARIES = [
    ("Linux companion", COMPANION_DIR / "CorvaneTallowin_x64"),
    ("Windows x64 companion", ROOT / "build/mingw-x64/dist/8a57342e5e/CorvaneTallowin_x64.exe"),
    ("Windows x86 companion", ROOT / "build/mingw-x86/dist/8a57342e5e/CorvaneTallowin_x86.exe"),
    ("Linux addon", ROOT / "addon/build/Release/corvane_ostravine.node"),
]


class Lines:
    """The lines a child prints, read on a thread as they come."""

    def __init__(self, process):
        self.lines = []
        self.changed = threading.Condition()
        threading.Thread(target=self._read, args=(process.stdout,), daemon=True).start()

    def _read(self, stream):
        for line in stream:
            with self.changed:
                self.lines.append(line.rstrip("\n"))
                self.changed.notify_all()

    def wait_for(self, wanted, timeout=30):
        deadline = time.monotonic() + timeout
        with self.changed:
            while not any(wanted(line) for line in self.lines):
                left = deadline - time.monotonic()
                if left <= 0:
                    sys.exit("companion figures: timed out; the service printed:\n" + "\n".join(self.lines))
                self.changed.wait(left)


def sample(pid):
    """CPU seconds (to the nanosecond, from the scheduler), voluntary and
    involuntary switches summed over threads, resident KiB and the thread
    count of a running process."""
    cpu = 0.0
    voluntary = involuntary = 0
    tasks = list(pathlib.Path(f"/proc/{pid}/task").iterdir())
    for task in tasks:
        cpu += int((task / "schedstat").read_text().split()[0]) / 1e9
        for line in (task / "status").read_text().splitlines():
            if line.startswith("voluntary_ctxt_switches:"):
                voluntary += int(line.split()[1])
            elif line.startswith("nonvoluntary_ctxt_switches:"):
                involuntary += int(line.split()[1])
    resident = next(int(line.split()[1]) for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines()
                    if line.startswith("VmRSS:"))
    return cpu, voluntary, involuntary, resident, len(tasks)


def measure(what, pid):
    cpu0, voluntary0, involuntary0, _, _ = sample(pid)
    time.sleep(SECONDS)
    cpu1, voluntary1, involuntary1, resident, threads = sample(pid)
    print(f"  {what}, over {SECONDS:.0f} s:")
    print(f"    resident memory          {resident / 1024:6.2f} MiB   (goal: at most 8 MiB)")
    print(f"    threads                  {threads:6d}")
    print(f"    CPU time per minute      {(cpu1 - cpu0) * 60 / SECONDS * 1000:6.1f} ms")
    print(f"    wake-ups per second      {(voluntary1 - voluntary0) / SECONDS:6.2f}       (goal when idle: at most 2.5)")
    print(f"    preemptions per second   {(involuntary1 - involuntary0) / SECONDS:6.2f}")


def main():
    print("Release binaries:")
    for name, path in BINARIES:
        size = f"{path.stat().st_size / 1024:8.0f} KiB" if path.exists() else "   not built"
        print(f"  {name:24s} {size}   {path.relative_to(ROOT)}")

    with tempfile.TemporaryDirectory(prefix="corvane-figures-") as runtime_dir:
        environment = dict(os.environ, XDG_RUNTIME_DIR=runtime_dir)
        service = subprocess.Popen([RELEASE / "tools/rpc_service/rpc_service"], stdout=subprocess.PIPE,
                                   text=True, env=environment)
        game = subprocess.Popen([RELEASE / "tools/demo_game/demo_game", "--seconds", "3600", "--step-ms", "0"],
                                stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, env=environment)
        companion = None
        try:
            service_lines = Lines(service)
            service_lines.wait_for(lambda line: line.startswith("listening "))
            started = time.monotonic()
            companion = subprocess.Popen(["./CorvaneTallowin_x64", str(game.pid), DEMO_APP_ID],
                                         cwd=COMPANION_DIR, env=environment,
                                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
            service_lines.wait_for(lambda line: line.startswith("frame 1 ") and "SET_ACTIVITY" in line)
            first = time.monotonic() - started

            print("Linux release companion with the demo game:")
            print(f"  start to first presence    {first * 1000:6.0f} ms")
            measure("connected, the game idle", companion.pid)
            service.kill()
            service.wait()
            measure("no service to connect to", companion.pid)
        finally:
            for process in (companion, game, service):
                if process is not None and process.poll() is None:
                    process.kill()
                    process.wait()


if __name__ == "__main__":
    main()
