/* usb-client: reads the machine's USB tree the way Microsoft's
 * documentation tells a user-mode client to, and prints all of it as one
 * JSON document. A test component (never shipped): the test USB stack must
 * answer it as Windows does.
 *
 *  1. Host controllers come from the host-controller device interface
 *     (SetupDiGetClassDevs, SetupDiEnumDeviceInterfaces,
 *     SetupDiGetDeviceInterfaceDetail with the usual sizing call).
 *  2. Each controller: its driver key (IOCTL_GET_HCD_DRIVERKEY_NAME), its
 *     information and power map (IOCTL_USB_USER_REQUEST), its root hub's
 *     name (IOCTL_USB_GET_ROOT_HUB_NAME). Every name is read in two calls:
 *     first with the structure itself, to learn ActualLength.
 *  3. Each hub: IOCTL_USB_GET_NODE_INFORMATION, _HUB_INFORMATION_EX,
 *     _HUB_CAPABILITIES_EX; then each port: its connector
 *     (IOCTL_USB_GET_PORT_CONNECTOR_PROPERTIES), the connection in the
 *     newest form the stack answers (_EX_V2 for the protocols, then _EX,
 *     or the plain request as on Windows 2000), and for a device: its driver
 *     key, its configuration descriptor (the 9-byte header first, then
 *     wTotalLength bytes), the device qualifier, the other-speed
 *     configuration (in the same two calls) and the BOS where its
 *     bcdUSB says they exist, and its strings in every language string 0
 *     lists. A hub on a port is opened by its name and walked the same way.
 *
 * Every reply is checked against the bytes returned before it is read; the
 * connection, _EX_V2, connector and hub information replies are printed raw
 * as well ("raw", "rawV2"), for holding against replies captured on real
 * Windows. */
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0602
#undef NTDDI_VERSION
#define NTDDI_VERSION 0x06020000
#include <windows.h>
#include <winioctl.h>
#include <initguid.h>
#include <setupapi.h>
#include <usb.h>
#include <usbioctl.h>
#include <usbiodef.h>
#include <usbuser.h>

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* --- output: JSON, strings as \u escapes outside printable ASCII --- */

static int gFirst = 1; /* no comma before the next item */

static void Separate(void) {
  if (!gFirst) fputs(", ", stdout);
  gFirst = 0;
}
static void Key(const char* key) {
  Separate();
  printf("\"%s\": ", key);
}
static void Open(const char* key, char bracket) {
  if (key != NULL) Key(key); else Separate();
  putchar(bracket);
  gFirst = 1;
}
static void Close(char bracket) {
  putchar(bracket);
  gFirst = 0;
}
static void Number(const char* key, unsigned long value) {
  Key(key);
  printf("%lu", value);
}
static void Null(const char* key) {
  Key(key);
  fputs("null", stdout);
}
static void Text(const WCHAR* text, size_t units) {
  size_t i;
  putchar('"');
  for (i = 0; i < units && text[i] != 0; ++i) {
    if (text[i] >= 0x20 && text[i] < 0x7F && text[i] != '"' && text[i] != '\\') {
      putchar((char)text[i]);
    } else {
      printf("\\u%04x", (unsigned)text[i]);
    }
  }
  putchar('"');
}
static void TextItem(const char* key, const WCHAR* text, size_t units) {
  if (key != NULL) Key(key); else Separate();
  Text(text, units);
}
static void Hex(const char* key, const UCHAR* bytes, DWORD count) {
  DWORD i;
  Key(key);
  putchar('"');
  for (i = 0; i < count; ++i) printf("%02x", bytes[i]);
  putchar('"');
}
/* A failed request: its error code, under the request's key. */
static void Failure(const char* key) {
  Key(key);
  printf("{\"error\": %lu}", (unsigned long)GetLastError());
}

/* --- requests --- */

static BOOL Ask(HANDLE device, DWORD code, void* buffer, DWORD size, DWORD* returned) {
  *returned = 0;
  return DeviceIoControl(device, code, buffer, size, buffer, size, returned, NULL);
}

/* A name structure in two calls: first the structure alone (with `index`
 * as its ConnectionIndex when `indexed`), then the ActualLength it asked
 * for. Returns the second reply (the caller frees it), or NULL. */
