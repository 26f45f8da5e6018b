"""The launcher from start to exit under Wine, with a simulated flash drive
and a container of demo tools."""
import os
import subprocess
import tempfile
import time
import unittest

import launcher
import wine
from launcher import TOOLS


class LauncherRuns(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix='qm-e2e-')
        self.session = wine.SESSION

    def tearDown(self):
        subprocess.run(['rm', '-rf', self.work])

    def directory(self, name='launcher', description=None, container=True, overrides=None, **kwargs):
        folder = launcher.LauncherDirectory(self.session, os.path.join(self.work, name), **kwargs)
        folder.describe_machine(description)
        if container:
            folder.pack_container(self.work)
        folder.behave(overrides)
        return folder

    def assert_tool_ran(self, folder, code, result):
        written = TOOLS[code][3]
        log = folder.log()
        self.assertEqual(result.returncode, 0, log)
        self.assertIn(f'{written}: started, arguments ""', log)
        self.assertIn(f'{written}: entry {TOOLS[code][2]}', log)
        self.assertIn(f'{written}: window shown "{TOOLS[code][4]}"', log)
        self.assertIn(f'{written}: window closed', log)
        self.assertFalse(os.path.exists(folder.file(written)), f'{written} was left behind')
        others = [TOOLS[c][3] for c in TOOLS if c != code]
        self.assertFalse([line for line in log if line.split(':')[0] in others], log)

    def test_each_tool_is_extracted_started_watched_and_removed(self):
        for code in (1000, 2000, 3000, 3001, 4000):
            with self.subTest(code=code):
                folder = self.directory(f'tool{code}', launcher.drive(code))
                result = folder.run(timeout=60)
                self.assert_tool_ran(folder, code, result)
                if code in (2000, 3000, 3001):
                    self.assertIn(f'{TOOLS[code][3]}: handed off', folder.log())

    def test_no_recognised_controller_says_so_and_writes_nothing(self):
        for description in (launcher.machine(), launcher.machine((0x048D, 0x1169))):
            folder = self.directory('nodevice', description)
            before = sorted(os.listdir(folder.path))
            result, message = folder.run_expecting_message(self.work)
            self.assertEqual(message, b'Quillmark Device Not Found')
            self.assertEqual(result.returncode, 0)
            self.assertEqual(sorted(os.listdir(folder.path)), before)

    def test_missing_container_says_so_and_writes_nothing(self):
        folder = self.directory('nocontainer', launcher.drive(4000), container=False)
        before = sorted(os.listdir(folder.path))
        result, message = folder.run_expecting_message(self.work)
        self.assertEqual(message, b'" QM_File.ini " Not Found')
        self.assertEqual(result.returncode, 0)
        self.assertEqual(sorted(os.listdir(folder.path)), before)

    def test_first_recognised_controller_decides(self):
        folder = self.directory('two', launcher.machine((0x090C, 1), (0x13FE, 2)))
        self.assert_tool_ran(folder, 4000, folder.run())

    def test_tool_that_keeps_its_file_open_is_left_after_three_attempts(self):
        folder = self.directory('locked', launcher.drive(4000), overrides={4000: {'hold_ms': '6000'}})
        started = time.monotonic()
        result = folder.run()
        self.assertEqual(result.returncode, 0)
        self.assertTrue(os.path.exists(folder.file('Elm_5.exe')))
        self.assertIn('Elm_5.exe: holding its file', folder.log())
        self.assertGreaterEqual(time.monotonic() - started, 1.5)  # three attempts, 500 ms apart

    def test_space_in_the_path_never_starts_a_decoy(self):
        folder = self.directory('Repair Tools', launcher.drive(4000))
        decoy = os.path.join(self.work, 'Repair.exe')
        with open(self.session.exe('demo-tool.exe'), 'rb') as f, open(decoy, 'wb') as g:
            g.write(f.read())
        result = folder.run()
        self.assert_tool_ran(folder, 4000, result)
        self.assertFalse(os.path.exists(os.path.join(self.work, 'demo-tools.log')), 'the decoy ran')

    def test_window_that_never_appears_keeps_the_launcher_polling(self):
        folder = self.directory('nowindow', launcher.drive(4000), overrides={4000: {'title': None}})
        process = folder.start()
        try:
            time.sleep(4.5)  # several ticks
            self.assertIsNone(process.poll(), 'the launcher ended without seeing the window')
            self.assertIn('Elm_5.exe: ended', folder.log())
            self.assertTrue(os.path.exists(folder.file('Elm_5.exe')))
        finally:
            process.kill()
            process.wait(timeout=30)

    def test_tool_starts_under_every_windows_version(self):
        for version in ('winxp', 'vista', 'win7', 'win10'):
            with self.subTest(version=version):
                folder = self.directory(f'version-{version}', launcher.drive(1000))
                self.session.set_reported_version('QuillmarkLauncher-sim.exe', version)
                try:
                    self.assert_tool_ran(folder, 1000, folder.run())
                finally:
                    self.session.set_reported_version('QuillmarkLauncher-sim.exe', 'win7')

    def test_double_byte_names_under_code_page_932(self):
        locale_dir = os.path.join(wine.ROOT, 'build', 'locale')
        if not os.path.isdir(os.path.join(locale_dir, 'ja_JP.UTF-8')):
            os.makedirs(locale_dir, exist_ok=True)
            subprocess.run(['localedef', '-i', 'ja_JP', '-f', 'UTF-8', os.path.join(locale_dir, 'ja_JP.UTF-8')],
                           check=True, capture_output=True)
        # "ソ" is 0x83 0x5C in code page 932: its trail byte is a backslash,
        # in the launcher's directory or in its own file name.
        soft = '\u30bd\u30d5\u30c8'
        for folder_name, exe_name in ((soft, 'QuillmarkLauncher-sim.exe'), ('launcher', soft + '.exe')):
            with self.subTest(folder=folder_name, exe=exe_name):
                folder = self.directory(folder_name, launcher.drive(4000), exe_name=exe_name)
                result = folder.run(extra_env={'LOCPATH': locale_dir, 'LC_ALL': 'ja_JP.UTF-8'})
                self.assert_tool_ran(folder, 4000, result)


if __name__ == '__main__':
    unittest.main()
