"""The i386 namespace wrapper: the handler is seen inside and nowhere else,
and a refusal has its own exit code."""
import os
import subprocess
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
WRAPPER = os.path.join(ROOT, 'scripts', 'i386-namespace.sh')
HANDLER = '/proc/sys/fs/binfmt_misc/qm-i386'


def wrapped(emulator, *command):
    return subprocess.run(['bash', WRAPPER, emulator, *command], capture_output=True, text=True)


@unittest.skipIf(subprocess.run(['unshare', '--user', '--map-root-user', '--mount', 'true']).returncode != 0,
                 'no private user namespaces here')
class I386Namespace(unittest.TestCase):
    def test_registered_inside_only(self):
        inside = wrapped('/bin/true', 'cat', HANDLER)
        self.assertEqual(inside.returncode, 0, inside.stderr)
        self.assertIn('interpreter ' + os.path.realpath('/bin/true'), inside.stdout)
        self.assertIn('flags: F', inside.stdout)
        self.assertFalse(os.path.exists(HANDLER))

    def test_refused_registration_has_its_own_exit_code(self):
        refused = wrapped('/nonexistent/qemu-i386', 'true')
        self.assertEqual(refused.returncode, 98)
        self.assertIn('refuses to register', refused.stderr)


if __name__ == '__main__':
    unittest.main()
