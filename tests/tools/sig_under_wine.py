#!/usr/bin/env python3
"""The Linux probe on Windows programs under Wine, as an author of a Windows
game's script uses it: `processes` finds the game by its Windows name with
the Linux process id, and `sig` on the address of a global that the game's
code refers to proposes patterns that `find` reports unique and snippets
that, run by `run`, yield exactly that address.

    sig_under_wine.py LINUX_PROBE WINDOWS_BUILD...

Each WINDOWS_BUILD is a build tree with its `wine-run` and its
tests/counter_child.exe (x64 or x86), run as a copy of a name of its own. Exits 1 on the first check that fails.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

PROBE_TIMEOUT_S = 120


def probe(probe_path, *arguments):
    done = subprocess.run([probe_path, *arguments], capture_output=True, text=True, errors="replace",
                          timeout=PROBE_TIMEOUT_S)
    return done.returncode, done.stdout + done.stderr


def fail(build, message):
    print(f"sig under Wine ({build}): {message}")
    sys.exit(1)


def check_build(probe_path, build):
    # The program is found by a name of this run's own (a copy beside the
    # original), so no other counter_child.exe running meanwhile is taken
    # for it, whichever process Wine runs it in.
    name = f"counter_child-{os.getpid()}.exe"
    program = os.path.join(build, "tests", name)
    shutil.copyfile(os.path.join(build, "tests", "counter_child.exe"), program)
    counter = subprocess.Popen([os.path.join(build, "wine-run"), program],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        first = counter.stdout.readline().split()  # "counter ADDRESS VALUE"
        if len(first) != 3 or first[0] != "counter" or counter.stdout.readline().strip() != "ready":
            fail(build, f"counter_child.exe did not start: {first}")
        address = int(first[1], 16)

        code, listed = probe(probe_path, "processes", name)
        lines = [l.split() for l in listed.splitlines() if l.split()[2:3] == [name]]
        if code != 0 or len(lines) != 1:
            fail(build, f"processes does not list {name} once:\n{listed}")
        pid, bits = lines[0][0], lines[0][1]
        expected_bitness = {"64-bit": "x64", "32-bit": "x86"}.get(bits)
        if expected_bitness is None:
            fail(build, f"no bitness for {pid}:\n{listed}")

        code, output = probe(probe_path, "sig", pid, hex(address), "--json")
        if code != 0:
            fail(build, f"sig exited with {code}:\n{output}")
        report = json.loads(output)
        if report["bitness"] != expected_bitness or not report["module"].startswith(name + "+0x"):
            fail(build, f"sig's report names {report['bitness']} {report['module']}:\n{output}")
        # The counter is read, written and printed: at least three instructions.
        if len(report["instructions"]) < 3:
            fail(build, f"sig found {len(report['instructions'])} instructions:\n{output}")
        script = "local found = {}\n"
        for instruction in report["instructions"]:
            if not instruction["unique"]:
                fail(build, f"no unique pattern for {instruction['instruction']}")
            code, found = probe(probe_path, "find", pid, instruction["pattern"], "--all")
            if "1 match: the pattern is unique" not in found or instruction["address"] not in found:
                fail(build, f"find does not report {instruction['pattern']} unique at {instruction['address']}:\n{found}")
            script += "do\n" + instruction["snippet"] + "found[#found + 1] = address\nend\n"
        script += "do\n" + report["fallback"] + "found[#found + 1] = address\nend\n"
        script += ("for _, address in ipairs(found) do print(string.format('address 0x%x', address)) end\n"
                   "function get_presence() return {} end\n")
        with tempfile.NamedTemporaryFile("w", suffix=".lua", delete=False) as file:
            file.write(script)
        try:
            code, ran = probe(probe_path, "run", pid, file.name)
        finally:
            os.unlink(file.name)
        addresses = [l for l in ran.splitlines() if l.startswith("address ")]
        if code != 0 or addresses != [f"address {hex(address)}"] * (len(report["instructions"]) + 1):
            fail(build, f"the snippets do not all yield {hex(address)}:\n{script}\n{ran}")
        print(f"sig under Wine ({build}): {bits} {name}, {len(report['instructions'])} instructions, "
              f"each pattern unique and each snippet yields {hex(address)}")
    finally:
        counter.stdin.close()
        try:
            counter.wait(timeout=30)
        except subprocess.TimeoutExpired:
            counter.kill()
        os.unlink(program)


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    for build in sys.argv[2:]:
        check_build(sys.argv[1], build)
    return 0


if __name__ == "__main__":
    sys.exit(main())
