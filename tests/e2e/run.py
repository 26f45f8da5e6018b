"""Runs the end-to-end tests (tests/e2e/test_*.py) in one Wine session.

Must run inside an X server: scripts/test.sh starts it under xvfb-run.
"""
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import wine  # noqa: E402


def main():
    session = wine.WineSession()
    print(f'e2e: Wine {session.arch}, executables from {os.path.relpath(session.build_dir, wine.ROOT)}')
    session.boot()
    wine.SESSION = session
    try:
        suite = unittest.defaultTestLoader.discover(HERE, pattern='test_*.py')
        result = unittest.TextTestRunner(verbosity=2).run(suite)
    finally:
        session.close()
    failed = len(result.failures) + len(result.errors)
    print(f'e2e: {result.testsRun - failed} passed, {failed} failed')
    return 0 if result.wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main())
