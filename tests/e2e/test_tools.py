"""The Windows qmtool and usbscan, as the distribution ships them, answer
under Wine exactly as the native builds do; usbscan.exe, through the test
USB driver, finds every described machine as the simulated stack does, and
a client written the way Microsoft documents the requests reads each one as
described, and the replies captured on real Windows machines alike."""
import glob
import json
import os
import subprocess
import sys
import tempfile
import unittest

import launcher
import usb_client_check
import wine

sys.path.insert(0, os.path.join(wine.ROOT, 'tests', 'tools'))
import windows_replies  # noqa: E402

NATIVE = os.path.join(wine.ROOT, 'build', 'native')
REALISTIC = os.path.join(wine.ROOT, 'tests', 'data', 'usb', 'realistic.json')
DESCRIPTIONS = sorted(glob.glob(os.path.join(wine.ROOT, 'tests', 'data', 'usb', '*.json')))


class WindowsTools(unittest.TestCase):
    def windows(self, exe, *args, helper=False):
        """Runs a Windows console program as shipped (or a test helper of the
        build); its output goes through files, as a process Wine starts on
        the side may hold a pipe open."""
        session = wine.SESSION
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            program = session.exe(exe) if helper else session.shipped(exe)
            process = subprocess.Popen([session.loader, program, *args], env=session.env, stdout=out, stderr=err)
            process.wait(timeout=60)
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(process.args, process.returncode, out.read(), err.read())

    def test_usbscan_reads_the_same_machine(self):
        native = subprocess.run([os.path.join(NATIVE, 'usbscan'), '--sim', REALISTIC, '--json', '--trace'],
                                capture_output=True, check=True).stdout
        windows = self.windows('usbscan.exe', '--sim', wine.windows_path(REALISTIC), '--json', '--trace')
        self.assertEqual(windows.returncode, 0, windows.stderr)
        self.assertEqual(windows.stdout.replace(b'\r\n', b'\n'), native)

    def test_the_driver_serves_every_description_as_the_simulated_stack_answers_it(self):
        for path in DESCRIPTIONS:
            with self.subTest(os.path.basename(path)):
                with open(path) as f:
                    description = json.load(f)
                wine.SESSION.use_machine(description)
                real = self.windows('usbscan.exe', '--json')
                self.assertEqual(real.returncode, 0, real.stderr)
                simulated = subprocess.run([os.path.join(NATIVE, 'usbscan'), '--sim', path, '--json'],
                                           capture_output=True, check=True).stdout
                self.assertEqual(launcher.scan_without_interface_paths(json.loads(real.stdout)),
                                 launcher.scan_without_interface_paths(json.loads(simulated)))
                if os.path.basename(path) in ('lenovo-g560-notebook.json', 'port-states.json'):
                    # A technician's listing of a real notebook, and of every state a port can
                    # be in: each port and each device's details the same.
                    listing = self.windows('usbscan.exe').stdout.decode().replace('\r\n', '\n')
                    native = subprocess.run([os.path.join(NATIVE, 'usbscan'), '--sim', path], capture_output=True,
                                            text=True, check=True).stdout
                    self.assertRegex(listing, 'interface 1: video \\(streaming\\)|0-4  a device that does not answer')
                    self.assertEqual(listing[listing.index('\\\\.\\HCD0  root hub'):],
                                     native[native.index('\\\\.\\HCD0  root hub'):])
                # The same machine through Microsoft's documented requests.
                client = self.windows('usb-client.exe', helper=True)
                self.assertEqual(client.returncode, 0, client.stderr)
                self.assertEqual(usb_client_check.differences(description, json.loads(client.stdout),
                                                              json.loads(simulated)), [])

    def test_the_driver_answers_as_the_captured_windows_machines_did(self):
        with open(windows_replies.MACHINES) as f:
            wine.SESSION.use_machine(json.load(f))
        client = self.windows('usb-client.exe', helper=True)
        self.assertEqual(client.returncode, 0, client.stderr)
        equal, _unexpressed, differences = windows_replies.compare(
            windows_replies.client_replies(json.loads(client.stdout)))
        self.assertEqual(differences, [])
        self.assertGreaterEqual(equal, 297)

    def test_a_first_switch_makes_the_prefix_and_starts_the_driver(self):
        # A prefix folder not made yet, and no Wine session for it: the call
        # makes the prefix, installs the driver and waits for its answer.
        session = wine.SESSION
        with tempfile.TemporaryDirectory() as work:
            env = dict(session.env, WINEPREFIX=os.path.join(work, 'prefix'))
            try:
                switched = subprocess.run(['bash', os.path.join(wine.ROOT, 'scripts', 'wine-usb.sh'), REALISTIC],
                                          env=env, capture_output=True, text=True, timeout=600)
                self.assertEqual(switched.returncode, 0, switched.stderr)
                with tempfile.TemporaryFile() as out:
                    subprocess.run([session.loader, session.shipped('usbscan.exe'), '--json'], env=env, stdout=out,
                                   stderr=subprocess.DEVNULL, timeout=60)
                    out.seek(0)
                    self.assertEqual(json.loads(out.read())['toolCode'], 4000)
            finally:
                subprocess.run(['wineserver', '-k'], env=env, timeout=60)
                subprocess.run(['wineserver', '-w'], env=env, timeout=60)

    def test_qmtool_packs_and_lists_the_same_container(self):
        with tempfile.TemporaryDirectory() as work:
            source = os.path.join(work, 'tool.bin')
            with open(source, 'wb') as f:
                f.write(b'MZ\x90\x00QM_FileName: payload')
            packed = self.windows('qmtool.exe', 'pack', wine.windows_path(os.path.join(work, 'QM_File.ini')),
                                  '--entry', 'Elm_5.exe=' + wine.windows_path(source), '--title', 'Elm Repair')
            self.assertEqual(packed.returncode, 0, packed.stderr)
            self.assertEqual(sorted(os.listdir(work)), ['QM_File.ini', 'tool.bin'])  # no temporary file left
            native = subprocess.run([launcher.QMTOOL, 'list', '--json', os.path.join(work, 'QM_File.ini')],
                                    capture_output=True, check=True).stdout
            listed = self.windows('qmtool.exe', 'list', '--json', wine.windows_path(os.path.join(work, 'QM_File.ini')))
            self.assertEqual(listed.stdout.replace(b'\r\n', b'\n'), native)
            self.assertIn(b'"fileName": "Elm_5.exe"', native)
            # A read-only output is refused and left as it was.
            output = os.path.join(work, 'QM_File.ini')
            os.chmod(output, 0o444)
            again = self.windows('qmtool.exe', 'pack', wine.windows_path(output), '--entry',
                                 'Alder.exe=' + wine.windows_path(source), '--title', 'Alder Repair')
            self.assertNotEqual(again.returncode, 0)
            self.assertIn(b'read-only', again.stderr)
            self.assertEqual(subprocess.run([launcher.QMTOOL, 'list', '--json', output], capture_output=True,
                                            check=True).stdout, native)
            self.assertEqual(sorted(os.listdir(work)), ['QM_File.ini', 'tool.bin'])


if __name__ == '__main__':
    unittest.main()
