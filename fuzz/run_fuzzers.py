#!/usr/bin/env python3
"""Runs each fuzz target of the fuzz preset for a given time, one after the
other, and prints per target the executions, the coverage reached and the
crashes found.

    fuzz/run_fuzzers.py [--build DIR] [--seconds N] [TARGET...]

Each target starts from its seeds and regression inputs (fuzz/<folder>/<name>/)
and its dictionary, and keeps what it finds in DIR/corpus/<name>, so that a
later run goes on from there. A crash, leak, time-out or out-of-memory input
is written to DIR/artifacts/<name>/; keep it as a regression input
(fuzz/<folder>/<name>/regressions/) once its fault is mended. The exit code
is 1 when any target found one.
"""

import argparse
import glob
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
# Every target, with the folder it sits in (the part of the product it drives).
TARGETS = {
    'incoming_message_fuzzer': 'rpc',
    'frame_stream_fuzzer': 'rpc',
    'find_pattern_fuzzer': 'script',
    'memory_scan_fuzzer': 'target',
    'script_sandbox_fuzzer': 'script',
}
ARTIFACT_KINDS = ('crash-', 'leak-', 'timeout-', 'oom-')


def run_target(build, name, seconds):
    inputs = os.path.join(HERE, TARGETS[name], name)
    corpus = os.path.join(build, 'corpus', name)
    artifacts = os.path.join(build, 'artifacts', name)
    os.makedirs(corpus, exist_ok=True)
    os.makedirs(artifacts, exist_ok=True)
    before = set(os.listdir(artifacts))
    command = [os.path.join(build, 'fuzz', name), f'-max_total_time={seconds}', '-print_final_stats=1',
               '-timeout=10', '-rss_limit_mb=2048', f'-artifact_prefix={artifacts}/']
    dictionary = os.path.join(HERE, TARGETS[name], name + '.dict')
    if os.path.exists(dictionary):
        command.append(f'-dict={dictionary}')
    command += [corpus] + [d for d in (os.path.join(inputs, 'seeds'), os.path.join(inputs, 'regressions'))
                           if os.path.isdir(d)]
    log_path = os.path.join(build, 'artifacts', name + '.log')
    environment = dict(os.environ)
    # Reports name functions and lines when LLVM's symbolizer is at hand.
    symbolizer = '/usr/lib/llvm-14/bin/llvm-symbolizer'
    if os.path.exists(symbolizer):
        environment.setdefault('ASAN_SYMBOLIZER_PATH', symbolizer)
    with open(log_path, 'w') as log:
        status = subprocess.run(command, stdout=log, stderr=subprocess.STDOUT, env=environment).returncode
    text = open(log_path, errors='replace').read()

    def stat(key):
        found = re.findall(rf'stat::{key}:\s+(\d+)', text)
        return int(found[-1]) if found else 0

    coverage = re.findall(r'cov: (\d+) ft: (\d+)', text)
    corpus_size = re.findall(r'corp: (\d+)/', text)
    found = sorted(f for f in set(os.listdir(artifacts)) - before if f.startswith(ARTIFACT_KINDS))
    return {
        'name': name,
        'executions': stat('number_of_executed_units'),
        'per_second': stat('average_exec_per_sec'),
        'edges': int(coverage[-1][0]) if coverage else 0,
        'features': int(coverage[-1][1]) if coverage else 0,
        'corpus': int(corpus_size[-1]) if corpus_size else 0,
        'found': [os.path.join(artifacts, f) for f in found],
        'failed': status != 0 and not found,
        'log': log_path,
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--build', default=os.path.join(HERE, '..', 'build', 'fuzz'))
    parser.add_argument('--seconds', type=int, default=60)
    parser.add_argument('targets', nargs='*', default=list(TARGETS))
    args = parser.parse_args()
    unknown = [t for t in args.targets if t not in TARGETS]
    if unknown:
        sys.exit(f'run_fuzzers: unknown target {", ".join(unknown)}; known: {", ".join(TARGETS)}')

    results = []
    for name in args.targets:
        print(f'fuzz: {name} for {args.seconds} s ...', flush=True)
        results.append(run_target(os.path.abspath(args.build), name, args.seconds))

    print(f'\n{"target":<26}{"executions":>12}{"exec/s":>9}{"edges":>8}{"features":>10}{"corpus":>8}{"crashes":>9}')
    for r in results:
        print(f'{r["name"]:<26}{r["executions"]:>12}{r["per_second"]:>9}{r["edges"]:>8}{r["features"]:>10}'
              f'{r["corpus"]:>8}{len(r["found"]):>9}')
    bad = False
    for r in results:
        for path in r['found']:
            print(f'{r["name"]}: found {path} (log: {r["log"]})')
            bad = True
        if r['failed']:
            print(f'{r["name"]}: did not run to its end (log: {r["log"]})')
            bad = True
    sys.exit(1 if bad else 0)


if __name__ == '__main__':
    main()
