"""The real launcher, as the distribution ships it, under Wine on a machine
without a recognised flash drive: it says so, ends by itself, and no window
of it is ever visible."""
import os
import tempfile
import time
import unittest

import launcher
import wine


class LauncherStartup(unittest.TestCase):
    def test_reports_no_device_ends_with_exit_code_zero_and_shows_no_window(self):
        session = wine.SESSION
        session.use_machine(launcher.machine((0x048D, 0x1169)))  # a drive of no known family
        with tempfile.TemporaryDirectory() as work:
            report = os.path.join(work, 'probe.txt')
            stop = os.path.join(work, 'stop')
            message = os.path.join(work, 'message.txt')
            probe = session.start(session.exe('desktop-probe.exe'),
                                  [wine.windows_path(report), wine.windows_path(stop)])
            watcher = session.start(session.exe('msgbox-watcher.exe'), [wine.windows_path(message), '30'])
            time.sleep(0.3)
            result = session.run(session.shipped('QuillmarkLauncher.exe'), cwd=work, timeout=60)
            open(stop, 'w').close()
            probe.wait(timeout=60)
            watcher.wait(timeout=60)
            self.assertEqual(result.returncode, 0)
            with open(message, 'rb') as f:
                self.assertEqual(f.read(), b'Quillmark Device Not Found')
            with open(report) as f:
                seen, visible = f.read().split()[1:4:2]
            self.assertNotEqual(seen, '0', 'the probe never found the launcher window')
            self.assertEqual(visible, '0', 'the launcher window was visible')
            self.assertEqual(sorted(os.listdir(work)), ['message.txt', 'probe.txt', 'stop'])


if __name__ == '__main__':
    unittest.main()
