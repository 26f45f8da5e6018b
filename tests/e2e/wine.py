"""One Wine session for a whole end-to-end run.

A private prefix is made once per run, its settings are written (no window
manager, so closing a window does not wait for one; no crash dialog, so a
crash cannot hang the run), and a persistent wineserver keeps process starts
fast. Every Wine call runs under a time limit. The run itself must already be
inside an X server (xvfb-run), and started through scripts/wine-run.sh, which
chooses how Windows programs run here (scripts/wine-env.sh).
"""
import json
import os
import shutil
import subprocess
import tempfile
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))

SETTINGS_REG = r'''REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
'''


def wine_mode():
    """native or emulated (the shipped 32-bit build) or win64 (the stand-in)."""
    mode = os.environ.get('QM_WINE_MODE')
    if not mode:
        mode = subprocess.run(['bash', '-c', 'source scripts/wine-env.sh && qm_wine_mode'],
                              cwd=ROOT, capture_output=True, text=True, check=True).stdout.strip()
    if mode == 'emulated' and os.environ.get('QM_I386_NAMESPACE') != 'active':
        raise RuntimeError('32-bit Wine needs the i386 emulator here: run this through scripts/wine-run.sh')
    return mode


def describe_mode(mode):
    return subprocess.run(['bash', '-c', f'source scripts/wine-env.sh && qm_describe_mode {mode}'],
                          cwd=ROOT, capture_output=True, text=True, check=True).stdout.strip()


def windows_path(path):
    """The Windows name of a Unix path, through Wine's Z: drive."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


class WineSession:
    def __init__(self):
        self.mode = wine_mode()
        self.arch = 'win64' if self.mode == 'win64' else 'win32'
        self.loader = '/usr/lib/wine/wine64' if self.arch == 'win64' else '/usr/lib/wine/wine'
        self.build_dir = os.path.join(ROOT, 'build', 'win-x86_64' if self.arch == 'win64' else 'win-i686')
        self.description = describe_mode(self.mode)
        self.prefix = tempfile.mkdtemp(prefix='qm-wine-')
        self.env = dict(os.environ)
        self.env.update({
            'WINEPREFIX': self.prefix,
            'WINEARCH': self.arch,
            'WINEDEBUG': '-all',
            'WINELOADER': self.loader,
            # No Mono or Gecko install prompts: the tests need neither.
            'WINEDLLOVERRIDES': 'mscoree,mshtml=',
        })

    def exe(self, name):
        return os.path.join(self.build_dir, name)

    def shipped(self, name):
        """An executable as the distribution zip holds it (the 32-bit build,
        stripped; under the 64-bit stand-in, the build's own)."""
        if self.arch == 'win64':
            return self.exe(name)
        folder = os.path.join(self.prefix, 'shipped')
        if not os.path.isdir(folder):
            with zipfile.ZipFile(os.path.join(ROOT, 'build', 'quillmark-windows.zip')) as archive:
                archive.extractall(folder)
        return os.path.join(folder, name)

    def boot(self):
        self._wine(['wineboot', '-i'], timeout=120)
        reg = os.path.join(self.prefix, 'settings.reg')
        with open(reg, 'w') as f:
            f.write(SETTINGS_REG)
        self._wine(['regedit', '/S', windows_path(reg)], timeout=60)
        subprocess.run(['wineserver', '-w'], env=self.env, timeout=60)
        # A warm server: it stays up between the tests' processes.
        subprocess.run(['wineserver', '-p'], env=self.env, timeout=30)

    def use_machine(self, description, trace=False):
        """Gives the prefix the USB machine `description` describes (a
        description of the simulated stack, as a dict), served by the test
        USB driver (scripts/wine-usb.sh): every program started from now on
        sees it. With `trace`, the driver records every request to
        trace_file()."""
        path = os.path.join(self.prefix, 'machine.json')
        with open(path, 'w') as f:
            json.dump(description, f)
        switched = subprocess.run(['bash', os.path.join(ROOT, 'scripts', 'wine-usb.sh'), *(['--trace'] if trace else []),
                                   path], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                                  timeout=120)
        if switched.returncode != 0:
            raise RuntimeError(switched.stderr.strip())

    def trace_file(self):
        return os.path.join(self.prefix, 'drive_c', 'windows', 'qmusbsim-trace.txt')

    def close(self):
        subprocess.run(['wineserver', '-k'], env=self.env, timeout=30)
        shutil.rmtree(self.prefix, ignore_errors=True)

    def set_reported_version(self, exe_name, version):
        """Makes `exe_name` see another Windows version (winxp, vista, win7, win10)."""
        key = 'HKCU\\Software\\Wine\\AppDefaults\\' + exe_name
        self._wine(['reg', 'add', key, '/v', 'Version', '/d', version, '/f'], timeout=60)

    def run(self, program, args=(), cwd=None, timeout=60, extra_env=None):
        """Runs a Windows program to its end; returns the Popen, ended.

        Its output is not captured: processes that Wine starts on the side
        (under some locales) would hold a pipe open long after the program
        ended, and a GUI program's output goes nowhere on Windows anyway."""
        process = self.start(program, args, cwd=cwd, extra_env=extra_env)
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise
        return process

    def start(self, program, args=(), cwd=None, extra_env=None):
        """Starts a Windows program in the background; returns the Popen."""
        env = dict(self.env)
        env.update(extra_env or {})
        return subprocess.Popen([self.loader, program, *args], cwd=cwd, env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def _wine(self, args, timeout):
        subprocess.run([self.loader, *args], env=self.env, timeout=timeout,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