static void* AskName(HANDLE device, DWORD code, BOOL indexed, ULONG index, DWORD structSize, DWORD lengthAt) {
  UCHAR first[32]; /* room for the largest structure asked this way */
  DWORD returned, actual;
  UCHAR* whole;
  if (structSize > sizeof(first)) return NULL;
  memset(first, 0, sizeof(first));
  if (indexed) memcpy(first, &index, sizeof(index));
  if (!Ask(device, code, first, structSize, &returned) || returned < lengthAt + sizeof(ULONG)) return NULL;
  memcpy(&actual, first + lengthAt, sizeof(actual));
  if (actual < structSize || actual > 65536) return NULL;
  whole = (UCHAR*)calloc(1, actual + sizeof(WCHAR));
  if (whole == NULL) return NULL;
  if (indexed) memcpy(whole, &index, sizeof(index));
  if (!Ask(device, code, whole, actual, &returned) || returned != actual) {
    free(whole);
    return NULL;
  }
  return whole;
}

static void PrintName(const char* key, HANDLE device, DWORD code, BOOL indexed, ULONG index, DWORD structSize,
                      DWORD lengthAt, DWORD textAt, WCHAR* copy, size_t copyUnits) {
  UCHAR* name = (UCHAR*)AskName(device, code, indexed, index, structSize, lengthAt);
  if (name == NULL) {
    Failure(key);
    return;
  }
  {
    ULONG actual;
    memcpy(&actual, name + lengthAt, sizeof(actual));
    TextItem(key, (const WCHAR*)(name + textAt), (actual - textAt) / sizeof(WCHAR));
    if (copy != NULL) {
      lstrcpynW(copy, (const WCHAR*)(name + textAt), (int)copyUnits);
    }
  }
  free(name);
}

static HANDLE OpenDevice(const WCHAR* path) {
  return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
}

/* --- one device behind a port --- */

/* A GET_DESCRIPTOR through the hub. Returns the data bytes received (the
 * reply checked against what was returned), or -1 when it fails. */
static int AskDescriptor(HANDLE hub, ULONG port, USHORT value, USHORT language, USHORT length, UCHAR* data) {
  UCHAR buffer[sizeof(USB_DESCRIPTOR_REQUEST) + 65535];
  USB_DESCRIPTOR_REQUEST* request = (USB_DESCRIPTOR_REQUEST*)buffer;
  DWORD returned;
  memset(buffer, 0, sizeof(USB_DESCRIPTOR_REQUEST) + length);
  request->ConnectionIndex = port;
  request->SetupPacket.bmRequest = 0x80;
  request->SetupPacket.bRequest = USB_REQUEST_GET_DESCRIPTOR;
  request->SetupPacket.wValue = value;
  request->SetupPacket.wIndex = language;
  request->SetupPacket.wLength = length;
  if (!Ask(hub, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION, buffer, sizeof(USB_DESCRIPTOR_REQUEST) + length,
           &returned) || returned < sizeof(USB_DESCRIPTOR_REQUEST)) {
    return -1;
  }
  memcpy(data, buffer + sizeof(USB_DESCRIPTOR_REQUEST), returned - sizeof(USB_DESCRIPTOR_REQUEST));
  return (int)(returned - sizeof(USB_DESCRIPTOR_REQUEST));
}

/* A descriptor set that says its total length in its bytes 2 and 3 (a
 * configuration, an other-speed configuration, the BOS): its header of
 * `headerSize` bytes first, then the whole. Returns its size in `data` (0
 * when none could be read). */
static int ReadWhole(HANDLE hub, ULONG port, USHORT value, USHORT headerSize, UCHAR* data) {
  int got = AskDescriptor(hub, port, value, 0, headerSize, data);
  USHORT total;
  if (got != (int)headerSize) return 0;
  total = (USHORT)(data[2] | (data[3] << 8));
  if (total < headerSize) return 0;
  got = AskDescriptor(hub, port, value, 0, total, data);
  return got == total ? got : 0;
}

/* The string indices a device names: in its device descriptor, its
 * configuration, its interfaces and interface associations. */
