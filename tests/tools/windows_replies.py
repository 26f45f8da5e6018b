"""Replies captured on real Windows (tests/data/usb/windows-replies), read
field by field, and held against the test stack's replies to the same
requests: usbsim-replies natively, usb-client.exe through the test driver.

Each capture names its source on its first line and, in its header, the
port of machines.json that replays it. Viewers print a reply's fields and
often its bytes; an excerpt may hold the head of a hex dump (compared as a
prefix) or its last lines (compared as a suffix)."""
import json
import os
import re
import subprocess

DIR = os.path.join(os.path.dirname(__file__), '..', 'data', 'usb', 'windows-replies')
MACHINES = os.path.join(DIR, 'machines.json')

# Fields a capture shows that the description format cannot express, and why.
NOT_EXPRESSIBLE = {}

SPEED_NAMES = {'low': 0, 'lowspeed': 0, 'low-speed': 0, 'full': 1, 'fullspeed': 1, 'full-speed': 1, 'high': 2,
               'highspeed': 2, 'high-speed': 2}
HEX_LINE = re.compile(r'^\s*((?:[0-9A-Fa-f]{2} ){0,15}[0-9A-Fa-f]{2})(?:\s{3,}.*)?$')
FIELD = re.compile(r'^\s*([A-Za-z][\w .()\[\]/-]*?)\s*:\s*(.*?)\s*$')


def captures():
    """(name, source address, header dict, body) of every capture."""
    found = []
    for file in sorted(os.listdir(DIR)):
        if file.endswith('.txt'):
            with open(os.path.join(DIR, file), encoding='utf-8') as f:
                head, body = f.read().split('\n---\n', 1)
            lines = head.splitlines()
            header = dict(line.split(': ', 1) for line in lines[1:])
            found.append((file[:-4], lines[0], header, body))
    return found


def replayed_at(header):
    port, hub = re.fullmatch(r'port (\d+) of hub (\S+)', header['Replayed as']).groups()
    return hub, int(port)


def number(text):
    token = text.split()[0] if text.split() else ''
    return int(token, 16) if token.lower().startswith('0x') else int(token)


def yes(text):
    return text.split()[0].lower() in ('yes', '1')


def section_of(line, current):
    if 'Connection Information V2' in line:
        return 'v2'
    if 'Connection Information' in line or 'Device Information<===' in line:
        return 'connection'
    if "hex dump, its last lines" in line:
        return 'connection-tail'
    if 'Device Qualifier' in line:
        return 'qualifier'
    if 'Device Descriptor' in line:
        return 'device'
    if 'Other Speed Configuration' in line:
        return 'otherSpeed'
    if 'Configuration Descriptor' in line:
        return 'configuration'
    if 'Interface Descriptor' in line or 'Endpoint Descriptor' in line or line.startswith('[excerpt ends]'):
        return 'other'
    if re.match(r'^\s*=+ USB Port\d+ =+|^\[Port\d+\]', line):
        return 'port'
    if line.startswith('Root Hub:') or line.startswith('External Hub:'):
        return 'hub'
    return current


def read_capture(body):
    """The fields a capture shows: {'section.field': value}, hex as bytes
    under 'section.head' or 'section.tail'."""
    seen, section, hexkey = {}, 'port', None

    def put(key, value):
        seen.setdefault(key, value)

    for line in body.splitlines():
        new = section_of(line, section)
        if new != section:
            section, hexkey = new, None
            if section == 'connection-tail':
                hexkey = 'connection.tail'
                continue
        if section == 'hub' and line.startswith(('Root Hub:', 'External Hub:')):
            put('hub.name', line.split(':', 1)[1].strip())
        if hexkey:
            digits = HEX_LINE.match(line) or re.match(r'^((?:0x[0-9A-Fa-f]{2} ?)+)\s*$', line)
            if digits:
                seen[hexkey] = seen.get(hexkey, b'') + bytes.fromhex(digits.group(1).replace('0x', ''))
                continue
            hexkey = None
        value_first = re.match(r'^0x([0-9A-Fa-f]+)\t(\w+)', line)
        if value_first and section == 'device' and value_first.group(2).lower() in DEVICE_FIELDS:
            put('device.' + value_first.group(2).lower(), int(value_first.group(1), 16))
        if line.strip() == 'Hex dump:' and section in ('device', 'qualifier', 'configuration'):
            hexkey = section + '.head'
            continue
        read_json_line(line, put)
        field = FIELD.match(line)
        if not field:
            read_flag_line(line, put)
            continue
        name, value = field.group(1).strip().lower(), field.group(2)
        if name == 'data (hexdump)':
            hexkey = section + '.head'
            seen[hexkey] = seen.get(hexkey, b'') + bytes.fromhex(HEX_LINE.match(value).group(1))
            continue
        read_field(section, name, value, put)
    return seen


