"""The shipped launcher on random machines.

Each machine comes from a seed, through the structure-aware generator the
fuzzers use (build/native/usbsim-generate): controllers with and without
numbers and interfaces, hubs in hubs, every injected failure, listed and
unlisted ids and device classes among many devices. The test USB driver
serves it, the shipped QuillmarkLauncher.exe runs on it, and what it did
(the tool it wrote and started, or the box it showed) must be what the
launcher core decides for the same description on the simulated stack
natively (usbscan --sim --json: toolCode). A disagreement prints its seed
and keeps the description in build/random-machines/.

  bash scripts/wine-run.sh xvfb-run -a python3 tests/e2e/random_machines.py [--seconds S | --machines N] [--seed FIRST]

The end-to-end tests run it for about a minute (test_random_machines.py).
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import launcher  # noqa: E402
import wine  # noqa: E402
from launcher import TOOLS  # noqa: E402

GENERATE = os.path.join(wine.ROOT, 'build', 'native', 'usbsim-generate')
KEPT = os.path.join(wine.ROOT, 'build', 'random-machines')


def decided_natively(path):
    """The tool code the launcher core picks for a description, or None."""
    report = subprocess.run([launcher.USBSCAN, '--sim', path, '--json'], capture_output=True, check=True).stdout
    return json.loads(report)['toolCode']


def what_the_launcher_did(folder, work):
    """('tool', written name) for the one tool it started and removed, or
    ('box', text), or ('odd', what the log showed)."""
    before = sorted(os.listdir(folder.path))
    if os.path.exists(folder.file('demo-tools.log')):
        os.unlink(folder.file('demo-tools.log'))
    result, message = folder.run_expecting_message(work)
    started = [line.split(':')[0] for line in folder.log() if line.endswith(': started, arguments ""')]
    left = sorted(set(os.listdir(folder.path)) - set(before) - {'demo-tools.log'})
    if message is not None and not started and not left:
        return ('box', message.decode('latin-1'))
    if message is None and len(started) == 1 and not left and result.returncode == 0:
        return ('tool', started[0])
    return ('odd', f'exit {result.returncode}, box {message!r}, started {started}, left {left}')


def expected_outcome(code):
    return ('box', 'Quillmark Device Not Found') if code is None else ('tool', TOOLS[code].written)


def run(session, first_seed=1, machines=None, seconds=None, report=print):
    """Runs machines from `first_seed` on, until `machines` ran or
    `seconds` passed. Returns (machines run, disagreements as (seed, what))."""
    disagreements, count = [], 0
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix='qm-random-') as work:
        folder = launcher.LauncherDirectory(session, os.path.join(work, 'launcher'))
        folder.pack_container(work)
        # Watched windows show just over one watch tick.
        folder.behave({code: {'show_ms': '1100'} for code, tool in TOOLS.items() if tool.watched})
        description = os.path.join(work, 'machine.json')
        seed = first_seed
        while (machines is None or count < machines) and (seconds is None or time.monotonic() - started < seconds):
            text = subprocess.run([GENERATE, str(seed)], capture_output=True, text=True, check=True).stdout
            with open(description, 'w') as f:
                f.write(text)
            expected = expected_outcome(decided_natively(description))
            try:
                folder.describe_machine(json.loads(text))
                got = what_the_launcher_did(folder, work)
            except (RuntimeError, subprocess.TimeoutExpired) as error:
                got = ('failed', str(error))
            if got != expected:
                os.makedirs(KEPT, exist_ok=True)
                kept = os.path.join(KEPT, f'seed-{seed}.json')
                with open(kept, 'w') as f:
                    f.write(text)
                disagreements.append((seed, f'expected {expected}, got {got}; kept {kept}'))
                report(f'random machines: seed {seed}: expected {expected}, got {got}; description kept in {kept}')
            count += 1
            seed += 1
    elapsed = time.monotonic() - started
    report(f'random machines: {count} machines (seeds {first_seed} to {first_seed + count - 1}) in {elapsed:.0f} s, '
           f'{count * 60 / max(elapsed, 1e-9):.1f} a minute, {len(disagreements)} disagreements')
    return count, disagreements


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--seed', type=int, default=1, help='the first seed (default 1)')
    parser.add_argument('--machines', type=int, help='how many machines')
    parser.add_argument('--seconds', type=float, help='for how long (default 60 unless --machines)')
    args = parser.parse_args()
    seconds = args.seconds if args.seconds is not None or args.machines is not None else 60
    session = wine.SESSION = wine.WineSession()
    print(f'random machines: Windows programs run as {session.description}')
    session.boot()
    try:
        _, disagreements = run(session, args.seed, args.machines, seconds)
    finally:
        session.close()
    return 1 if disagreements else 0


if __name__ == '__main__':
    sys.exit(main())
