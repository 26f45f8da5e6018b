"""The launcher from start to exit under Wine, with a simulated flash drive
and a container of demo tools."""
import json
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

    def directory(self, name='launcher', description=None, container=True, overrides=None, trace=False, **kwargs):
        folder = launcher.LauncherDirectory(self.session, os.path.join(self.work, name), **kwargs)
        folder.describe_machine(description, trace)
        if container:
            folder.pack_container(self.work)
        folder.behave(overrides)
        return folder

    def assert_tool_ran(self, folder, code, result):
        tool = TOOLS[code]
        written = tool.written
        log = folder.log()
        self.assertEqual(result.returncode, 0, log)
        self.assertIn(f'{written}: started, arguments ""', log)
        self.assertIn(f'{written}: entry {tool.entry}', log)
        self.assertIn(f'{written}: window shown "{tool.title}"', log)
        self.assertIn(f'{written}: window closed', log)
        self.assertFalse(os.path.exists(folder.file(written)), f'{written} was left behind')
        others = [TOOLS[c].written for c in TOOLS if c != code]
        self.assertFalse([line for line in log if line.split(':')[0] in others], log)

    def test_each_tool_is_extracted_started_watched_and_removed(self):
        for code, tool in TOOLS.items():
            with self.subTest(code=code):
                folder = self.directory(f'tool{code}', launcher.drive(code))
                result = folder.run(timeout=60)
                self.assert_tool_ran(folder, code, result)
                if tool.waited and tool.watched:
                    self.assertIn(f'{tool.written}: handed off', folder.log())

    def test_launcher_closed_or_quit_while_its_tool_runs_still_removes_the_tool(self):
        # WM_CLOSE during a watch ends with 0; a WM_QUIT kept from the wait ends with its code.
        for code, nudge, exit_code in ((4000, 'close', 0), (2000, 'quit', 5)):
            with self.subTest(code=code):
                tool = TOOLS[code]
                folder = self.directory(f'nudge{code}', launcher.drive(code),
                                        overrides={code: {'nudge': nudge, 'title': None, 'handoff': None}})
                result = folder.run(timeout=60)
                self.assertIn(f'{tool.written}: nudged the launcher: {nudge}', folder.log())
                self.assertEqual(result.returncode, exit_code, folder.log())
                self.assertFalse(os.path.exists(folder.file(tool.written)), f'{tool.written} was left behind')

    def test_the_shipped_launcher_sends_the_walks_requests_to_the_driver(self):
        realistic = os.path.join(wine.ROOT, 'tests', 'data', 'usb', 'realistic.json')
        with open(realistic) as f:
            folder = self.directory('requests', json.load(f), trace=True)
        self.assert_tool_ran(folder, 4000, folder.run())
        requests, closes = launcher.driver_requests(self.session.trace_file())
        self.assertEqual(requests, launcher.simulated_requests(realistic))
        self.assertEqual(closes, sum(1 for request in requests if request[1] is None), 'a handle was left open')

    def test_no_recognised_controller_says_so_and_writes_nothing(self):
        for description in (launcher.machine(), launcher.machine((0x048D, 0x1169))):
            folder = self.directory('nodevice', description)
            before = sorted(os.listdir(folder.path))
            result, message = folder.run_expecting_message(self.work)
            self.assertEqual(message, b'Quillmark Device Not Found')
            self.assertEqual(result.returncode, 0)
            self.assertEqual(sorted(os.listdir(folder.path)), before)

    def test_a_notebooks_built_in_camera_never_starts_a_tool(self):
        # A real HP G62: its camera 090c:37bc (class 0xEF) on hub port 5 of controller 1.
        with open(os.path.join(wine.ROOT, 'tests', 'data', 'usb', 'hp-g62-notebook.json')) as f:
            notebook = json.load(f)
        folder = self.directory('notebook', notebook)
        before = sorted(os.listdir(folder.path))
        result, message = folder.run_expecting_message(self.work)
        self.assertEqual(message, b'Quillmark Device Not Found')
        self.assertEqual(sorted(os.listdir(folder.path)), before)
        # A Kingston drive on the port after the camera decides.
        ports = notebook['controllers'][1]['rootHub']['ports'][0]['hub']['ports']
        ports[5] = {'device': {'idVendor': 0x13FE, 'idProduct': 0x4200, 'iProduct': 2,
                               'strings': {'2': 'USB DISK 2.0'}}}
        folder = self.directory('notebook-drive', notebook)
        self.assert_tool_ran(folder, 1000, folder.run())

    def test_missing_or_too_large_container_says_so_and_writes_nothing(self):
        # Too large: sparse files, a whole container followed by 4 GiB of
        # zeros (its size's low 32 bits are the container's), and one of 3 GiB.
        for name, container, grown_to in (('nocontainer', False, None),
                                          ('beyond4g', True, lambda size: size + (4 << 30)),
                                          ('of3g', True, lambda size: 3 << 30)):
            with self.subTest(name=name):
                folder = self.directory(name, launcher.drive(4000), container=container)
                if grown_to:
                    path = folder.file('QM_File.ini')
                    os.truncate(path, grown_to(os.path.getsize(path)))
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

    def test_tool_runs_in_the_launchers_folder_wherever_the_launcher_was_started(self):
        folder = self.directory('own-folder', launcher.drive(4000))
        result = self.session.run(folder.exe, cwd=self.work)
        self.assert_tool_ran(folder, 4000, result)
        self.assertIn('Elm_5.exe: current directory ' + wine.windows_path(folder.path), folder.log())

    def test_space_in_the_path_never_starts_a_decoy(self):
        folder = self.directory('Repair Tools', launcher.drive(4000))
        decoy = os.path.join(self.work, 'Repair.exe')
        with open(self.session.exe('demo-tool.exe'), 'rb') as f, open(decoy, 'wb') as g:
            g.write(f.read())
        result = folder.run()
        self.assert_tool_ran(folder, 4000, result)
        self.assertFalse(os.path.exists(os.path.join(self.work, 'demo-tools.log')), 'the decoy ran')

    def test_window_that_never_comes_ends_the_watch_a_minute_after_the_tool(self):
        # Both tools show a window the container does not name: one ends after
        # three seconds, the other keeps its window open.
        other = {'title': 'Some Other Window'}
        ended = self.directory('ended', launcher.drive(4000), overrides={4000: dict(other, show_ms='3000')})
        running = self.directory('running', launcher.drive(4000), overrides={4000: dict(other, show_ms='75000')})
        started = time.monotonic()
        first, second = ended.start(), running.start()
        try:
            first.wait(timeout=120)
            elapsed = time.monotonic() - started
            self.assertEqual(first.returncode, 0)
            self.assertGreater(elapsed, 60)
            self.assertLess(elapsed, 80)
            self.assertFalse(os.path.exists(ended.file('Elm_5.exe')), 'the tool was left behind')
            self.assertIsNone(second.poll(), 'the launcher of a running tool stopped watching')
            self.assertTrue(os.path.exists(running.file('Elm_5.exe')))
        finally:
            second.kill()
            second.wait(timeout=30)

    def test_tool_that_cannot_be_written_or_started_is_reported(self):
        def read_only_tool(path):
            with open(path, 'wb') as f:
                f.write(launcher.tagged_tool(self.session, 'Planted'))
            os.chmod(path, 0o444)

        cases = (('not a program', {4000: b'MZ but not a program'}, None),
                 ('a folder under its name', None, os.mkdir),
                 ('a read-only file under its name', None, read_only_tool))
        for what, payloads, plant in cases:
            with self.subTest(what):
                folder = launcher.LauncherDirectory(self.session, os.path.join(self.work, what))
                folder.describe_machine(launcher.drive(4000))
                folder.pack_container(self.work, payloads)
                folder.behave()
                if plant:
                    plant(folder.file('Elm_5.exe'))
                before = sorted(os.listdir(folder.path))
                started = time.monotonic()
                result, message = folder.run_expecting_message(self.work)
                self.assertEqual(message, b'" Elm_5.exe " Could Not Be Started')
                self.assertEqual(result.returncode, 0)
                self.assertLess(time.monotonic() - started, 20)
                self.assertEqual(sorted(os.listdir(folder.path)), before)
                self.assertEqual(folder.log(), [], 'something was started')

    def test_tool_file_cannot_be_swapped_before_the_tool_starts(self):
        folder = self.directory('swap', launcher.drive(4000))
        decoy = os.path.join(self.work, 'decoy.exe')
        with open(decoy, 'wb') as f:
            f.write(launcher.tagged_tool(self.session, 'Decoy'))
        report = os.path.join(self.work, 'swapper.txt')
        swapper = self.session.start(self.session.exe('swapper.exe'), [
            wine.windows_path(folder.file('Elm_5.exe')), wine.windows_path(decoy), wine.windows_path(report)])
        time.sleep(0.5)
        result, message = folder.run_expecting_message(self.work)
        swapper.wait(timeout=90)
        with open(report) as f:
            attempts, swapped = (int(n) for n in f.read().split()[1::2])
        self.assertGreater(attempts, 0, 'the swapper never saw the tool file')
        self.assertNotIn('Elm_5.exe: entry Decoy', folder.log())
        if message is None:
            self.assert_tool_ran(folder, 4000, result)
            self.assertEqual(swapped, 0, f'{swapped} of {attempts} swaps went through')
        else:  # a swap in the instant between writing and holding the file, caught
            self.assertEqual(message, b'" Elm_5.exe " Could Not Be Started')
            self.assertEqual(folder.log(), [])

    def test_launcher_answers_messages_while_it_waits_for_a_tool(self):
        folder = self.directory('answers', launcher.drive(2000), overrides={2000: {'delay_ms': '4000'}})
        report, stop = os.path.join(self.work, 'probe.txt'), os.path.join(self.work, 'stop')
        probe = self.session.start(self.session.exe('desktop-probe.exe'),
                                   [wine.windows_path(report), wine.windows_path(stop)])
        result = folder.run()
        open(stop, 'w').close()
        probe.wait(timeout=60)
        self.assert_tool_ran(folder, 2000, result)
        with open(report) as f:
            seen, _, answered, unanswered = f.read().split()[1::2]
        self.assertNotEqual(answered, '0', 'no message reached the launcher')
        self.assertEqual(unanswered, '0', 'the launcher left a message unanswered')

    def test_tool_starts_under_every_windows_version(self):
        for version in ('winxp', 'vista', 'win7', 'win10'):
            with self.subTest(version=version):
                folder = self.directory(f'version-{version}', launcher.drive(1000))
                self.session.set_reported_version('QuillmarkLauncher.exe', version)
                try:
                    self.assert_tool_ran(folder, 1000, folder.run())
                finally:
                    self.session.set_reported_version('QuillmarkLauncher.exe', 'win7')

    def test_double_byte_names_under_code_page_932(self):
        locale_dir = os.path.join(wine.ROOT, 'build', 'locale')
        if not os.path.isdir(os.path.join(locale_dir, 'ja_JP.UTF-8')):
            os.makedirs(locale_dir, exist_ok=True)
            subprocess.run(['localedef', '-i', 'ja_JP', '-f', 'UTF-8', os.path.join(locale_dir, 'ja_JP.UTF-8')],
                           check=True, capture_output=True)
        # "ソ" is 0x83 0x5C in code page 932: its trail byte is a backslash,
        # in the launcher's directory or in its own file name.
        soft = '\u30bd\u30d5\u30c8'
        for folder_name, exe_name in ((soft, 'QuillmarkLauncher.exe'), ('launcher', soft + '.exe')):
            with self.subTest(folder=folder_name, exe=exe_name):
                folder = self.directory(folder_name, launcher.drive(4000), exe_name=exe_name)
                result = folder.run(extra_env={'LOCPATH': locale_dir, 'LC_ALL': 'ja_JP.UTF-8'})
                self.assert_tool_ran(folder, 4000, result)

    def test_drive_behind_a_controller_without_a_legacy_name_beside_a_failing_one(self):
        failing = {'number': 0, 'driverKeyError': 31, 'rootHub': {'ports': [{}]}}
        unnamed = {'rootHub': launcher.drive(4000)['controllers'][0]['rootHub']}  # reached by its interface only
        folder = self.directory('unnamed', {'controllers': [failing, unnamed]})
        self.assert_tool_ran(folder, 4000, folder.run())

    def test_folders_the_ansi_code_page_cannot_spell(self):
        code_page_1252 = {'LC_ALL': 'C.UTF-8'}
        for folder_name in ('qm-\u0418\u0432\u0430\u043d', '\u5de5\u5177'):  # Cyrillic, CJK
            for code in (4000, 1000):
                with self.subTest(folder=folder_name, code=code):
                    folder = self.directory(f'{folder_name}-{code}', launcher.drive(code))
                    self.assert_tool_ran(folder, code, folder.run(extra_env=code_page_1252))
        # "Paweł" has a best-fit spelling "Pawel" in code page 1252: the
        # container there must never be the one read, nor that folder written.
        decoy = launcher.LauncherDirectory(self.session, os.path.join(self.work, 'Pawel'))
        decoy.describe_machine(launcher.drive(4000))
        decoy.pack_container(self.work, payloads={4000: launcher.tagged_tool(self.session, 'DECOY')})
        before = sorted(os.listdir(decoy.path))
        folder = self.directory('Pawe\u0142', launcher.drive(4000))
        self.assert_tool_ran(folder, 4000, folder.run(extra_env=code_page_1252))
        self.assertEqual(sorted(os.listdir(decoy.path)), before)


if __name__ == '__main__':
    unittest.main()