static int StringIndices(const USB_DEVICE_DESCRIPTOR* d, const UCHAR* config, int size, UCHAR* indices) {
  int count = 0, at;
  UCHAR seen[256];
  memset(seen, 0, sizeof(seen));
#define QM_NOTE(i) do { if ((i) != 0 && !seen[i]) { seen[i] = 1; indices[count++] = (i); } } while (0)
  QM_NOTE(d->iManufacturer);
  QM_NOTE(d->iProduct);
  QM_NOTE(d->iSerialNumber);
  for (at = 0; at + 2 <= size && config[at] >= 2 && at + config[at] <= size; at += config[at]) {
    if (config[at + 1] == USB_CONFIGURATION_DESCRIPTOR_TYPE && config[at] >= 9) QM_NOTE(config[at + 8]);
    if (config[at + 1] == USB_INTERFACE_DESCRIPTOR_TYPE && config[at] >= 9) QM_NOTE(config[at + 8]);
    if (config[at + 1] == 0x0B && config[at] >= 8) QM_NOTE(config[at + 7]); /* interface association */
  }
#undef QM_NOTE
  return count;
}

static void PrintStrings(HANDLE hub, ULONG port, const USB_DEVICE_DESCRIPTOR* d, const UCHAR* config, int size) {
  UCHAR languages[256], text[256], indices[256];
  const int count = StringIndices(d, config, size, indices);
  int got, l, i;
  if (count == 0) return;
  got = AskDescriptor(hub, port, USB_STRING_DESCRIPTOR_TYPE << 8, 0, 255, languages);
  if (got < 2 || languages[0] > got) {
    Failure("strings");
    return;
  }
  Open("strings", '{');
  for (l = 2; l + 1 < languages[0]; l += 2) {
    const USHORT language = (USHORT)(languages[l] | (languages[l + 1] << 8));
    char key[8];
    sprintf(key, "%u", (unsigned)language);
    Open(key, '{');
    for (i = 0; i < count; ++i) {
      sprintf(key, "%u", (unsigned)indices[i]);
      got = AskDescriptor(hub, port, (USHORT)((USB_STRING_DESCRIPTOR_TYPE << 8) | indices[i]), language, 255, text);
      if (got >= 2 && text[1] == USB_STRING_DESCRIPTOR_TYPE && text[0] <= got) {
        TextItem(key, (const WCHAR*)(text + 2), (size_t)(text[0] - 2) / 2);
      } else {
        Null(key);
      }
    }
    Close('}');
  }
  Close('}');
}

static void PrintDevice(HANDLE hub, ULONG port, const USB_DEVICE_DESCRIPTOR* d) {
  static UCHAR config[65536], bos[65536];
  UCHAR other[256];
  int size, got;
  PrintName("driverKey", hub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, TRUE, port,
            sizeof(USB_NODE_CONNECTION_DRIVERKEY_NAME), offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, ActualLength),
            offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, DriverKeyName), NULL, 0);
  size = ReadWhole(hub, port, USB_CONFIGURATION_DESCRIPTOR_TYPE << 8, sizeof(USB_CONFIGURATION_DESCRIPTOR), config);
  if (size > 0) Hex("configuration", config, (DWORD)size); else Null("configuration");
  if (d->bcdUSB >= 0x0200) {
    got = AskDescriptor(hub, port, 0x0600, 0, 10, other);
    if (got == 10) Hex("qualifier", other, 10); else Failure("qualifier");
    got = ReadWhole(hub, port, 0x0700, sizeof(USB_CONFIGURATION_DESCRIPTOR), bos);
    if (got > 0) Hex("otherSpeed", bos, (DWORD)got); else Failure("otherSpeed");
  }
  if (d->bcdUSB > 0x0200) {
    got = ReadWhole(hub, port, 0x0F00, 5, bos);
    if (got > 0) Hex("bos", bos, (DWORD)got); else Null("bos");
  }
  PrintStrings(hub, port, d, config, size);
}

/* --- hubs --- */

static void WalkHub(const WCHAR* name, int depth);

/* The speed as Windows' own viewer reads it: _EX reports at most high speed
   on Windows 8 and later, and _EX_V2's flags tell SuperSpeed. */
static ULONG SpeedAsViewed(UCHAR speed, BOOL flagsKnown, ULONG flags) {
  return flagsKnown && (flags & 1) ? UsbSuperSpeed : speed;
}

