"""qmtool as a packager uses it: exit codes, messages, JSON, atomic writes."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
QMTOOL = os.path.join(ROOT, 'build', 'native', 'qmtool')


def qmtool(*args, cwd=None):
    return subprocess.run([QMTOOL, *args], cwd=cwd, capture_output=True)


class QmTool(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = lambda name: os.path.join(self.dir.name, name)
        with open(self.path('a.bin'), 'wb') as f:
            f.write(b'MZ\x90\x00alder')
        with open(self.path('b.bin'), 'wb') as f:
            f.write(b'QM_FileName: in the payload \xe9')

    def tearDown(self):
        self.dir.cleanup()

    def pack(self, out, *entries):
        args = ['pack', self.path(out)]
        for name, source, titles in entries:
            args += ['--entry', f'{name}={self.path(source)}']
            for title in titles:
                args += ['--title', title]
        return qmtool(*args)

    def test_pack_list_extract_round_trip(self):
        result = self.pack('QM_File.ini', ('Alder.exe', 'a.bin', ['Alder', 'Alder 2']),
                           ('Elm_5.exe', 'b.bin', ['Elm\nWindow']))
        self.assertEqual(result.returncode, 0, result.stderr)
        listing = json.loads(qmtool('list', '--json', self.path('QM_File.ini')).stdout)
        self.assertTrue(listing['result'])
        self.assertEqual(listing['entryCount'], 2)
        self.assertEqual(listing['entries'][0]['findHwnd'], ['Alder', 'Alder 2'])
        self.assertEqual(listing['entries'][1]['findHwnd'], ['Elm\nWindow'])
        self.assertEqual(listing['entries'][1]['fileSize'], 29)
        raw = qmtool('list', '--json', self.path('QM_File.ini')).stdout
        self.assertIn(b'"Elm\\u000aWindow"', raw)

        out = qmtool('extract', '--json', self.path('QM_File.ini'), 'Elm_5.exe', self.path('x.exe'))
        self.assertEqual(json.loads(out.stdout), {'firstEntryIndex': 1, 'extractedSize': 29, 'written': True})
        with open(self.path('x.exe'), 'rb') as f, open(self.path('b.bin'), 'rb') as g:
            self.assertEqual(f.read(), g.read())
        self.assertEqual(qmtool('verify', self.path('QM_File.ini')).returncode, 0)

    def test_text_bytes_are_escaped_in_json(self):
        self.pack('c.ini', ('n\xe9.exe', 'a.bin', ['q"\\']))
        raw = qmtool('list', '--json', self.path('c.ini')).stdout
        self.assertIn(b'"n\\u00c3\\u00a9.exe"', raw)  # the UTF-8 bytes of the argument
        self.assertIn(b'"q\\"\\\\"', raw)

    def test_missing_entry_is_an_error_unless_allowed(self):
        self.pack('c.ini', ('Alder.exe', 'a.bin', ['Alder']))
        missing = qmtool('extract', self.path('c.ini'), 'alder.exe', self.path('y.exe'))
        self.assertEqual(missing.returncode, 1)
        self.assertFalse(os.path.exists(self.path('y.exe')))
        allowed = qmtool('extract', '--json', '--allow-missing', self.path('c.ini'), 'alder.exe', self.path('y.exe'))
        self.assertEqual(json.loads(allowed.stdout), {'firstEntryIndex': -1, 'extractedSize': 0, 'written': True})
        self.assertEqual(os.path.getsize(self.path('y.exe')), 0)

    def test_refused_pack_leaves_the_old_container_whole(self):
        self.pack('c.ini', ('Alder.exe', 'a.bin', ['Alder']))
        with open(self.path('c.ini'), 'rb') as f:
            before = f.read()
        result = self.pack('c.ini', ('Bad QM_FindHwnd:', 'a.bin', []), ('Last', 'b.bin', []))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b'entry 1 ("Bad QM_FindHwnd:")', result.stderr)
        self.assertIn(b'entry 2 ("Last"): the last entry needs exactly one title', result.stderr)
        # First titles the launcher's watch could never finish with.
        result = self.pack('c.ini', ('A', 'a.bin', ['']), ('B', 'a.bin', ['Function Test', 'fine']),
                           ('C', 'b.bin', ['x' * 256]))
        self.assertEqual(result.returncode, 1)
        for entry, why in (('1 ("A")', b'is empty'), ('2 ("B")', b"lies inside the launcher's own window title"),
                           ('3 ("C")', b'is longer than the 255 bytes')):
            self.assertIn(b'entry ' + entry.encode() + b': its first title, the one the launcher watches for, ' + why,
                          result.stderr)
        self.assertEqual(self.pack('c.ini', ('A', 'a.bin', ['x' * 255])).returncode, 0)
        with open(self.path('c.ini'), 'wb') as f:
            f.write(before)
        with open(self.path('c.ini'), 'rb') as f:
            self.assertEqual(f.read(), before)
        self.assertEqual(sorted(os.listdir(self.dir.name)), ['a.bin', 'b.bin', 'c.ini'])

    def test_verify_names_problems_and_fails(self):
        with open(self.path('bad.ini'), 'wb') as f:
            f.write(b'QM_FileName:aQM_FileSize:99QM_FilePlace:0QM_Program_Start:x')
        result = qmtool('verify', self.path('bad.ini'))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b'0 titles', result.stdout)
        self.assertIn(b'outside the file', result.stdout)
        with open(self.path('own.ini'), 'wb') as f:
            f.write(b'QM_FileName:aQM_FileSize:1QM_FilePlace:0QM_FindHwnd:Repeat To WriteQM_Program_Start:x')
        result = qmtool('verify', self.path('own.ini'))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"entry 1 (\"a\"): its first title, the one the launcher watches for, lies inside", result.stdout)

    def test_errors_and_usage(self):
        missing = qmtool('list', self.path('nope.ini'))
        self.assertEqual(missing.returncode, 1)
        self.assertIn(b'nope.ini: no such file', missing.stderr)
        self.assertEqual(qmtool('list').returncode, 2)
        self.assertEqual(qmtool('frobnicate').returncode, 2)
        self.assertEqual(qmtool('pack', self.path('o.ini'), '--title', 'x').returncode, 2)
        for command in ('list', 'extract', 'pack', 'verify'):
            help_text = qmtool(command, '--help')
            self.assertEqual(help_text.returncode, 0)
            self.assertIn(b'usage: qmtool ' + command.encode(), help_text.stdout)


if __name__ == '__main__':
    unittest.main()
