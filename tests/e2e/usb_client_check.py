"""What the documented client (usb-client.exe) read through the test USB
driver, held against the description the driver served and against what
usbscan found on the same machine. differences() lists every disagreement."""
import re

SPEEDS = {'low': 0, 'full': 1, 'high': 2, 'super': 3, 'super+': 3}
DEFAULT_KEY = re.compile(r'^\{36FC9E60-C465-11CF-8056-444553540000\}\\\d{4,}$')


def default_names(index, controller):
    tag = str(controller['number'] if 'number' in controller else 10 + index)
    return ('{36FC9E60-C465-11CF-8056-444553540000}\\' + tag.zfill(4),
            'USB#ROOT_HUB20#4&' + tag + '#{f18a0e88-c30c-11d0-8815-00a0c906bed8}')


def failed(reading, key, error):
    return isinstance(reading.get(key), dict) and reading[key].get('error') == error


class Check:
    def __init__(self):
        self.problems = []
        self.addresses = set()
        self.windows7 = False  # the hub answers as Windows 7's: no _EX_V2, so no SuperSpeed flags

    def expect(self, where, what, seen, wanted):
        if seen != wanted:
            self.problems.append(f'{where}: {what} read {seen!r}, described {wanted!r}')

    def device(self, where, port, read, device):
        connection = read['connection']
        descriptor = bytes.fromhex(connection['deviceDescriptor'])
        ids = (descriptor[8] | descriptor[9] << 8, descriptor[10] | descriptor[11] << 8, descriptor[4])
        self.expect(where, 'ids and class', ids, (device.get('idVendor', 0), device.get('idProduct', 0),
                                                  device.get('deviceClass', 9 if 'hub' in port else 0)))
        if port.get('status', 1) != 1:
            return
        speed = device.get('speed', 'high')
        if connection.get('extended'):
            # _EX says at most high speed, as Windows 8 and later answer;
            # Windows 7's USB 3 drivers said SuperSpeed there.
            self.expect(where, 'speed', connection.get('speed'), min(SPEEDS[speed], 3 if self.windows7 else 2))
            self.expect(where, 'speed as viewed', connection.get('speedAsViewed'), SPEEDS[speed])
        else:
            self.expect(where, 'low speed', connection.get('lowSpeed'), 1 if speed == 'low' else 0)
        address = connection['address']
        self.expect(where, 'address', address, device.get('address', address))
        if not 1 <= address <= 127 or address in self.addresses:
            self.problems.append(f'{where}: address {address} is not a distinct one of 1 to 127')
        self.addresses.add(address)
        self.expect(where, 'configuration value', connection['configurationValue'],
                    device.get('configuration', {}).get('bConfigurationValue', 1) if device.get('configured', True)
                    else 0)
        key = read.get('driverKey')
        if 'driverKeyName' in device:
            self.expect(where, 'driver key', key, device['driverKeyName'])
        elif not isinstance(key, str) or not DEFAULT_KEY.match(key):
            self.problems.append(f'{where}: driver key {key!r} is not in Windows\' form')
        if 'hub' in port:
            return
        if 'descriptorError' in device:
            self.expect(where, 'configuration', read.get('configuration'), None)
            return
        configuration = bytes.fromhex(read.get('configuration') or '')
        described = device.get('configuration')
        if described is not None and len(configuration) >= 9:
            unit = 8 if SPEEDS[device.get('speed', 'high')] == 3 else 2
            self.expect(where, 'configuration value, attributes and power',
                        (configuration[5], configuration[7], configuration[8] * unit),
                        (described.get('bConfigurationValue', 1), described.get('bmAttributes', 0x80),
                         described.get('MaxPower', 100)))
        interfaces = (described or {}).get('interfaces')
        if interfaces is not None:
            c = configuration
            seen = [(c[at + 2], c[at + 3], c[at + 5], c[at + 6], c[at + 7]) for at in descriptor_offsets(c, 4)]
            self.expect(where, 'interfaces', seen, [(i.get('number', 0), i.get('alternateSetting', 0),
                                                     i.get('class', 0), i.get('subClass', 0), i.get('protocol', 0))
                                                    for i in interfaces])
        strings = read.get('strings', {})
        for language in device.get('languages', [1033]):
            for index in (descriptor[14], descriptor[15], descriptor[16]):
                text = device.get('strings', {}).get(str(index))
                if index and isinstance(text, str):
                    self.expect(where, f'string {index} in {language}',
                                strings.get(str(language), {}).get(str(index)), text[:126])

    def hub(self, where, read, hub, root):
        if 'openError' in hub or 'nodeInfoError' in hub:
            return  # what Wine makes of these is pinned by the launcher's own tests
        ports = hub.get('numberOfPorts', len(hub.get('ports', [])))
        self.expect(where, 'ports', read.get('node', {}).get('ports'), ports)
        outer, self.windows7 = self.windows7, hub.get('windows7', False)
        if not self.windows7:  # Windows 7 knows no hub information or connector properties
            self.expect(where, 'hub type', read.get('information', {}).get('type') == 1, root)
        described = hub.get('ports', [])
        for number, port_read in enumerate(read.get('ports', []), start=1):
            port = described[number - 1] if number <= len(described) else {}
            at = f'{where} port {number}'
            connector = port.get('connector', {})
            properties = port_read.get('connector', {}).get('properties', 0)
            if not self.windows7:
                self.expect(at, 'user-connectable', bool(properties & 1), connector.get('userConnectable', True))
            if 'connectionInfoError' in port:
                if not failed(port_read, 'connection', port['connectionInfoError']):
                    self.problems.append(f'{at}: connection read {port_read.get("connection")!r}')
                continue
            connection = port_read.get('connection', {})
            attached = 'device' in port or 'hub' in port
            self.expect(at, 'status', connection.get('status'), port.get('status', 1 if attached else 0))
            self.expect(at, 'hub', connection.get('isHub'), 1 if 'hub' in port else 0)
            if attached:
                self.device(at, port, port_read, port.get('device') or port['hub'].get('device', {}))
            if 'hub' in port and port.get('status', 1) == 1 and 'nameError' not in port['hub']:
                self.expect(at, 'hub name', port_read.get('hub', {}).get('name'), port['hub']['name'])
                self.hub(at, port_read.get('hub', {}), port['hub'], False)
        self.windows7 = outer


