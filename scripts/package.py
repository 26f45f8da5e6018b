#!/usr/bin/env python3
"""Builds the distribution zip from the 32-bit Windows build.

package.py BUILD_DIR OUT.zip [--certificate FILE.p12 [--password-file FILE] [--timestamp URL]]

Holds QuillmarkLauncher.exe, qmtool.exe, usbscan.exe and README.txt, in that
order, with fixed time stamps and permissions, so the same executables give
the same zip byte for byte. Never the test helpers or the test driver. The
executables ship stripped of their symbols; the build folder keeps them
whole for crash analysis.

With a certificate, every executable in the zip carries an Authenticode
signature (SHA-256) made with osslsigncode. The PKCS#12 file's password comes
from --password-file or the environment variable QM_SIGN_PASSWORD, never from
the command line; --timestamp names an RFC 3161 time-stamp server for
packagers with network. The same settings can come from the environment
(QM_SIGN_CERTIFICATE, QM_SIGN_PASSWORD_FILE, QM_SIGN_TIMESTAMP), so that
`bash scripts/build.sh` makes a signed zip. A signed zip differs from build
to build (a signature holds its time); an unsigned one never does.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..'))
FIXED_TIME = (2026, 1, 1, 0, 0, 0)
EXECUTABLES = ('QuillmarkLauncher.exe', 'qmtool.exe', 'usbscan.exe')
STRIP = 'i686-w64-mingw32-strip'



def sign(source, target, certificate, password_file, timestamp):
    command = ['osslsigncode', 'sign', '-pkcs12', certificate, '-readpass', password_file, '-h', 'sha256',
               '-n', 'Quillmark', '-in', source, '-out', target]
    if timestamp:
        command[2:2] = ['-ts', timestamp]
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f'package: signing {os.path.basename(source)} failed: {result.stdout.strip()} {result.stderr.strip()}')


def password_file_for(args, scratch):
    """A file holding the certificate's password: the one given, or one
    written privately from QM_SIGN_PASSWORD."""
    if args.password_file:
        return args.password_file
    path = os.path.join(scratch, 'password')
    descriptor = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with os.fdopen(descriptor, 'w') as f:
        f.write(os.environ.get('QM_SIGN_PASSWORD', ''))
    return path


def strip(source, target):
    # SOURCE_DATE_EPOCH=0 keeps the PE time stamp 0: the same bytes every time.
    result = subprocess.run([STRIP, '-o', target, source], capture_output=True, text=True,
                            env=dict(os.environ, SOURCE_DATE_EPOCH='0'))
    if result.returncode != 0:
        sys.exit(f'package: stripping {os.path.basename(source)} failed: {result.stderr.strip()}')


def stage(build_dir, scratch, args):
    """The files that ship, as (source path, name in the zip): stripped, then
    signed when a certificate is given."""
    files = []
    password_file = password_file_for(args, scratch) if args.certificate else None
    for name in EXECUTABLES:
        stripped = os.path.join(scratch, 'stripped-' + name)
        strip(os.path.join(build_dir, name), stripped)
        source = stripped
        if args.certificate:
            source = os.path.join(scratch, name)
            sign(stripped, source, args.certificate, password_file, args.timestamp)
        files.append((source, name))
    files.append((os.path.join(ROOT, 'docs', 'USERS.txt'), 'README.txt'))
    return files


def write_zip(files, out):
    temporary = out + '.tmp'
    with zipfile.ZipFile(temporary, 'w', zipfile.ZIP_DEFLATED) as archive:
        for source, name in files:
            info = zipfile.ZipInfo(name, FIXED_TIME)
            info.external_attr = 0o644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(source, 'rb') as f:
                archive.writestr(info, f.read())
    os.replace(temporary, out)


def main():
    parser = argparse.ArgumentParser(description='Builds the distribution zip.')
    parser.add_argument('build_dir')
    parser.add_argument('out')
    parser.add_argument('--certificate', default=os.environ.get('QM_SIGN_CERTIFICATE'))
    parser.add_argument('--password-file', default=os.environ.get('QM_SIGN_PASSWORD_FILE'))
    parser.add_argument('--timestamp', default=os.environ.get('QM_SIGN_TIMESTAMP'))
    args = parser.parse_args()
    if args.certificate and not shutil.which('osslsigncode'):
        sys.exit('package: signing needs osslsigncode (scripts/setup.sh installs it)')
    with tempfile.TemporaryDirectory(prefix='quillmark-package-') as scratch:
        write_zip(stage(args.build_dir, scratch, args), args.out)
    print(f'wrote {args.out}' + (', signed' if args.certificate else ''))


if __name__ == '__main__':
    main()
