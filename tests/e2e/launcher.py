"""A launcher directory for one end-to-end run of QuillmarkLauncher-sim.exe.

It holds the test build of the launcher, a description of the simulated USB
machine (usb-sim.json), a container of demo tools built by qmtool pack
(each entry a copy of demo-tool.exe tagged with its entry name), and the
demo tools' behaviour file (demo-tools.txt).
"""
import json
import os
import shutil
import subprocess
import time

import wine

QMTOOL = os.path.join(wine.ROOT, 'build', 'native', 'qmtool')

# Tool code: (vendor, product, entry name, written name, window title)
TOOLS = {
    1000: (0x13FE, 0x1000, 'Alder.exe', 'Alder.exe', 'Alder Repair'),
    2000: (0x1307, 0x0163, 'Birch_2.exe', 'Birch_1307.exe', 'Birch Repair'),
    3000: (0x048D, 0x1167, 'Cedar_3.exe', 'Cedar_048D_1167.exe', 'Cedar Repair 3'),
    3001: (0x048D, 0x1168, 'Cedar_4.exe', 'Cedar_048D_1168.exe', 'Cedar Repair 4'),
    4000: (0x090C, 0x1000, 'Elm_5.exe', 'Elm_5.exe', 'Elm Repair'),
}

# How each stand-in behaves by default: 2000, 3000 and 3001 are waited for,
# so their window must live in a process that outlives the one started.
BEHAVIOUR = {
    1000: {'title': 'Alder Repair', 'show_ms': '800'},
    2000: {'title': 'Birch Repair', 'show_ms': '2000', 'handoff': '1'},
    3000: {'title': 'Cedar Repair 3', 'show_ms': '2000', 'handoff': '1'},
    3001: {'title': 'Cedar Repair 4', 'show_ms': '2000', 'handoff': '1'},
    4000: {'title': 'Elm Repair', 'show_ms': '2000'},
}


def machine(*devices):
    """A description with one controller whose root hub carries `devices`
    ((vendor, product) pairs, or None for an empty port)."""
    ports = []
    for device in devices:
        if device is None:
            ports.append({})
        else:
            ports.append({'device': {'idVendor': device[0], 'idProduct': device[1], 'iProduct': 1,
                                     'strings': {'1': 'Demo Flash Drive'}}})
    return {'controllers': [{'number': 0, 'rootHub': {'ports': ports}}]}


def tagged_tool(session, entry):
    """The demo tool, tagged so that it logs `entry` as its container entry."""
    with open(session.exe('demo-tool.exe'), 'rb') as f:
        return f.read() + b'ENTRY:' + entry.encode()


def drive(code):
    vendor, product = TOOLS[code][:2]
    return machine(None, (vendor, product), None)


class LauncherDirectory:
    def __init__(self, session, path, exe_name='QuillmarkLauncher-sim.exe'):
        self.session = session
        self.path = path
        os.makedirs(path, exist_ok=True)
        self.exe = os.path.join(path, exe_name)
        shutil.copy(session.exe('QuillmarkLauncher-sim.exe'), self.exe)

    def file(self, name):
        return os.path.join(self.path, name)

    def describe_machine(self, description):
        with open(self.file('usb-sim.json'), 'w') as f:
            json.dump(description, f)

    def pack_container(self, work, payloads=None):
        """QM_File.ini with every tool's entry, built by qmtool pack; by
        default each entry is the demo tool tagged with its entry name,
        `payloads` ({code: bytes}) puts other bytes in its place."""
        args = [QMTOOL, 'pack', self.file('QM_File.ini')]
        for code, (_, _, entry, _, title) in sorted(TOOLS.items()):
            source = os.path.join(work, entry + '.payload')
            with open(source, 'wb') as f:
                f.write((payloads or {}).get(code) or tagged_tool(self.session, entry))
            args += ['--entry', f'{entry}={source}', '--title', title]
        subprocess.run(args, check=True, capture_output=True)

    def behave(self, overrides=None):
        """demo-tools.txt: the default behaviour of every tool, with overrides
        by tool code ({code: {key: value}}; a value None removes the key)."""
        lines = []
        for code, settings in sorted(BEHAVIOUR.items()):
            merged = dict(settings)
            merged.update((overrides or {}).get(code, {}))
            merged = {k: v for k, v in merged.items() if v is not None}
            lines.append('\t'.join([TOOLS[code][3]] + [f'{k}={v}' for k, v in merged.items()]))
        with open(self.file('demo-tools.txt'), 'w') as f:
            f.write('\n'.join(lines) + '\n')

    def log(self):
        try:
            with open(self.file('demo-tools.log'), 'rb') as f:
                return f.read().decode('latin-1').splitlines()
        except FileNotFoundError:
            return []

    def run(self, timeout=60, extra_env=None):
        return self.session.run(self.exe, cwd=self.path, timeout=timeout, extra_env=extra_env)

    def start(self, extra_env=None):
        return self.session.start(self.exe, cwd=self.path, extra_env=extra_env)

    def run_expecting_message(self, work, timeout=60):
        """Runs the launcher while the watcher answers its message box;
        returns (result, message text or None)."""
        message = os.path.join(work, 'message.txt')
        if os.path.exists(message):
            os.unlink(message)
        watcher = self.session.start(self.session.exe('msgbox-watcher.exe'), [wine.windows_path(message), '30'])
        time.sleep(0.2)
        result = self.run(timeout=timeout)
        # A box has been answered before the launcher could end.
        watcher.kill()
        watcher.wait(timeout=60)
        if not os.path.exists(message):
            return result, None
        with open(message, 'rb') as f:
            return result, f.read()