def descriptor_offsets(data, kind):
    at = 0
    while at + 2 <= len(data) and data[at] >= 2:
        if data[at + 1] == kind:
            yield at
        at += data[at]


def differences(description, client, scan):
    """Every disagreement of the client's reading with the description and
    with usbscan's --json report of the same machine."""
    check = Check()
    listed = [(i, c) for i, c in enumerate(description['controllers'])
              if c.get('interface', True) and 'interfaceOpenError' not in c]
    read = client['controllers']
    check.expect('controllers', 'count', len(read), len(listed))
    for (index, controller), reading in zip(listed, read):
        where = f'controllers[{index}]'
        check.addresses = set()
        key, root = default_names(index, controller)
        if 'driverKeyError' in controller:
            check.expect(where, 'driver key', failed(reading, 'driverKey', controller['driverKeyError']), True)
        else:
            check.expect(where, 'driver key', reading.get('driverKey'), controller.get('driverKeyName', key))
        info = reading.get('info', {})
        hub = controller.get('rootHub', {})
        check.expect(where, 'controller', (info.get('pciVendorId'), info.get('flavor'), info.get('rootPorts')),
                     (controller.get('pciVendorId', 0x8086), controller.get('controllerFlavor', 1000),
                      hub.get('numberOfPorts', len(hub.get('ports', [])))))
        if 'rootHubNameError' in controller:
            continue
        check.expect(where, 'root hub name', reading.get('rootHubName'), controller.get('rootHubName', root))
        check.hub(where + '.rootHub', reading.get('rootHub', {}), hub, True)
    # usbscan's records, port by port, where the client reached them.
    ports = {}

    def collect(root_hub, path, hub_read):
        for port in hub_read.get('ports', []):
            here = f'{path}-{port["port"]}'
            ports[(root_hub, here)] = port
            collect(root_hub, here, port.get('hub', {}))

    for reading in read:
        if isinstance(reading.get('rootHubName'), str):
            collect(reading['rootHubName'], '', reading.get('rootHub', {}))
    for record in scan['devices']:
        port = ports.get((record['rootHubName'], '-' + record['portPath'].split('-', 1)[1]))
        if port is None or record['vendorId'] == 0:
            continue
        descriptor = bytes.fromhex(port['connection']['deviceDescriptor'])
        check.expect(record['portPath'], 'ids as usbscan read them', (record['vendorId'], record['productId']),
                     (descriptor[8] | descriptor[9] << 8, descriptor[10] | descriptor[11] << 8))
    return check.problems
