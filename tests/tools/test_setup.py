"""scripts/setup.sh against a stand-in apt-get: a package archive caught
mid-sync (every update fails, the first install fails) still installs from
the release's main suites; when that fails too, set-up ends with one line
that names the step and quotes apt."""
import os
import subprocess
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))

STANDIN = r'''#!/bin/sh
echo "apt-get $*" >>"$STANDIN_LOG"
for option; do
  case $option in Dir::Etc::SourceList=*) sed 's/^/  source: /' "${option#*=}" >>"$STANDIN_LOG" ;; esac
done
case "$*" in
  "update "*|*" update "*) echo "E: Failed to fetch $STANDIN_UPDATE_SAYS" >&2; exit 100 ;;
  *Dir::Etc::SourceList*" install "*) [ "$STANDIN_FALLBACK" = works ] && exit 0 ;;
esac
echo "E: Unable to correct problems, you have held broken packages." >&2
exit 100
'''

MID_SYNC = 'http://archive.invalid/i386/Packages  File has unexpected size (1 != 2). Mirror sync in progress?'
# deb822 in any field order: the disabled stanza comes first and names the same suite.
SOURCES = ('Suites: {c} {c}-updates\nEnabled: no\nTypes: deb\nURIs: http://disabled.invalid/debian\n\n'
           'suites: {c} {c}-updates\nComponents: main\nURIs: http://archive.invalid/debian\nTypes: deb\n\n'
           'Types: deb\nURIs: http://archive.invalid/debian-security\nSuites: {c}-security\nComponents: main\n')


def codename():
    with open('/etc/os-release') as release:
        for line in release:
            if line.startswith('VERSION_CODENAME='):
                return line.split('=', 1)[1].strip().strip('"')
    return ''


@unittest.skipUnless(codename(), 'not a Debian machine')
class SetupOnAnArchiveMidSync(unittest.TestCase):
    def run_setup(self, fallback, update_says=MID_SYNC, mktemp_fails=False):
        work = tempfile.mkdtemp()
        bin_dir = os.path.join(work, 'bin')
        os.makedirs(bin_dir)
        os.makedirs(os.path.join(work, 'apt', 'sources.list.d'))
        with open(os.path.join(work, 'apt', 'sources.list.d', 'debian.sources'), 'w') as sources:
            sources.write(SOURCES.format(c=codename()))
        commands = {'apt-get': STANDIN, 'dpkg-query': '#!/bin/sh\nexit 1\n', 'id': '#!/bin/sh\necho 0\n',
                    'dpkg': '#!/bin/sh\necho i386\n'}
        if mktemp_fails:
            commands['mktemp'] = '#!/bin/sh\necho "mktemp: failed to create directory" >&2\nexit 1\n'
        for name, text in commands.items():
            path = os.path.join(bin_dir, name)
            with open(path, 'w') as script:
                script.write(text)
            os.chmod(path, 0o755)
        os.makedirs(os.path.join(work, 'cache'))  # an emulator already kept: set-up alone is on trial
        with open(os.path.join(work, 'cache', 'qemu-i386'), 'w') as emulator:
            emulator.write('#!/bin/sh\necho "qemu-i386 version 10.0.0"\n')
        os.chmod(os.path.join(work, 'cache', 'qemu-i386'), 0o755)
        log = os.path.join(work, 'apt.log')
        env = dict(os.environ, PATH=bin_dir + ':' + os.environ['PATH'], STANDIN_LOG=log, STANDIN_FALLBACK=fallback,
                   STANDIN_UPDATE_SAYS=update_says,
                   QM_APT_ETC=os.path.join(work, 'apt'), QM_CACHE=os.path.join(work, 'cache'),
                   QM_SETUP_RETRY_PAUSE='0')
        result = subprocess.run(['bash', os.path.join(ROOT, 'scripts', 'setup.sh')], env=env, capture_output=True,
                                text=True)
        with open(log) as calls:
            return result, calls.read().splitlines()

    def test_the_main_suites_install_what_the_first_install_could_not(self):
        result, calls = self.run_setup('works')
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        plain = [call for call in calls if 'Dir::Etc::SourceList' not in call]
        self.assertEqual(sum(' update' in call for call in plain), 3)  # tried again, then only a warning
        self.assertEqual(sum(' install ' in call for call in plain), 1)
        self.assertTrue(all('--no-remove' in call for call in calls if ' install ' in call))
        self.assertIn('warning: apt-get update failed 3 times', result.stdout)
        self.assertTrue(any('Dir::Etc::SourceList' in call and ' install ' in call for call in calls))
        sources = sorted({call.split('] ')[-1] for call in calls if call.startswith('  source: ')})
        self.assertEqual(sources, [f'http://archive.invalid/debian {codename()} main',
                                   f'http://archive.invalid/debian {codename()}-updates main'])
        self.assertIn(f'installing again from {codename()} and {codename()}-updates alone', result.stdout)
        self.assertIn('setup: all packages present', result.stdout)

    def test_when_everything_fails_one_line_names_the_step_and_quotes_apt(self):
        for update_says, mid_sync in ((MID_SYNC, True), ('http://archive.invalid/Release  404  Not Found', False)):
            with self.subTest(update_says=update_says):
                result, _ = self.run_setup('fails', update_says)
                self.assertNotEqual(result.returncode, 0)
                self.assertEqual(len(result.stderr.strip().splitlines()), 1, result.stderr)
                self.assertIn('at the step "install from the release\'s suites" (apt: E: Unable to correct problems',
                              result.stderr)
                self.assertEqual('run bash scripts/setup.sh again' in result.stderr, mid_sync, result.stderr)
                self.assertIn('install those packages by hand', result.stderr)
                self.assertIn('  apt: E: Failed to fetch', result.stdout)
                self.assertNotIn('all packages present', result.stdout)

    def test_a_failed_mktemp_stops_with_a_message(self):
        result, calls = self.run_setup('works', mktemp_fails=True)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn('cannot make a temporary folder', result.stderr)
        self.assertFalse(any('Dir::Etc::SourceList' in call for call in calls))


if __name__ == '__main__':
    unittest.main()