static void PrintConnection(HANDLE hub, ULONG port, int depth, BOOL flagsKnown, ULONG flags) {
  UCHAR buffer[sizeof(USB_NODE_CONNECTION_INFORMATION_EX) + 30 * sizeof(USB_PIPE_INFO)];
  USB_NODE_CONNECTION_INFORMATION_EX* info = (USB_NODE_CONNECTION_INFORMATION_EX*)buffer;
  DWORD returned, pipe;
  BOOL extended = TRUE;
  memset(buffer, 0, sizeof(buffer));
  info->ConnectionIndex = port;
  if (!Ask(hub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, buffer, sizeof(buffer), &returned)) {
    /* Windows 2000 answers only the plain request, a LowSpeed flag instead
       (_EX's page gives Windows XP as its minimum). */
    extended = FALSE;
    memset(buffer, 0, sizeof(buffer));
    info->ConnectionIndex = port;
    if (!Ask(hub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, buffer, sizeof(buffer), &returned)) {
      Failure("connection");
      return;
    }
  }
  if (returned < sizeof(USB_NODE_CONNECTION_INFORMATION_EX)) {
    Null("connection");
    return;
  }
  Open("connection", '{');
  Hex("raw", buffer, returned);
  Number("status", info->ConnectionStatus);
  Key("extended");
  fputs(extended ? "true" : "false", stdout);
  Number(extended ? "speed" : "lowSpeed", info->Speed);
  if (extended) Number("speedAsViewed", SpeedAsViewed(info->Speed, flagsKnown, flags));
  Number("isHub", info->DeviceIsHub);
  Number("address", info->DeviceAddress);
  Number("configurationValue", info->CurrentConfigurationValue);
  Hex("deviceDescriptor", (const UCHAR*)&info->DeviceDescriptor, sizeof(USB_DEVICE_DESCRIPTOR));
  Open("pipes", '[');
  for (pipe = 0; pipe < info->NumberOfOpenPipes && pipe < 30; ++pipe) {
    const USB_PIPE_INFO* p = &info->PipeList[pipe];
    if (sizeof(USB_NODE_CONNECTION_INFORMATION_EX) + (pipe + 1) * sizeof(USB_PIPE_INFO) > returned) break;
    Open(NULL, '{');
    Number("address", p->EndpointDescriptor.bEndpointAddress);
    Number("attributes", p->EndpointDescriptor.bmAttributes);
    Number("maxPacketSize", p->EndpointDescriptor.wMaxPacketSize);
    Number("interval", p->EndpointDescriptor.bInterval);
    Close('}');
  }
  Close(']');
  Close('}');
  if (info->ConnectionStatus != DeviceConnected) return;
  if (info->DeviceIsHub) {
    UCHAR* name = (UCHAR*)AskName(hub, IOCTL_USB_GET_NODE_CONNECTION_NAME, TRUE, port, sizeof(USB_NODE_CONNECTION_NAME),
                                  offsetof(USB_NODE_CONNECTION_NAME, ActualLength));
    PrintName("driverKey", hub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, TRUE, port,
              sizeof(USB_NODE_CONNECTION_DRIVERKEY_NAME), offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, ActualLength),
              offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, DriverKeyName), NULL, 0);
    if (name == NULL) {
      Failure("hub");
      return;
    }
    Open("hub", '{');
    WalkHub(((USB_NODE_CONNECTION_NAME*)name)->NodeName, depth + 1);
    Close('}');
    free(name);
  } else {
    PrintDevice(hub, port, &info->DeviceDescriptor);
  }
}

