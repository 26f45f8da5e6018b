"""The launcher's main job under Wine, told step by step: a simulated flash
drive on a USB port, served by the test USB driver through Wine's own I/O
paths, a container of demo tools beside the launcher as the zip ships it,
and the launcher recognising the drive, extracting the matching tool,
starting it, watching its window and cleaning up."""
import json
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import launcher  # noqa: E402
import wine  # noqa: E402

CODE = 4000
USBSCAN = os.path.join(wine.ROOT, 'build', 'native', 'usbscan')


def say(text=''):
    print(text, flush=True)


def main():
    session = wine.SESSION = wine.WineSession()
    say(f'Preparing a Wine prefix for {session.description} ...')
    session.boot()
    try:
        with tempfile.TemporaryDirectory(prefix='quillmark-demo-') as work:
            folder = launcher.LauncherDirectory(session, os.path.join(work, 'Quillmark'))
            description = os.path.join(work, 'machine.json')
            with open(description, 'w') as f:
                json.dump(launcher.drive(CODE), f)
            folder.describe_machine(launcher.drive(CODE))
            folder.pack_container(work)
            folder.behave()
            written = launcher.TOOLS[CODE].written

            say('\n1. The machine: one USB controller, a flash drive on port 2, served by the test USB driver')
            say('   (scripts/wine-usb.sh; usbscan --sim shows the description):')
            scan = subprocess.run([USBSCAN, '--sim', description], capture_output=True, text=True)
            say('   ' + scan.stdout.strip().replace('\n', '\n   '))
            say('\n2. The container beside the launcher (qmtool list QM_File.ini):')
            listing = subprocess.run([launcher.QMTOOL, 'list', folder.file('QM_File.ini')], capture_output=True,
                                     text=True)
            say('   ' + listing.stdout.strip().replace('\n', '\n   '))

            say('\n3. Running QuillmarkLauncher.exe, as the zip ships it, under Wine:')
            started = time.monotonic()
            process = folder.start()
            seen_lines, file_seen, file_gone = 0, False, False
            while True:
                elapsed = time.monotonic() - started
                exists = os.path.exists(folder.file(written))
                if exists and not file_seen:
                    file_seen = True
                    say(f'   {elapsed:5.1f} s  the launcher wrote {written} beside itself')
                log = folder.log()
                for line in log[seen_lines:]:
                    say(f'   {elapsed:5.1f} s  tool log: {line}')
                seen_lines = len(log)
                if file_seen and not exists and not file_gone:
                    file_gone = True
                    say(f'   {elapsed:5.1f} s  the launcher deleted {written}')
                if process.poll() is not None:
                    say(f'   {elapsed:5.1f} s  the launcher ended with exit code {process.returncode}')
                    break
                if elapsed > 60:
                    process.kill()
                    say('   the launcher did not end within 60 s')
                    return 1
                time.sleep(0.05)
            left = sorted(os.listdir(folder.path))
            say(f'\n4. Left in the launcher directory: {", ".join(left)}')
            ok = process.returncode == 0 and file_seen and not os.path.exists(folder.file(written))
            say('\nDemo ' + ('complete: drive recognised, tool extracted, started, watched and removed.'
                             if ok else 'FAILED.'))
            say(f'Windows programs ran as {session.description}.')
            if session.mode == 'win64' and os.environ.get('CI') == 'true':
                say('Under CI the shipped 32-bit build must run: failing.')
                return 1
            return 0 if ok else 1
    finally:
        session.close()


if __name__ == '__main__':
    sys.exit(main())
