"""qmtool as a packager uses it: exit codes, messages, JSON, atomic writes."""
import json
import os
import resource
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

    def pack(self, out, *entries, options=()):
        args = ['pack', *options, self.path(out)]
        for name, source, titles in entries:
            args += ['--entry', f'{name}={self.path(source)}']
            for title in titles:
                args += ['--title', title]
        return qmtool(*args)

    def test_pack_list_extract_round_trip(self):
        result = self.pack('QM_File.ini', ('Alder.exe', 'a.bin', ['Alder', 'Alder 2']),
                           ('Elm_5.exe', 'b.bin', ['Elm Window']))
        self.assertEqual(result.returncode, 0, result.stderr)
        listing = json.loads(qmtool('list', '--json', self.path('QM_File.ini')).stdout)
        self.assertTrue(listing['result'])
        self.assertEqual(listing['entryCount'], 2)
        self.assertEqual(listing['entries'][0]['findHwnd'], ['Alder', 'Alder 2'])
        self.assertEqual(listing['entries'][1]['findHwnd'], ['Elm Window'])
        self.assertEqual(listing['entries'][1]['fileSize'], 29)

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
        # Written by hand with CR LF between the keys: the launcher reads the
        # line breaks into the values, and verify says so; its notes fail nothing.
        with open(self.path('crlf.ini'), 'wb') as f:
            f.write(b'QM_FileName:Elm_5.exe\r\nQM_FileSize:3\r\nQM_FilePlace:0\r\nQM_FindHwnd:Elm\r\n'
                    b'QM_Program_Start:\r\nabc')
        self.assertIn(b'"Elm\\u000d\\u000a"', qmtool('list', '--json', self.path('crlf.ini')).stdout)
        verified = qmtool('verify', self.path('crlf.ini'))
        self.assertEqual(verified.returncode, 1)
        for line in (b'entry 1 ("Elm_5.exe\\x0d\\x0a"): the name holds a control character (0x0D)',
                     b'a title holds a control character (0x0D)', b'note: entry 1 ("Elm_5.exe\\x0d\\x0a"): the '
                     b'launcher does not know this name (it knows Alder.exe, Birch_2.exe'):
            self.assertIn(line, verified.stdout)
        with open(self.path('notes.ini'), 'wb') as f:
            f.write(b'QM_FileName:Elm_5.exeQM_FileSize:3QM_FilePlace:0QM_FindHwnd:ElmQM_Program_Start:\r\nMZ')
        noted = qmtool('verify', self.path('notes.ini'))
        self.assertEqual(noted.returncode, 0, noted.stdout)
        self.assertIn(b'note: entry 1 ("Elm_5.exe"): its bytes are not a PE image', noted.stdout)

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
        # First titles the launcher's watch could never finish with, on the entries it watches.
        result = self.pack('c.ini', ('Birch_2.exe', 'a.bin', ['']), ('Cedar_3.exe', 'a.bin', ['Function Test', 'ok']),
                           ('Cedar_4.exe', 'a.bin', []), ('Elm_5.exe', 'b.bin', ['x' * 256]))
        self.assertEqual(result.returncode, 1)
        for entry, why in (('1 ("Birch_2.exe")', b'is empty'), ('3 ("Cedar_4.exe")', b'is missing'),
                           ('2 ("Cedar_3.exe")', b"lies inside the launcher's own window title"),
                           ('4 ("Elm_5.exe")', b'is longer than the 255 bytes')):
            self.assertIn(b'entry ' + entry.encode() + b': its first title, the one the launcher watches for, ' + why,
                          result.stderr)
        self.assertEqual(self.pack('c.ini', ('Elm_5.exe', 'a.bin', ['x' * 255])).returncode, 0)
        # Alder.exe is never watched, and names the launcher does not know are free.
        self.assertEqual(self.pack('c.ini', ('Alder.exe', 'a.bin', []), ('A', 'a.bin', ['']),
                                   ('B', 'a.bin', ['Function Test'])).returncode, 0)
        # Names no file can have on Windows.
        for name in ('a\\b', 'a/b', '..', 'C:x', 'x.exe:stream', 'CON', 'con.exe', 'nul ', 'COM1.txt', 'lpt9'):
            self.assertEqual(self.pack('c.ini', (name, 'a.bin', ['t'])).returncode, 1, name)
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
            f.write(b'QM_FileName:Elm_5.exeQM_FileSize:1QM_FilePlace:0QM_FindHwnd:Repeat To WriteQM_Program_Start:x')
        result = qmtool('verify', self.path('own.ini'))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b'entry 1 ("Elm_5.exe"): its first title, the one the launcher watches for, lies inside',
                      result.stdout)
        # One numbering: the entry verify calls 1 is the first that list and extract show.
        self.assertTrue(qmtool('list', self.path('own.ini')).stdout.splitlines()[1].startswith(b'1  "Elm_5.exe"'))
        extracted = qmtool('extract', self.path('own.ini'), 'Elm_5.exe', self.path('e.exe'))
        self.assertTrue(extracted.stdout.startswith(b'entry 1: 1 bytes written'), extracted.stdout)

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


    # --- hostile input ---

    def test_unreadable_inputs_fail_with_one_line_naming_the_file(self):
        os.mkdir(self.path('folder'))
        os.mkfifo(self.path('fifo'))  # opening it to read would wait for a writer
        for source, reason in (('folder', b'is not a regular file'), ('missing.bin', b'no such file'),
                               ('fifo', b'is not a regular file')):
            result = self.pack('o.ini', ('A', source, ['Alder']))
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertEqual(result.stderr.count(b'\n'), 1, result.stderr)
            self.assertIn(self.path(source).encode() + b': ' + reason, result.stderr)
        for args in (('list', self.path('fifo')), ('verify', self.path('fifo')),
                     ('extract', self.path('fifo'), 'A', self.path('x.exe'))):
            result = subprocess.run([QMTOOL, *args], capture_output=True, timeout=10)
            self.assertEqual((result.returncode, result.stderr), (1, b'qmtool: ' + self.path('fifo').encode() +
                                                                  b': is not a regular file\n'))
        self.assertEqual(sorted(os.listdir(self.dir.name)), ['a.bin', 'b.bin', 'fifo', 'folder'])
        # extract never writes over its own container, however it is named.
        self.pack('c.ini', ('Alder.exe', 'a.bin', ['Alder']))
        os.symlink(self.path('c.ini'), self.path('link.ini'))
        for out in (self.path('c.ini'), self.path('link.ini'), os.path.join(self.dir.name, '.', 'c.ini')):
            result = qmtool('extract', self.path('c.ini'), 'Alder.exe', out)
            self.assertEqual(result.returncode, 1, out)
            self.assertIn(b'is the container itself', result.stderr)
        self.assertEqual(qmtool('verify', self.path('c.ini')).returncode, 0)

    def test_pack_needs_about_the_container_in_memory(self):
        size = 96 << 20
        with open(self.path('big.bin'), 'wb') as f:
            f.write(b'MZ\0' + os.urandom(size - 3))
        limit = 2 * size + (64 << 20)  # the old pack held about four copies
        result = subprocess.run([QMTOOL, 'pack', self.path('c.ini'), '--entry', f'A={self.path("big.bin")}',
                                 '--title', 'Alder'], capture_output=True,
                                preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(os.path.getsize(self.path("c.ini")), size + 82)  # and the header

    def test_pack_never_follows_a_planted_link_and_keeps_the_permissions(self):
        with open(self.path('victim'), 'wb') as f:
            f.write(b'precious')
        os.symlink(self.path('victim'), self.path('c.ini.tmp-qmtool'))  # the name pack once used
        self.pack('c.ini', ('Alder.exe', 'a.bin', ['Alder']))
        os.chmod(self.path('c.ini'), 0o640)
        result = self.pack('c.ini', ('Elm_5.exe', 'b.bin', ['Elm']))
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.path('victim'), 'rb') as f:
            self.assertEqual(f.read(), b'precious')
        self.assertFalse(os.path.islink(self.path('c.ini')))
        self.assertEqual(os.stat(self.path('c.ini')).st_mode & 0o777, 0o640)
        self.assertEqual(sorted(os.listdir(self.dir.name)), ['a.bin', 'b.bin', 'c.ini', 'c.ini.tmp-qmtool', 'victim'])

    @unittest.skipIf(subprocess.run(['unshare', '--user', '--map-root-user', '--mount', 'true']).returncode != 0,
                     'no private mount namespaces here')
    def test_full_disk_is_named_and_leaves_nothing(self):
        with open(self.path('big.bin'), 'wb') as f:
            f.write(b'MZ\0' + bytes(1 << 20))
        small = self.path('small')
        os.mkdir(small)
        script = (f'mount -t tmpfs -o size=64k qm {small} && '
                  f'{QMTOOL} pack {small}/c.ini --entry A={self.path("big.bin")} --title Alder; '
                  f'echo "rc=$?"; ls -A {small}; '
                  # extract keeps the file it could not replace
                  f'{QMTOOL} pack {self.path("c.ini")} --entry A={self.path("big.bin")} --title Alder >/dev/null; '
                  f'echo old > {small}/x.exe; {QMTOOL} extract {self.path("c.ini")} A {small}/x.exe; '
                  f'echo "rc=$?"; cat {small}/x.exe; ls -A {small}')
        result = subprocess.run(['unshare', '--user', '--map-root-user', '--mount', 'sh', '-c', script],
                                capture_output=True)
        self.assertEqual(result.stdout.split(), [b'rc=1', b'rc=1', b'old', b'x.exe'], result.stdout)
        self.assertEqual(result.stderr.count(b'the disk is full'), 2, result.stderr)

    def test_values_that_read_differently_under_a_double_byte_code_page(self):
        args = [QMTOOL, 'pack', self.path('c.ini'), '--entry', f'A={self.path("a.bin")}', '--title', b'Caf\xe9']
        refused = subprocess.run(args, capture_output=True)
        self.assertEqual(refused.returncode, 1)
        self.assertIn(b'entry 1 ("A"): a title ends with a lead byte under code page 932, 936, 949 and 950',
                      refused.stderr)
        self.assertEqual(subprocess.run(args + ['--codepage', '1252'], capture_output=True).returncode, 0)
        reported = qmtool('verify', self.path('c.ini'))
        self.assertEqual(reported.returncode, 1)
        self.assertIn(b'a title ends with a lead byte under code page 932', reported.stdout)
        self.assertEqual(qmtool('verify', '--codepage', '1252', self.path('c.ini')).returncode, 0)

    def test_extract_list_and_verify_agree_on_entries_and_files_they_cannot_hold(self):
        with open(self.path('out.ini'), 'wb') as f:
            f.write(b'QM_FileName:aQM_FileSize:9QM_FilePlace:0QM_FindHwnd:AlderQM_Program_Start:x')
        outside = qmtool('extract', self.path('out.ini'), 'a', self.path('a.exe'))
        self.assertEqual(outside.returncode, 1)
        self.assertIn(b'entry 1 ("a"): its bytes lie outside the file', outside.stderr)
        self.assertFalse(os.path.exists(self.path('a.exe')))
        self.assertEqual(qmtool('extract', '--allow-missing', self.path('out.ini'), 'a', self.path('a.exe')).returncode, 0)

        self.pack('huge.ini', ('Alder.exe', 'a.bin', ['Alder']))
        os.truncate(self.path('huge.ini'), (4 << 30) + os.path.getsize(self.path('huge.ini')))  # sparse
        for command in ('verify', 'list'):
            result = qmtool(command, self.path('huge.ini'))
            self.assertEqual(result.returncode, 1, command)
            self.assertIn(b'4.0 GiB: the launcher reads containers under 2 GiB', result.stderr)


if __name__ == '__main__':
    unittest.main()
