"""usbscan over the simulated stack: output, JSON, trace, errors."""
import json
import os
import subprocess
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
USBSCAN = os.path.join(ROOT, 'build', 'native', 'usbscan')
REALISTIC = os.path.join(ROOT, 'tests', 'data', 'usb', 'realistic.json')


def usbscan(*args):
    return subprocess.run([USBSCAN, *args], capture_output=True)


class UsbScan(unittest.TestCase):
    def test_tree_names_the_tool_code(self):
        out = usbscan('--sim', REALISTIC).stdout.decode()
        self.assertIn('0-2-3  090c:1000  "Generic" "USB Flash Disk" "0123456789AB"  tool 4000', out)
        self.assertIn('tool none', out)
        self.assertIn('14 ports; scan result 0', out)
        # A built-in camera of a listed vendor is passed over, and its line says why.
        notebook = os.path.join(ROOT, 'tests', 'data', 'usb', 'hp-g62-notebook.json')
        self.assertIn('1-1-5  090c:37bc  "" "HP Webcam-101" ""  tool none (4000 passed over: camera or composite '
                      '(0xEF), no flash drive)', usbscan('--sim', notebook).stdout.decode())
        devices = {d['portPath']: d for d in json.loads(usbscan('--sim', notebook, '--json').stdout)['devices']}
        self.assertEqual([devices['1-1-5'][k] for k in ('deviceClass', 'deviceSubClass', 'deviceProtocol')], [0xEF, 2, 1])
        # Every controller reached, walked or not, and the same in JSON.
        failing = json.dumps({'controllers': [{'number': 3, 'driverKeyError': 1167}, {'rootHub': {'ports': [{}]}}]})
        with tempfile.NamedTemporaryFile('w', suffix='.json', delete=False) as f:
            f.write(failing)
        try:
            out = usbscan('--sim', f.name).stdout.decode().splitlines()
            data = json.loads(usbscan('--sim', f.name, '--json').stdout)
        finally:
            os.unlink(f.name)
        self.assertEqual(out[:4], ['controller \\\\.\\HCD3  failed, error 1167',
                                   'controller \\\\?\\hc0#{3abf6f2d-71c4-462a-8a92-1e6861e6af27}  failed, error 1167',
                                   'controller \\\\?\\hc1#{3abf6f2d-71c4-462a-8a92-1e6861e6af27}  walked as 10',
                                   '\\\\?\\hc1#{3abf6f2d-71c4-462a-8a92-1e6861e6af27}  root hub USB#ROOT_HUB20#4&11#{f18a0e88-c30c-11d0-8815-00a0c906bed8}'])
        self.assertEqual(out[-1], '1 ports; scan result 1167')
        self.assertEqual([(c['byInterface'], c['outcome'], c['error'], c['number']) for c in data['controllers']],
                         [(False, 'failed', 1167, None), (True, 'failed', 1167, None), (True, 'walked', 0, 10)])

    def test_each_device_in_a_technicians_words(self):
        out = usbscan('--sim', REALISTIC).stdout.decode()
        self.assertIn('0-2-3  090c:1000  "Generic" "USB Flash Disk" "0123456789AB"  tool 4000\n'
                      '          high speed, 480 Mb/s; USB 2.00; device version 1.00; 200 mA, bus-powered\n'
                      '          interface 0: mass storage (SCSI, bulk-only)\n', out)
        self.assertIn('0-1  1234:5678  "Example Peripherals" "Optical Mouse" ""  tool none\n'
                      '        low speed, 1.5 Mb/s; USB 1.10; device version 1.00; 100 mA, bus-powered\n'
                      '        interface 0: human interface (mouse)\n', out)
        drive = {'idVendor': 0x090C, 'idProduct': 0x1000}
        ports = [{'device': dict(drive, speed='full', deviceQualifier=True)},   # a high-speed drive at full speed
                 {'device': dict(drive, speed='high', bcdUSB=0x0300)},          # a USB 3 drive on a USB 2 port
                 {'device': dict(drive, speed='full', bcdUSB=0x0110)},          # a full-speed drive: no note
                 {'device': dict(drive, descriptorError=31)},                   # stalls its configuration
                 {'hub': {'name': 'OLD', 'legacy': True, 'ports': [            # Windows 2000's hubs
                     {'device': dict(drive, speed='high')}, {'device': dict(drive, speed='low')}]}}]
        with tempfile.NamedTemporaryFile('w', suffix='.json', delete=False) as f:
            json.dump({'controllers': [{'number': 0, 'rootHub': {'ports': ports}}]}, f)
        try:
            out = usbscan('--sim', f.name).stdout.decode()
            data = json.loads(usbscan('--sim', f.name, '--json').stdout)
        finally:
            os.unlink(f.name)
        self.assertIn('note: runs at full speed although it is a high-speed device: try another port or cable', out)
        self.assertIn('note: runs at high speed although it is a SuperSpeed device: try a USB 3 port or cable', out)
        self.assertEqual(out.count('note:'), 2)
        self.assertIn('        high speed, 480 Mb/s; USB 2.00; device version 1.00; power unknown\n        interfaces unknown\n', out)
        self.assertIn('full or high speed (this Windows tells only low speed apart)', out)
        records = {d['portPath']: d for d in data['devices']}
        self.assertEqual([records[p]['speed'] for p in ('0-1', '0-2', '0-3', '0-4', '0-5-1', '0-5-2')],
                         ['full', 'high', 'full', 'high', 'full or high', 'low'])
        self.assertEqual((records['0-2']['usbVersion'], records['0-1']['maxPowerMilliamps'], records['0-1']['selfPowered'],
                          records['0-1']['interfaces']),
                         ('3.00', 200, False, [{'number': 0, 'alternateSetting': 0, 'class': 8, 'subClass': 6,
                                                'protocol': 80}]))
        self.assertEqual((records['0-4']['interfaces'], records['0-4']['maxPowerMilliamps'], records['0-3']['speedNote']),
                         (None, None, None))
        self.assertEqual([records['0-5'][k] for k in ('speed', 'usbVersion', 'interfaces', 'speedNote')],
                         [None] * 4)  # a hub's port: its details are the hub's own
        self.assertEqual(records['0-5']['hub']['speed'], 'high')
        self.assertEqual(data['toolCode'], 4000)
        # The user text's listing of a real notebook is usbscan's own.
        with open(os.path.join(ROOT, 'docs', 'USERS.txt')) as f:
            text = f.read()
        shown = text[text.index('expansion card in place reads:'):text.index('21 ports; scan result 0')].splitlines()[1:]
        notebook = os.path.join(ROOT, 'tests', 'data', 'usb', 'framework-laptop-notebook.json')
        lines = iter(usbscan('--sim', notebook).stdout.decode().splitlines())
        for line in shown:
            if line.strip() and line.strip() != '...':
                self.assertIn(line[2:], lines)  # in the listing's order
        # So is its listing of a hub and a drive that does not answer.
        shown = text[text.index('drive that does not answer reads:'):text.index('A device that reports the ids')]
        states = usbscan('--sim', os.path.join(ROOT, 'tests', 'data', 'usb', 'port-states.json')).stdout.decode()
        self.assertIn('\n'.join(line[2:] for line in shown.splitlines()[2:-1]), states)

    def test_every_port_says_what_it_holds(self):
        states = os.path.join(ROOT, 'tests', 'data', 'usb', 'port-states.json')
        out = usbscan('--sim', states).stdout.decode()
        records = {d['portPath']: d for d in json.loads(usbscan('--sim', states, '--json').stdout)['devices']}
        for line in ('0-1  (empty)', '0-2  hub 05e3:0610  "" "USB2.0 Hub" ""  4 ports',
                     '  high speed, 480 Mb/s; USB 2.00; device version 92.23; 0 mA, self-powered',
                     '0-3  0000:0000  "" "Broken firmware" ""  tool none',
                     '0-4  a device that does not answer (Windows: device descriptor request failed): try another '
                     'port, another cable and no hub between', '0-6  overcurrent: the device draws more current than '
                     'the port gives; remove it', '0-13  connection status 11, which Windows does not name',
                     "note: not configured by Windows: its driver did not start (Device Manager's code 10 or 43)",
                     '0-15  090c:2000', '  SuperSpeed, 5 Gb/s; USB 3.00; device version 1.00; 896 mA, bus-powered',
                     'note: runs at 5 Gb/s although it is a SuperSpeed+ device',
                     '  high speed, 480 Mb/s; USB 2.10; device version 1.00; 200 mA, bus-powered\n'
                     '        interface 0: mass storage (SCSI, bulk-only)\n'
                     '        note: runs at high speed although it is a SuperSpeed device',
                     '0-18  hub 0000:0000  "" "" ""  not walked: it could not be opened',
                     # Windows 7's drivers tell SuperSpeed in _EX; a USB 3 drive they report at
                     # high speed may be on a USB 2 port, or on a driver that never tells.
                     '1-1  090c:2000', '  SuperSpeed, 5 Gb/s; USB 3.00; device version 1.00; 896 mA, bus-powered',
                     '  high speed or SuperSpeed (this Windows does not tell them apart); USB 3.00; device version '
                     '1.00; 200 mA at high speed or 800 mA at SuperSpeed, bus-powered'):
            self.assertIn(line, out)
        self.assertEqual([records[f'0-{p}']['connectionStatus'] for p in range(1, 14)],
                         ['NoDeviceConnected', 'DeviceConnected', 'DeviceConnected', 'DeviceFailedEnumeration',
                          'DeviceGeneralFailure', 'DeviceCausedOvercurrent', 'DeviceNotEnoughPower',
                          'DeviceNotEnoughBandwidth', 'DeviceHubNestedTooDeeply', 'DeviceInLegacyHub',
                          'DeviceEnumerating', 'DeviceReset', '11'])
        hub = records['0-2']['hub']
        self.assertEqual((hub['vendorId'], hub['productId'], hub['product'], hub['deviceVersion'], hub['portCount']),
                         (0x05E3, 0x0610, 'USB2.0 Hub', '92.23', 4))
        self.assertEqual((records['0-2-2']['deviceVersion'], records['0-14']['configured'], records['0-3']['configured'],
                          records['0-1']['configured'], records['0-18']['hub']['portCount']), ('11.00', False, True, None, None))
        self.assertEqual([(records[p]['speed'], records[p]['maxPowerMilliamps']) for p in ('0-15', '0-17', '1-1', '1-2')],
                         [('super', 896), ('high', 200), ('super', 896), ('high or super', None)])

    def test_json_and_trace(self):
        data = json.loads(usbscan('--sim', REALISTIC, '--json', '--trace').stdout)
        self.assertEqual((data['result'], data['toolCode']), (0, 4000))
        self.assertEqual(data['deviceCount'], 14)
        self.assertEqual([d['portPath'] for d in data['devices']][:3], ['0-1', '0-2', '0-2-1'])
        drive = data['devices'][4]
        self.assertEqual((drive['vendorId'], drive['productId'], drive['serialNumber']), (0x090C, 0x1000, '0123456789AB'))
        ops = [t['op'] for t in data['trace']]
        self.assertEqual(ops.count('open') - sum(1 for t in data['trace'] if t['op'] == 'open' and not t['ok']),
                         ops.count('close'))
        descriptor = [t for t in data['trace'] if 'wValue' in t][0]
        self.assertEqual((descriptor['wValue'], descriptor['wIndex'], descriptor['wLength'], descriptor['size']),
                         (0x0300, 0, 4, 2060))
        self.assertNotIn('trace', json.loads(usbscan('--sim', REALISTIC, '--json').stdout))

    def test_tool_table_is_the_one_the_user_text_shows(self):
        table = usbscan('--tools').stdout.decode()
        with open(os.path.join(ROOT, 'docs', 'USERS.txt')) as f:
            self.assertIn(table, f.read())
        tools = json.loads(usbscan('--tools', '--json').stdout)['tools']
        self.assertEqual([t['toolCode'] for t in tools], [1000, 2000, 3000, 3001, 4000])

    def test_errors(self):
        for text, message in (
                ('{"controllers": [{"number": 0, "rootHub": {"ports": [{"device": {"idVendor": -1}}]}}]}',
                 b'controllers[0].rootHub.ports[0].device.idVendor'),
                ('{"controllers": [{"number": 2e2136}]}', b'not valid JSON'),
                ('{"controllers": [{"number": 0}, {"number": 1, "rootHub": {"ports": [{"device": '
                 '{"idVendor": 1, "idVendor": 2}}]}}]}',
                 b'controllers[1].rootHub.ports[0].device: the key "idVendor" is given twice'),
                ('{"controllers": [{"number": 0, "rootHub": {"ports": [{"device": {"strings": {"01": "x"}}}]}}]}',
                 b'key "01" must be a string index from 1 to 255'),
                ('{"controllers": [{"interface": false}]}', b'controllers[0]: has neither')):
            with tempfile.NamedTemporaryFile('w', suffix='.json', delete=False) as f:
                f.write(text)
            try:
                bad = usbscan('--sim', f.name)
                self.assertEqual(bad.returncode, 1)
                self.assertIn(message, bad.stderr)
            finally:
                os.unlink(f.name)
        self.assertEqual(usbscan('--sim', '/nonexistent.json').returncode, 1)
        with tempfile.TemporaryDirectory() as folder:
            fifo = os.path.join(folder, 'fifo')
            os.mkfifo(fifo)
            waited = subprocess.run([USBSCAN, '--sim', fifo], capture_output=True, timeout=10)
            self.assertEqual((waited.returncode, waited.stderr), (1, f'usbscan: {fifo}: is not a regular file\n'.encode()))

    def test_descriptions_nested_deeper_than_the_walk_goes_are_refused(self):
        for depth, refused in ((16, False), (17, True), (20000, True)):
            # Written as text: too deep for the json module.
            hubs = ''.join(f'"ports": [{{"hub": {{"name": "HUB{level}", ' for level in range(depth))
            hubs += '"ports": []' + '}}]' * depth
            with tempfile.NamedTemporaryFile('w', suffix='.json', delete=False) as f:
                f.write('{"controllers": [{"number": 0, "rootHub": {' + hubs + '}}]}')
            try:
                result = usbscan('--sim', f.name)
                self.assertEqual(result.returncode, 1 if refused else 0, (depth, result.stderr[:300]))
                if refused:
                    self.assertIn(b'controllers[0].rootHub.ports[0].hub.ports[0].hub', result.stderr)
                    self.assertIn(b'hubs nested deeper than the walk goes (16)', result.stderr)
            finally:
                os.unlink(f.name)
        self.assertEqual(usbscan('--frob').returncode, 2)
        self.assertEqual(usbscan('--trace').returncode, 2)
        self.assertEqual(usbscan().returncode, 2)  # no USB stack here without --sim
        self.assertIn(b'usage: usbscan', usbscan('--help').stdout)


if __name__ == '__main__':
    unittest.main()