static void PrintPort(HANDLE hub, ULONG port, int depth) {
  USB_NODE_CONNECTION_INFORMATION_EX_V2 v2;
  DWORD returned;
  BOOL flagsKnown;
  UCHAR* connector = (UCHAR*)AskName(hub, IOCTL_USB_GET_PORT_CONNECTOR_PROPERTIES, TRUE, port,
                                     sizeof(USB_PORT_CONNECTOR_PROPERTIES),
                                     offsetof(USB_PORT_CONNECTOR_PROPERTIES, ActualLength));
  Open(NULL, '{');
  Number("port", port);
  if (connector != NULL) {
    const USB_PORT_CONNECTOR_PROPERTIES* c = (const USB_PORT_CONNECTOR_PROPERTIES*)connector;
    Open("connector", '{');
    Hex("raw", connector, c->ActualLength);
    Number("properties", c->UsbPortProperties.ul);
    Number("companionIndex", c->CompanionIndex);
    Number("companionPort", c->CompanionPortNumber);
    TextItem("companionHubName", c->CompanionHubSymbolicLinkName,
             (c->ActualLength - offsetof(USB_PORT_CONNECTOR_PROPERTIES, CompanionHubSymbolicLinkName)) / sizeof(WCHAR));
    Close('}');
    free(connector);
  } else {
    Failure("connector");
  }
  memset(&v2, 0, sizeof(v2));
  v2.ConnectionIndex = port;
  v2.Length = sizeof(v2);
  v2.SupportedUsbProtocols.Usb300 = 1;
  flagsKnown = Ask(hub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX_V2, &v2, sizeof(v2), &returned) &&
               returned == sizeof(v2);
  if (flagsKnown) {
    Hex("rawV2", (const UCHAR*)&v2, returned);
    Number("protocols", v2.SupportedUsbProtocols.ul);
    Number("speedFlags", v2.Flags.ul);
  } else {
    Failure("protocols");
  }
  PrintConnection(hub, port, depth, flagsKnown, v2.Flags.ul);
  Close('}');
}

static void WalkHub(const WCHAR* name, int depth) {
  WCHAR path[300] = L"\\\\.\\";
  USB_NODE_INFORMATION node;
  USB_HUB_INFORMATION_EX ex;
  USB_HUB_CAPABILITIES_EX capabilities;
  DWORD returned, ports = 0, port;
  HANDLE hub;
  TextItem("name", name, 256);
  lstrcpynW(path + 4, name, 290);
  hub = OpenDevice(path);
  if (hub == INVALID_HANDLE_VALUE) {
    Failure("open");
    return;
  }
  memset(&node, 0, sizeof(node));
  if (Ask(hub, IOCTL_USB_GET_NODE_INFORMATION, &node, sizeof(node), &returned) && returned == sizeof(node)) {
    const USB_HUB_DESCRIPTOR* d = &node.u.HubInformation.HubDescriptor;
    Open("node", '{');
    Number("ports", d->bNumberOfPorts);
    Number("characteristics", d->wHubCharacteristics);
    Number("powerOnToPowerGood", d->bPowerOnToPowerGood);
    Number("controlCurrent", d->bHubControlCurrent);
    Number("busPowered", node.u.HubInformation.HubIsBusPowered);
    Hex("descriptor", (const UCHAR*)d, d->bDescriptorLength <= sizeof(*d) ? d->bDescriptorLength : sizeof(*d));
    Close('}');
    ports = d->bNumberOfPorts;
  } else {
    Failure("node");
  }
  memset(&ex, 0, sizeof(ex));
  if (Ask(hub, IOCTL_USB_GET_HUB_INFORMATION_EX, &ex, sizeof(ex), &returned) && returned == sizeof(ex)) {
    Open("information", '{');
    Hex("raw", (const UCHAR*)&ex, returned);
    Number("type", ex.HubType);
    Number("highestPort", ex.HighestPortNumber);
    Close('}');
    ports = ex.HighestPortNumber;
  } else {
    Failure("information");
  }
  memset(&capabilities, 0, sizeof(capabilities));
  if (Ask(hub, IOCTL_USB_GET_HUB_CAPABILITIES_EX, &capabilities, sizeof(capabilities), &returned) &&
      returned == sizeof(capabilities)) {
    Number("capabilities", capabilities.CapabilityFlags.ul);
  } else {
    Failure("capabilities");
  }
  if (depth <= 17) {  /* deeper than any machine the test stack serves */
    Open("ports", '[');
    for (port = 1; port <= ports; ++port) PrintPort(hub, port, depth);
    Close(']');
  }
  CloseHandle(hub);
}

/* --- host controllers --- */