def read_flag_line(line, put):
    # The dumper's line for each protocol the port carries.
    match = re.match(r'Device supports USB (1\.1|2\.0|3\.0)\b', line.strip())
    if match:
        put('v2.protocols-' + match.group(1), True)


def read_json_line(line, put):
    for kind, index in re.findall(r'"(ConnectionInfo(?:V2)?)": \{"ConnectionIndex": (\d+)', line):
        put(('v2' if kind.endswith('V2') else 'connection') + '.index', int(index))
    status = re.search(r'"ConnectionStatus": "(\w+)"', line)
    if status:
        put('connection.status', {'NoDeviceConnected': 0, 'DeviceConnected': 1}[status.group(1)])
    for version, flag in re.findall(r'"Usb(110|200|300)": (\d)', line):
        put('v2.protocols-' + {'110': '1.1', '200': '2.0', '300': '3.0'}[version], flag == '1')
    for key, value in re.findall(r'"(CompanionPortNumber|PortIsUserConnectable|PortConnectorIsTypeC|'
                                 r'PortHasMultipleCompanions)": (\d+)', line):
        put(JSON_CONNECTOR[key], int(value) if key == 'CompanionPortNumber' else value == '1')
    props_index = re.search(r'"CompanionPortNumber": \d+, "ConnectionIndex": (\d+)', line)
    if props_index:
        put('connector.index', int(props_index.group(1)))
    companion = re.search(r'HubSymbolicLinkName": "([^"]*)"', line)
    if companion:
        put('connector.companionHubName', companion.group(1))
    union = re.search(r'"HubType": \d+, "UsbHubDescriptor": \{"bNumberOfPorts": (\d+)\}', line)
    if union:
        put('hub.informationDescriptorPorts', int(union.group(1)))
    hub_ports = re.search(r'"HighestPortNumber": (\d+), "HubType": (\d+)', line)
    if hub_ports:
        put('hub.highestPort', int(hub_ports.group(1)))
        put('hub.type', int(hub_ports.group(2)))


JSON_CONNECTOR = {'CompanionPortNumber': 'connector.companionPort', 'PortIsUserConnectable': 'connector.userConnectable',
                  'PortConnectorIsTypeC': 'connector.typeC', 'PortHasMultipleCompanions': 'connector.multipleCompanions'}

# Each viewer's label of a field, within the section it is printed in.
LABELS = {
    ('connection', 'connection index'): 'connection.index',
    ('connection', 'connection status'): 'connection.status',
    ('connection', 'current config value'): 'connection.configuration',
    ('connection', 'current configuration value'): 'connection.configuration',
    ('connection', 'device address'): 'connection.address',
    ('connection', 'is hub'): 'connection.hub',
    ('connection', 'device bus speed'): 'connection.speed',
    ('connection', 'device current bus speed'): 'connection.speed',
    ('connection', 'number of open pipes'): 'connection.pipes',
    ('connection', 'open pipes'): 'connection.pipes',
    ('v2', 'connection index'): 'v2.index',
    ('v2', 'length'): 'v2.length',
    ('v2', 'supportedusbprotocols'): 'v2.protocols',
    ('v2', 'flags'): 'v2.flags',
    ('port', 'properties'): 'connector.properties',
    ('port', 'is port user connectable'): 'connector.userConnectable',
    ('port', 'isuserconnectable'): 'connector.userConnectable',
    ('port', 'is port debug capable'): 'connector.debugCapable',
    ('port', 'portisdebugcapable'): 'connector.debugCapable',
    ('port', 'porthasmulticompanions'): 'connector.multipleCompanions',
    ('port', 'portconnectoristypec'): 'connector.typeC',
    ('port', 'connectionindex'): 'connector.index',
    ('port', 'companionindex'): 'connector.companionIndex',
    ('port', 'companionportnumber'): 'connector.companionPort',
    ('port', 'companion port number'): 'connector.companionPort',
    ('port', 'companionhubsymlnk'): 'connector.companionHubName',
    ('port', 'companion hub symbolic link name'): 'connector.companionHubName',
    ('hub', 'number of ports'): 'hub.ports',
    ('hub', 'high speed capable'): 'hub.highSpeedCapable',
    ('hub', 'high speed'): 'hub.highSpeed',
    ('hub', 'hub is root'): 'hub.root',
    ('hub', 'hub is bus powered'): 'hub.busPowered',
    ('hub', 'multiple transaction translations capable'): 'hub.multiTtCapable',
    ('hub', 'power switching'): 'hub.powerSwitching',
    ('hub', 'over-current protection'): 'hub.overcurrent',
}
DEVICE_FIELDS = ('bcdusb', 'bdeviceclass', 'bmaxpacketsize0', 'idvendor', 'idproduct', 'bcddevice', 'imanufacturer')


