"""Runs the end-to-end tests (tests/e2e/test_*.py) in one Wine session.

run.py [MODULE...]   (default: every test_*.py; e.g. run.py test_startup)

Must run inside an X server and through scripts/wine-run.sh: scripts/test.sh
starts it so.
"""
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import wine  # noqa: E402


def main():
    session = wine.WineSession()
    print(f'e2e: {session.description}')
    session.boot()
    wine.SESSION = session
    try:
        if sys.argv[1:]:
            suite = unittest.defaultTestLoader.loadTestsFromNames(sys.argv[1:])
        else:
            suite = unittest.defaultTestLoader.discover(HERE, pattern='test_*.py')
        result = unittest.TextTestRunner(verbosity=2).run(suite)
    finally:
        session.close()
    failed = len(result.failures) + len(result.errors)
    print(f'e2e: {result.testsRun - failed} passed, {failed} failed; Windows programs ran as {session.description}')
    return 0 if result.wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main())