static void PrintControllerInfo(HANDLE controller) {
  USBUSER_CONTROLLER_INFO_0 info;
  USBUSER_POWER_INFO_REQUEST power;
  DWORD returned, state;
  memset(&info, 0, sizeof(info));
  info.Header.UsbUserRequest = USBUSER_GET_CONTROLLER_INFO_0;
  info.Header.RequestBufferLength = sizeof(info);
  if (Ask(controller, IOCTL_USB_USER_REQUEST, &info, sizeof(info), &returned) && returned == sizeof(info) &&
      info.Header.UsbUserStatusCode == UsbUserSuccess) {
    Open("info", '{');
    Number("pciVendorId", info.Info0.PciVendorId);
    Number("pciDeviceId", info.Info0.PciDeviceId);
    Number("pciRevision", info.Info0.PciRevision);
    Number("rootPorts", info.Info0.NumberOfRootPorts);
    Number("flavor", info.Info0.ControllerFlavor);
    Number("features", info.Info0.HcFeatureFlags);
    Close('}');
  } else {
    Failure("info");
  }
  Open("power", '[');
  for (state = WdmUsbPowerSystemWorking; state <= WdmUsbPowerSystemShutdown; ++state) {
    memset(&power, 0, sizeof(power));
    power.Header.UsbUserRequest = USBUSER_GET_POWER_STATE_MAP;
    power.Header.RequestBufferLength = sizeof(power);
    power.PowerInformation.SystemState = (WDMUSB_POWER_STATE)state;
    if (Ask(controller, IOCTL_USB_USER_REQUEST, &power, sizeof(power), &returned) && returned == sizeof(power) &&
        power.Header.UsbUserStatusCode == UsbUserSuccess) {
      Open(NULL, '{');
      Number("system", power.PowerInformation.SystemState);
      Number("controller", power.PowerInformation.HcDevicePowerState);
      Number("rootHub", power.PowerInformation.RhDevicePowerState);
      Number("canWake", power.PowerInformation.CanWakeup);
      Number("powered", power.PowerInformation.IsPowered);
      Close('}');
    }
  }
  Close(']');
}

static void PrintController(const WCHAR* path) {
  WCHAR rootHub[300];
  HANDLE controller = OpenDevice(path);
  Open(NULL, '{');
  TextItem("path", path, 1024);
  if (controller == INVALID_HANDLE_VALUE) {
    Failure("open");
    Close('}');
    return;
  }
  PrintName("driverKey", controller, IOCTL_GET_HCD_DRIVERKEY_NAME, FALSE, 0, sizeof(USB_HCD_DRIVERKEY_NAME),
            offsetof(USB_HCD_DRIVERKEY_NAME, ActualLength), offsetof(USB_HCD_DRIVERKEY_NAME, DriverKeyName), NULL, 0);
  PrintControllerInfo(controller);
  rootHub[0] = 0;
  PrintName("rootHubName", controller, IOCTL_USB_GET_ROOT_HUB_NAME, FALSE, 0, sizeof(USB_ROOT_HUB_NAME),
            offsetof(USB_ROOT_HUB_NAME, ActualLength), offsetof(USB_ROOT_HUB_NAME, RootHubName), rootHub, 290);
  CloseHandle(controller);
  if (rootHub[0] != 0) {
    Open("rootHub", '{');
    WalkHub(rootHub, 0);
    Close('}');
  }
  Close('}');
}

int main(void) {
  HDEVINFO list = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_HOST_CONTROLLER, NULL, NULL,
                                       DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  SP_DEVICE_INTERFACE_DATA data;
  DWORD index;
  Open(NULL, '{');
  Open("controllers", '[');
  if (list != INVALID_HANDLE_VALUE) {
    data.cbSize = sizeof(data);
    for (index = 0; SetupDiEnumDeviceInterfaces(list, NULL, &GUID_DEVINTERFACE_USB_HOST_CONTROLLER, index, &data);
         ++index) {
      DWORD needed = 0;
      SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail;
      SetupDiGetDeviceInterfaceDetailW(list, &data, NULL, 0, &needed, NULL);
      detail = (SP_DEVICE_INTERFACE_DETAIL_DATA_W*)calloc(1, needed + sizeof(WCHAR));
      if (detail == NULL) continue;
      detail->cbSize = sizeof(*detail);
      if (SetupDiGetDeviceInterfaceDetailW(list, &data, detail, needed, NULL, NULL)) PrintController(detail->DevicePath);
      free(detail);
    }
    SetupDiDestroyDeviceInfoList(list);
  }
  Close(']');
  Close('}');
  putchar('\n');
  return 0;
}
