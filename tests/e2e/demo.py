"""The launcher's main job under Wine, told step by step."""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine  # noqa: E402


def main():
    session = wine.WineSession()
    print(f'demo: preparing a Wine prefix ({session.arch})')
    session.boot()
    try:
        with tempfile.TemporaryDirectory() as work:
            print('demo: starting QuillmarkLauncher.exe')
            result = session.run(session.exe('QuillmarkLauncher.exe'), cwd=work, timeout=120)
            print(f'demo: the launcher ended with exit code {result.returncode}')
            return 0 if result.returncode == 0 else 1
    finally:
        session.close()


if __name__ == '__main__':
    sys.exit(main())
