"""Benchmarks under Wine: the time from the shipped launcher's start to the
tool's start (the launcher waits 500 ms before every launch), the cost of
one switch of the test USB driver's machine, and the cost of one watch tick
with 500 top-level windows.

Run inside an X server, where Windows programs run here:
  bash scripts/wine-run.sh xvfb-run -a python3 bench/wine_bench.py

With --cold N it measures instead N first switches, each on a fresh prefix
made as the tests make theirs and with no Wine session running (--busy: beside
a running end-to-end suite):
  bash scripts/wine-run.sh xvfb-run -a python3 bench/wine_bench.py --cold 10 [--busy]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'e2e'))
import launcher  # noqa: E402
import wine  # noqa: E402

RUNS = 5


def wait_for_log(folder, line, process, limit=30):
    """Seconds until `line` appears in the demo tool's log."""
    started = time.monotonic()
    while time.monotonic() - started < limit:
        if line in folder.log():
            return time.monotonic() - started
        time.sleep(0.002)
    raise RuntimeError(f'{line!r} never appeared')


def cold_starts(count, busy):
    """N first switches, each on a fresh prefix with no Wine session."""
    session = wine.WineSession()  # for its settings only
    os.rmdir(session.prefix)
    load = None
    if busy:
        load = subprocess.Popen([sys.executable, os.path.join(wine.ROOT, 'tests', 'e2e', 'run.py'), 'test_launcher'],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(10)  # its session is up and running tests
    times, failures = [], []
    try:
        for _ in range(count):
            prefix = tempfile.mkdtemp(prefix='qm-cold-')
            env = dict(session.env, WINEPREFIX=prefix)
            try:
                subprocess.run([session.loader, 'wineboot', '-i'], env=env, timeout=300, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
                subprocess.run(['wineserver', '-w'], env=env, timeout=300)
                start = time.monotonic()
                switched = subprocess.run(['bash', os.path.join(wine.ROOT, 'scripts', 'wine-usb.sh'),
                                           os.path.join(wine.ROOT, 'tests', 'data', 'usb', 'realistic.json')],
                                          env=env, capture_output=True, text=True, timeout=900)
                times.append(time.monotonic() - start)
                if switched.returncode != 0:
                    failures.append(switched.stderr.strip())
            finally:
                subprocess.run(['wineserver', '-k'], env=env, timeout=60)
                subprocess.run(['wineserver', '-w'], env=env, timeout=60)
                shutil.rmtree(prefix, ignore_errors=True)
    finally:
        if load is not None:
            load.terminate()
            load.wait(timeout=120)
    print(f'first switch on a fresh prefix, no Wine session running{", beside a running end-to-end suite" if busy else ""}: '
          f'{count - len(failures)} of {count} exit 0; median {statistics.median(times):.1f} s, '
          f'from {min(times):.1f} to {max(times):.1f} s')
    for failure in failures:
        print(f'  failed: {failure}')
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--cold', type=int, metavar='N', help='measure N cold first switches instead')
    parser.add_argument('--busy', action='store_true', help='with --cold: beside a running end-to-end suite')
    args = parser.parse_args()
    if args.cold:
        return cold_starts(args.cold, args.busy)
    session = wine.SESSION = wine.WineSession()
    print(f'Windows programs run as {session.description}')
    session.boot()
    try:
        to_tool, bare, switches = [], [], []
        with tempfile.TemporaryDirectory() as work:
            for run in range(RUNS):
                folder = launcher.LauncherDirectory(session, os.path.join(work, f'run{run}'))
                start = time.monotonic()
                folder.describe_machine(launcher.drive(4000 if run % 2 == 0 else 1000))
                switches.append(time.monotonic() - start)
                folder.describe_machine(launcher.drive(4000))
                folder.pack_container(work)
                folder.behave({4000: {'show_ms': '1500'}})
                process = folder.start()
                to_tool.append(wait_for_log(folder, 'Elm_5.exe: started, arguments ""', process))
                process.wait(timeout=60)
                # The same tool started straight from Wine, for the cost of a process start.
                bare_dir = os.path.join(work, f'bare{run}')
                os.makedirs(bare_dir)
                tool = os.path.join(bare_dir, 'Bare.exe')
                with open(session.exe('demo-tool.exe'), 'rb') as f, open(tool, 'wb') as g:
                    g.write(f.read())
                start = time.monotonic()
                process = session.start(tool, cwd=bare_dir)
                bare_folder = launcher.LauncherDirectory.__new__(launcher.LauncherDirectory)
                bare_folder.path = bare_dir
                bare.append(time.monotonic() - start + wait_for_log(bare_folder, 'Bare.exe: started, arguments ""',
                                                                     process))
                process.wait(timeout=60)
        median_tool, median_bare = statistics.median(to_tool), statistics.median(bare)
        print(f'launcher start to tool start: median {median_tool * 1e3:.0f} ms over {RUNS} runs '
              f'(launch delay 500 ms; one Wine process start alone: {median_bare * 1e3:.0f} ms; '
              f'left for scan, container and write: {(median_tool - 0.5 - 2 * median_bare) * 1e3:.0f} ms)')
        print(f'one switch of the test USB machine (scripts/wine-usb.sh, the driver installed): '
              f'median {statistics.median(switches[1:]) * 1e3:.0f} ms over {RUNS - 1} runs; '
              f'the first, which installs the driver: {switches[0] * 1e3:.0f} ms')
        with tempfile.TemporaryDirectory() as work:
            figures = os.path.join(work, 'watch.txt')
            result = session.run(session.exe('watch-bench.exe'), [wine.windows_path(figures)], timeout=120)
            if result.returncode != 0 or not os.path.exists(figures):
                print('watch-bench failed')
                return 1
            with open(figures) as f:
                print(f.read().strip())
    finally:
        session.close()
    return 0


if __name__ == '__main__':
    sys.exit(main())
