"""A signed release and the signature report, with a throw-away certificate
authority made here: every shipped executable verifies, a changed byte is
caught, the password never reaches a command line, and qmtool list tells
signed, unsigned, changed and non-PE entries apart."""
import json
import os
import shutil
import subprocess
import tempfile
import unittest
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
BUILD = os.path.join(ROOT, 'build', 'win-i686')
QMTOOL = os.path.join(ROOT, 'build', 'native', 'qmtool')
PASSWORD = 'correct horse 7'


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, check=True, **kwargs)


class Signing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix='qm-signing-')
        path = cls.path
        run('openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', path('ca.key'), '-out',
            path('ca.pem'), '-days', '2', '-subj', '/CN=Throw-away Test CA',
            '-addext', 'basicConstraints=critical,CA:TRUE', '-addext', 'keyUsage=critical,keyCertSign')
        run('openssl', 'req', '-newkey', 'rsa:2048', '-nodes', '-keyout', path('signer.key'), '-out',
            path('signer.csr'), '-subj', '/CN=Quillmark Test Packager')
        with open(path('ext.cnf'), 'w') as f:
            f.write('basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n')
        run('openssl', 'x509', '-req', '-in', path('signer.csr'), '-CA', path('ca.pem'), '-CAkey', path('ca.key'),
            '-CAcreateserial', '-out', path('signer.pem'), '-days', '2', '-extfile', path('ext.cnf'))
        with open(path('password'), 'w') as f:
            f.write(PASSWORD)
        run('openssl', 'pkcs12', '-export', '-inkey', path('signer.key'), '-in', path('signer.pem'), '-out',
            path('signer.p12'), '-passout', 'file:' + path('password'))
        # osslsigncode as package.py calls it, its arguments logged.
        os.mkdir(path('bin'))
        with open(path('bin/osslsigncode'), 'w') as f:
            f.write(f'#!/bin/sh\necho "$@" >> {path("arguments.log")}\nexec {shutil.which("osslsigncode")} "$@"\n')
        os.chmod(path('bin/osslsigncode'), 0o755)

    @classmethod
    def path(cls, name):
        return os.path.join(cls.dir, name)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def verifies(self, exe):
        return subprocess.run(['osslsigncode', 'verify', '-CAfile', self.path('ca.pem'), '-in', exe],
                              capture_output=True).returncode == 0

    def test_signed_release_verifies_and_a_changed_byte_is_caught(self):
        env = dict(os.environ, QM_SIGN_PASSWORD=PASSWORD, PATH=self.path('bin') + ':' + os.environ['PATH'])
        run('python3', os.path.join(ROOT, 'scripts', 'package.py'), BUILD, self.path('signed.zip'),
            '--certificate', self.path('signer.p12'), env=env)
        with zipfile.ZipFile(self.path('signed.zip')) as archive:
            archive.extractall(self.path('signed'))
        for name in ('QuillmarkLauncher.exe', 'qmtool.exe', 'usbscan.exe'):
            exe = os.path.join(self.path('signed'), name)
            self.assertTrue(self.verifies(exe), name)
        with open(exe, 'r+b') as f:
            f.seek(0x400)
            byte = f.read(1)
            f.seek(0x400)
            f.write(bytes([byte[0] ^ 1]))
        self.assertFalse(self.verifies(exe), 'a changed byte went unnoticed')
        with open(self.path('arguments.log')) as f:
            self.assertNotIn(PASSWORD, f.read())
        # Unsigned, the zip is the same every time.
        for out in ('one.zip', 'two.zip'):
            run('python3', os.path.join(ROOT, 'scripts', 'package.py'), BUILD, self.path(out))
        with open(self.path('one.zip'), 'rb') as one, open(self.path('two.zip'), 'rb') as two:
            self.assertEqual(one.read(), two.read())

    def test_list_tells_what_each_entry_is_and_who_signed_it(self):
        tool = os.path.join(BUILD, 'demo-tool.exe')
        for digest in ('sha1', 'sha256'):
            run('osslsigncode', 'sign', '-pkcs12', self.path('signer.p12'), '-readpass', self.path('password'),
                '-h', digest, '-in', tool, '-out', self.path(digest + '.exe'))
        with open(self.path('sha256.exe'), 'rb') as f:
            changed = bytearray(f.read())
        changed[0x400] ^= 1
        with open(self.path('changed.exe'), 'wb') as f:
            f.write(changed)
        entries = (('sha1.exe', self.path('sha1.exe')), ('sha256.exe', self.path('sha256.exe')),
                   ('changed.exe', self.path('changed.exe')), ('plain.exe', tool), ('text', self.path('password')))
        args = [QMTOOL, 'pack', self.path('c.ini')]
        for name, source in entries:
            args += ['--entry', f'{name}={source}', '--title', f'{name} window']
        run(*args)
        listing = json.loads(run(QMTOOL, 'list', '--json', self.path('c.ini')).stdout)
        reports = [(e['pe'], e['signed'], e['signer'], e['signatureMatches']) for e in listing['entries']]
        self.assertEqual(reports, [(True, True, 'Quillmark Test Packager', True),
                                   (True, True, 'Quillmark Test Packager', True),
                                   (True, True, 'Quillmark Test Packager', False),
                                   (True, False, None, None),
                                   (False, False, None, None)])
        text = run(QMTOOL, 'list', self.path('c.ini')).stdout
        self.assertIn(b'[PE, signed by Quillmark Test Packager, BUT ITS BYTES DO NOT MATCH THE SIGNATURE]', text)
        self.assertIn(b'[PE, unsigned]', text)


if __name__ == '__main__':
    unittest.main()