def read_field(section, name, value, put):
    if section == 'port' and name.startswith('usb ') and name[4:] in ('1.1', '2.0', '3.0'):
        put('v2.protocols-' + name[4:], yes(value))
        return
    if section == 'connection' and name == 'current config value' and '->' in value:
        # USBView reads SuperSpeed from _EX_V2's flags, as _EX says at most high speed.
        speed = value.split('Speed:')[1].split()[0].lower()
        if speed.startswith('super'):
            put('v2.operatingAtSuperSpeed', True)
        else:
            put('connection.speed', SPEED_NAMES[speed])
    if name == 'connectionstatus' and value in ('NoDeviceConnected', 'DeviceConnected'):
        put('connection.status', 0 if value == 'NoDeviceConnected' else 1)
    key = LABELS.get((section, name))
    if key is None and section in ('device', 'configuration') and name in DEVICE_FIELDS:
        key = section + '.' + name
    if key is None or not value:
        if key == 'connector.companionHubName':
            put(key, '')
        return
    if key.endswith(('Hub', 'Capable', 'Speed', 'root', 'busPowered', 'userConnectable', 'Companions', 'typeC')) and \
            value.split()[0].lower() in ('yes', 'no'):
        put(key, yes(value))
    elif key == 'connection.speed' and not value.lower().startswith('0x'):
        put(key, SPEED_NAMES[value.split()[0].lower()])
    elif key == 'connector.companionHubName':
        put(key, value)
    elif key in ('hub.powerSwitching', 'hub.overcurrent'):
        put(key, value.split()[0].lower())
    else:
        put(key, number(value))


# --- the test stack's side ---

def decode_port(reply):
    """The same fields from the raw replies to one port."""
    seen = {}
    connector = reply.get('connector')
    if isinstance(connector, str):
        c = bytes.fromhex(connector)
        props = int.from_bytes(c[8:12], 'little')
        seen.update({'connector.index': int.from_bytes(c[0:4], 'little'), 'connector.properties': props,
                     'connector.userConnectable': bool(props & 1), 'connector.debugCapable': bool(props & 2),
                     'connector.multipleCompanions': bool(props & 4), 'connector.typeC': bool(props & 8),
                     'connector.companionIndex': int.from_bytes(c[12:14], 'little'),
                     'connector.companionPort': int.from_bytes(c[14:16], 'little'),
                     'connector.companionHubName': c[16:].decode('utf-16-le').split('\0')[0]})
    v2 = reply.get('v2')
    if isinstance(v2, str):
        b = bytes.fromhex(v2)
        protocols = int.from_bytes(b[8:12], 'little')
        seen.update({'v2.index': int.from_bytes(b[0:4], 'little'), 'v2.length': int.from_bytes(b[4:8], 'little'),
                     'v2.protocols': protocols, 'v2.flags': int.from_bytes(b[12:16], 'little'), 'v2.bytes': b,
                     'v2.operatingAtSuperSpeed': bool(b[12] & 1)})
        for bit, version in ((1, '1.1'), (2, '2.0'), (4, '3.0')):
            seen['v2.protocols-' + version] = bool(protocols & bit)
    connection = reply.get('connection')
    if isinstance(connection, str):
        b = bytes.fromhex(connection)
        d = b[4:22]
        seen.update({'connection.index': int.from_bytes(b[0:4], 'little'), 'connection.configuration': b[22],
                     'connection.speed': b[23], 'connection.hub': b[24],
                     'connection.address': int.from_bytes(b[25:27], 'little'),
                     'connection.pipes': int.from_bytes(b[27:31], 'little'),
                     'connection.status': int.from_bytes(b[31:35], 'little'), 'connection.bytes': b,
                     'device.bytes': d, 'device.bcdusb': d[2] | d[3] << 8, 'device.bdeviceclass': d[4],
                     'device.bmaxpacketsize0': d[7], 'device.idvendor': d[8] | d[9] << 8,
                     'device.idproduct': d[10] | d[11] << 8, 'device.bcddevice': d[12] | d[13] << 8,
                     'device.imanufacturer': d[14]})
    for kind in ('configuration', 'qualifier', 'otherSpeed'):
        if isinstance(reply.get(kind), str):
            seen[kind + '.bytes'] = bytes.fromhex(reply[kind])
    return seen


