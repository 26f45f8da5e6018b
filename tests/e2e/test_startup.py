"""The real launcher under Wine: with nothing to do it ends by itself, and no
window of it is ever visible."""
import os
import tempfile
import time
import unittest

import wine


class LauncherStartup(unittest.TestCase):
    def test_ends_with_exit_code_zero_and_shows_no_window(self):
        session = wine.SESSION
        with tempfile.TemporaryDirectory() as work:
            report = os.path.join(work, 'probe.txt')
            stop = os.path.join(work, 'stop')
            probe = session.start(session.exe('desktop-probe.exe'),
                                  [wine.windows_path(report), wine.windows_path(stop)])
            time.sleep(0.3)
            result = session.run(session.exe('QuillmarkLauncher.exe'), cwd=work, timeout=60)
            open(stop, 'w').close()
            probe.wait(timeout=60)
            self.assertEqual(result.returncode, 0)
            with open(report) as f:
                seen, visible = f.read().split()[1::2]
            self.assertEqual(visible, '0', 'the launcher window was visible')


if __name__ == '__main__':
    unittest.main()
