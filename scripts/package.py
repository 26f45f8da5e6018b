#!/usr/bin/env python3
"""Builds the distribution zip from the 32-bit Windows build.

package.py BUILD_DIR OUT.zip

Holds QuillmarkLauncher.exe, qmtool.exe, usbscan.exe and README.txt, in that
order, with fixed time stamps and permissions, so the same executables give
the same zip byte for byte. Never the test build or the demo tools.
"""
import os
import sys
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..'))
FIXED_TIME = (2026, 1, 1, 0, 0, 0)


def main(build_dir, out):
    files = [(os.path.join(build_dir, name), name) for name in ('QuillmarkLauncher.exe', 'qmtool.exe', 'usbscan.exe')]
    files.append((os.path.join(ROOT, 'docs', 'USERS.txt'), 'README.txt'))
    temporary = out + '.tmp'
    with zipfile.ZipFile(temporary, 'w', zipfile.ZIP_DEFLATED) as archive:
        for source, name in files:
            info = zipfile.ZipInfo(name, FIXED_TIME)
            info.external_attr = 0o644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(source, 'rb') as f:
                archive.writestr(info, f.read())
    os.replace(temporary, out)
    print(f'wrote {out}')


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
