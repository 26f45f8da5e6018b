"""A launcher directory for one end-to-end run of QuillmarkLauncher.exe.

It holds the launcher as the distribution ships it, a container of demo
tools built by qmtool pack (each entry a copy of demo-tool.exe tagged with
its entry name), and the demo tools' behaviour file (demo-tools.txt). The
USB machine it runs on is the one the test USB driver serves in the session's
prefix (WineSession.use_machine).
"""
import json
import os
import shutil
import subprocess
import time
from typing import NamedTuple

import wine

QMTOOL = os.path.join(wine.ROOT, 'build', 'native', 'qmtool')
USBSCAN = os.path.join(wine.ROOT, 'build', 'native', 'usbscan')


class Tool(NamedTuple):
    code: int
    vendor: int
    product: int
    entry: str    # its name in the container
    written: str  # the file the launcher writes
    title: str    # the window title its stand-in shows
    waited: bool  # the launcher waits for the started program
    watched: bool  # the launcher watches its window


def tool_table():
    """The launcher's own tool table (usbscan --tools), with what the tests
    add: a product id for rows that take any, and a window title."""
    table = json.loads(subprocess.run([USBSCAN, '--tools', '--json'], capture_output=True, check=True).stdout)
    tools = {}
    for row in table['tools']:
        product = row['productId'] if row['productId'] is not None else 0x1000
        title = row['entryName'].rsplit('.', 1)[0].replace('_', ' ') + ' Repair'
        tools[row['toolCode']] = Tool(row['toolCode'], row['vendorId'], product, row['entryName'], row['writtenName'],
                                      title, row['launch'] == 'wait', row['after'] == 'watch the window')
    return tools


TOOLS = tool_table()


def behaviour(tool):
    """How a stand-in behaves by default: its window shown long enough to be
    seen; a tool that is waited for and then watched hands its window to a
    child process that outlives it."""
    settings = {'title': tool.title, 'show_ms': '2000' if tool.watched else '800'}
    if tool.waited and tool.watched:
        settings['handoff'] = '1'
    return settings


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


def scan_without_interface_paths(report):
    """A usbscan --json report with each interface path, which the system
    names, replaced by its place among the interfaces walked."""
    places = {}
    for controller in report['controllers']:
        if controller['byInterface']:
            places[controller['path']] = controller['path'] = f'interface {len(places)}'
    for device in report['devices']:
        device['controllerPath'] = places.get(device['controllerPath'], device['controllerPath'])
    return report


# What usbscan asks beyond the launcher's walk, for each device's and hub's
# details: _EX_V2, _EX, and the configuration descriptor and device
# qualifier; and a hub's strings (on a port the walk asks a hub's name of).
DETAIL_CODES = (0x220448, 0x22045C)
DETAIL_DESCRIPTORS = (0x0200, 0x0600)
CONNECTION_NAME = 0x220414


def simulated_requests(description_path):
    """The opens that succeed and the requests the walk sends, as the
    simulated stack traces them for a description: (path, code, size, ok),
    an interface path as its place among the interfaces that open; usbscan's
    own detail requests left out."""
    report = json.loads(subprocess.run([USBSCAN, '--sim', description_path, '--json', '--trace'],
                                       capture_output=True, check=True).stdout)
    listed = [entry['path'] for entry in report['trace'] if entry['op'] == 'detail']
    opened = [entry['path'] for entry in report['trace'] if entry['op'] == 'open' and entry['ok']]
    places = {path: f'interface {place}' for place, path in enumerate(p for p in listed if p in opened)}
    hub_ports = {(entry['path'], entry['connectionIndex']) for entry in report['trace']
                 if entry['op'] == 'ioctl' and entry['code'] == CONNECTION_NAME}
    requests = []
    for entry in report['trace']:
        path = places.get(entry['path'], entry['path'])
        if entry['op'] == 'open' and entry['ok']:
            requests.append((path, None, None, True))
        elif entry['op'] == 'ioctl':
            if entry['code'] in DETAIL_CODES or entry.get('wValue') in DETAIL_DESCRIPTORS:
                continue
            if entry.get('wValue', 0) >> 8 == 3 and (entry['path'], entry.get('connectionIndex')) in hub_ports:
                continue
            requests.append((path, entry['code'], entry['size'], entry['ok']))
    return requests


def driver_requests(trace_file):
    """The same from the test USB driver's trace, and the count of closes."""
    requests, closes = [], 0
    with open(trace_file, encoding='latin-1') as f:
        for line in f:
            words = line.split()
            status = int(words[words.index('status') + 1], 16) if 'status' in words else 0
            label = ' '.join(words[1:3]) if words[1] == 'interface' else words[1]
            if words[0] == 'open' and status == 0:
                requests.append((label, None, None, True))
            elif words[0] == 'ioctl':
                requests.append((label, int(words[words.index('code') + 1], 16), int(words[words.index('size') + 1]),
                                 status == 0))
            elif words[0] == 'close':
                closes += 1
    return requests, closes


def tagged_tool(session, entry):
    """The demo tool, tagged so that it logs `entry` as its container entry."""
    with open(session.exe('demo-tool.exe'), 'rb') as f:
        return f.read() + b'ENTRY:' + entry.encode()


def drive(code):
    return machine(None, (TOOLS[code].vendor, TOOLS[code].product), None)


class LauncherDirectory:
    def __init__(self, session, path, exe_name='QuillmarkLauncher.exe'):
        self.session = session
        self.path = path
        os.makedirs(path, exist_ok=True)
        self.exe = os.path.join(path, exe_name)
        shutil.copy(session.shipped('QuillmarkLauncher.exe'), self.exe)

    def file(self, name):
        return os.path.join(self.path, name)

    def describe_machine(self, description, trace=False):
        """The machine the next launcher runs on."""
        self.session.use_machine(description, trace)

    def pack_container(self, work, payloads=None):
        """QM_File.ini with every tool's entry, built by qmtool pack; by
        default each entry is the demo tool tagged with its entry name,
        `payloads` ({code: bytes}) puts other bytes in its place."""
        args = [QMTOOL, 'pack', self.file('QM_File.ini')]
        for code, tool in sorted(TOOLS.items()):
            source = os.path.join(work, tool.entry + '.payload')
            with open(source, 'wb') as f:
                f.write((payloads or {}).get(code) or tagged_tool(self.session, tool.entry))
            args += ['--entry', f'{tool.entry}={source}', '--title', tool.title]
        subprocess.run(args, check=True, capture_output=True)

    def behave(self, overrides=None):
        """demo-tools.txt: the default behaviour of every tool, with overrides
        by tool code ({code: {key: value}}; a value None removes the key)."""
        lines = []
        for code, tool in sorted(TOOLS.items()):
            merged = behaviour(tool)
            merged.update((overrides or {}).get(code, {}))
            merged = {k: v for k, v in merged.items() if v is not None}
            lines.append('\t'.join([tool.written] + [f'{k}={v}' for k, v in merged.items()]))
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