def decode_hub(reply):
    seen = {}
    if isinstance(reply.get('node'), str):
        b = bytes.fromhex(reply['node'])
        characteristics = b[7] | b[8] << 8
        seen.update({'hub.ports': b[6], 'hub.busPowered': bool(b[75]),
                     'hub.powerSwitching': 'ganged' if characteristics & 3 == 0 else 'individual',
                     'hub.overcurrent': 'global' if characteristics & 0x18 == 0 else 'individual'})
    if isinstance(reply.get('information'), str):
        b = bytes.fromhex(reply['information'])
        seen.update({'hub.type': int.from_bytes(b[0:4], 'little'), 'hub.highestPort': b[4] | b[5] << 8})
        if len(b) > 8:
            seen['hub.informationDescriptorPorts'] = b[8]
    if isinstance(reply.get('capabilities'), str):
        flags = int.from_bytes(bytes.fromhex(reply['capabilities']), 'little')
        seen.update({'hub.highSpeedCapable': bool(flags & 1), 'hub.highSpeed': bool(flags & 2),
                     'hub.multiTtCapable': bool(flags & 4), 'hub.root': bool(flags & 16)})
    return seen


def client_replies(reading):
    """usb-client.exe's reading flattened to usbsim-replies' records."""
    records = []

    def hub(node):
        record = {'hub': node['name']}
        information, capabilities = node.get('information'), node.get('capabilities')
        if isinstance(node.get('node'), dict):
            n = node['node']
            body = bytes.fromhex(n['descriptor']).ljust(71, b'\0')
            record['node'] = (bytes(4) + body + bytes([n['busPowered']])).hex()
        if isinstance(information, dict) and 'raw' in information:
            record['information'] = information['raw']
        if isinstance(capabilities, int):
            record['capabilities'] = capabilities.to_bytes(4, 'little').hex()
        records.append(record)
        for port in node.get('ports', []):
            connection = port.get('connection') or {}
            records.append({'hub': node['name'], 'port': port['port'],
                            'connector': (port.get('connector') or {}).get('raw'), 'v2': port.get('rawV2'),
                            'connection': connection.get('raw'), 'configuration': port.get('configuration'),
                            'qualifier': port.get('qualifier'), 'otherSpeed': port.get('otherSpeed')})
            if isinstance(connection, dict) and 'hub' in port:
                hub(port['hub'])

    for controller in reading['controllers']:
        if isinstance(controller.get('rootHub'), dict):
            hub(controller['rootHub'])
    return records


def compare(records):
    """(fields equal, fields not expressible, differences) over every capture."""
    by_place = {(r['hub'], r.get('port')): r for r in records}
    equal, unexpressed, differences = 0, [], []
    for name, _source, header, body in captures():
        hub, port = replayed_at(header)
        seen = read_capture(body)
        simulated = decode_port(by_place.get((hub, port), {}))
        hub_name = seen.get('hub.name', hub)
        simulated.update(decode_hub(by_place.get((hub_name, None), {})))
        for key, value in sorted(seen.items()):
            if key == 'hub.name':
                continue
            section, field = key.split('.', 1)
            if field in ('head', 'tail'):
                mine = simulated.get(section + '.bytes', b'')
                same = mine.startswith(value) if field == 'head' else mine.endswith(value)
                wanted = mine[:len(value)] if field == 'head' else mine[-len(value):]
            elif key == 'connector.companionHubName':
                mine = simulated.get(key)
                same = isinstance(mine, str) and mine.startswith(value)
                wanted = mine
            else:
                wanted = simulated.get(key)
                same = wanted == value
            if same:
                equal += 1
            elif (name, key) in NOT_EXPRESSIBLE:
                unexpressed.append(f'{name}: {key}')
            else:
                differences.append(f'{name}: {key} is {value!r} on Windows, {wanted!r} here')
    return equal, unexpressed, differences


def native_records(usbsim_replies):
    return json.loads(subprocess.run([usbsim_replies, MACHINES], capture_output=True, check=True).stdout)
