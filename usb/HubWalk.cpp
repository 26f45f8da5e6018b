// The walk over every USB host controller and its tree of hubs.
//
//  1. Each controller "\\.\HCD0" to "\\.\HCD9" that opens, then each one the
//     host-controller device interface lists, is asked for its driver key
//     name (IOCTL_GET_HCD_DRIVERKEY_NAME); one whose key was already walked
//     is skipped, so a controller with both names is walked once. Then its
//     root hub's name (IOCTL_USB_GET_ROOT_HUB_NAME). A controller that fails
//     is reported and the scan goes on with the next.
//  2. The root hub is opened by that name and asked for its number of ports
//     (IOCTL_USB_GET_NODE_INFORMATION).
//  3. Each port, 1 to that number, is asked what is connected to it
//     (IOCTL_USB_GET_NODE_CONNECTION_INFORMATION) and leaves one record. A
//     device's identity is read through the hub; an external hub is opened by
//     its name (IOCTL_USB_GET_NODE_CONNECTION_NAME) and walked the same way,
//     right away, so the records come out depth first.
// Every handle has one owner, which closes it on every path.
#include <vector>

#include "platform/OwnedHandle.h"
#include "usb/UsbIoctl.h"
#include "usb/UsbWalk.h"

namespace qm {

namespace {

constexpr int kControllerCount = 10;
constexpr int kDeviceNameTextBytes = 252;  // after "\\.\", in a 256-byte name

OwnedHandle OpenDevice(const std::string& path) {
  FileOpenRequest request;
  request.access = win::kGenericWrite;
  request.share = win::kFileShareWrite;
  request.disposition = win::kOpenExisting;
  request.flagsAndAttributes = 0;
  request.nonInheritableSecurity = true;
  return OwnedHandle(Devices().CreateFile(path, request), Devices());
}

// The UTF-16 text at `offset` of the buffer, up to its zero or the buffer's end.
std::u16string NameInBuffer(const std::vector<std::uint8_t>& buffer, std::size_t offset) {
  std::u16string name;
  for (std::size_t at = offset; at + 1 < buffer.size(); at += 2) {
    const char16_t unit = usb::Read16(&buffer[at]);
    if (unit == 0) break;
    name += unit;
  }
  return name;
}

// "\\.\" and the name in the ANSI code page; false when it does not fit.
bool DeviceNameOf(const std::u16string& name, std::string* deviceName) {
  char converted[kDeviceNameTextBytes] = {};
  if (CodePage().WideToMultiByte(win::kCpAcp, name.c_str(), converted, kDeviceNameTextBytes) == 0) return false;
  *deviceName = std::string("\\\\.\\") + converted;
  return true;
}

std::string ThreadAnsiText(const std::u16string& name) {
  std::vector<char> converted(name.size() * 2 + 1, '\0');
  if (CodePage().WideToMultiByte(win::kCpThreadAcp, name.c_str(), converted.data(),
                            static_cast<int>(converted.size())) == 0) {
    return std::string();
  }
  return converted.data();
}

// Opens the hub `name` and reads its port count. Returns the hub, or none
// (*error set) when the name does not fit, the open fails or the hub does
// not answer.
OwnedHandle OpenHub(const std::u16string& name, std::uint8_t* portCount, std::uint32_t* error) {
  std::string deviceName;
  if (!DeviceNameOf(name, &deviceName)) {
    const std::uint32_t conversionError = CodePage().GetLastError();
    *error = conversionError != 0 ? conversionError : win::kErrorGenFailure;
    return OwnedHandle();
  }
  OwnedHandle hub = OpenDevice(deviceName);
  if (!hub.Valid()) {
    *error = Devices().GetLastError();
    return hub;
  }
  std::vector<std::uint8_t> info = RequestBuffer(UsbRequest::kNodeInformation);
  if (!SendRequest(hub.Get(), UsbRequest::kNodeInformation, info)) {
    *error = Devices().GetLastError();
    return OwnedHandle();  // the hub is closed as it goes
  }
  *portCount = info[usb::kNodeInfoNumberOfPorts];
  return hub;
}

// The external hub on `port` of `hub`: its name, then its own walk.
void WalkExternalHub(Handle hub, std::uint32_t port, const WalkContext& context, const std::string& portPath,
                     int depth) {
  if (depth + 1 > kMaxHubDepth) return;  // like a hub that cannot be opened
  std::vector<std::uint8_t> nameBuffer = RequestBuffer(UsbRequest::kConnectionName);
  usb::Write32(&nameBuffer[usb::kConnectionIndex], port);
  if (!SendRequest(hub, UsbRequest::kConnectionName, nameBuffer)) return;
  std::uint8_t portCount = 0;
  std::uint32_t ignored = 0;  // an external hub that fails is just not walked
  const OwnedHandle child = OpenHub(NameInBuffer(nameBuffer, usb::kConnectionNameText), &portCount, &ignored);
  if (child.Valid()) WalkHubPorts(child.Get(), portCount, context, portPath, depth + 1);
}

}  // namespace

void WalkHubPorts(Handle hub, std::uint8_t portCount, const WalkContext& context, std::string parentPath,
                  int depth) {
  for (std::uint32_t port = 1; port <= portCount; ++port) {
    if (UsbScanState.deviceCount >= kMaxDeviceRecords) return;  // the list is full: no more requests
    std::vector<std::uint8_t> connection = RequestBuffer(UsbRequest::kConnectionInformation);
    usb::Write32(&connection[usb::kConnectionIndex], port);
    // A failed request reads as a port with no device: its buffer is cleared.
    const bool answered = SendRequest(hub, UsbRequest::kConnectionInformation, connection);

    USB_BASIC_ALLINFO* record = AppendDeviceRecord();
    record->portPath = parentPath + "-" + std::to_string(port);
    record->controllerPath = context.controllerPath;
    record->rootHubName = context.rootHubName;
    const std::size_t recordIndex = UsbScanState.devices.size() - 1;
    if (context.observer != nullptr) context.observer->OnPort(hub, port, connection.data(), answered, recordIndex);

    if (usb::Read32(&connection[usb::kConnectionStatus]) != usb::kDeviceConnected) continue;
    if (connection[usb::kConnectionDeviceIsHub] != 0) {
      WalkExternalHub(hub, port, context, record->portPath, depth);
    } else {
      DeviceIdentity identity = ReadDeviceIdentity(&connection[usb::kConnectionDeviceDescriptor], port, hub);
      record->vendorId = identity.vendorId;
      record->productId = identity.productId;
      record->deviceClass = identity.deviceClass;
      record->deviceSubClass = identity.deviceSubClass;
      record->deviceProtocol = identity.deviceProtocol;
      record->manufacturer = std::move(identity.manufacturer);
      record->product = std::move(identity.product);
      record->serialNumber = std::move(identity.serialNumber);
      if (context.observer != nullptr) {
        context.observer->OnDevice(hub, port, connection.data(), recordIndex);
      }
    }
  }
}

bool ReadDriverKey(Handle controller, std::vector<std::uint8_t>& names, std::u16string* driverKey,
                   std::uint32_t* error) {
  if (!SendRequest(controller, UsbRequest::kDriverKeyName, names)) {
    *error = Devices().GetLastError();
    return false;
  }
  *driverKey = NameInBuffer(names, usb::kNameText);
  return true;
}

std::uint32_t WalkController(Handle controller, std::vector<std::uint8_t>& names, const std::string& controllerPath,
                             int number, DeviceObserver* observer) {
  // Not tested: after a failure the buffer still holds the driver key name,
  // which names no hub, and the open below fails.
  SendRequest(controller, UsbRequest::kRootHubName, names);
  const std::u16string rootHubName = NameInBuffer(names, usb::kNameText);

  std::uint8_t portCount = 0;
  std::uint32_t error = 0;
  const OwnedHandle rootHub = OpenHub(rootHubName, &portCount, &error);
  if (!rootHub.Valid()) return error;  // the controller fails
  WalkHubPorts(rootHub.Get(), portCount, {controllerPath, ThreadAnsiText(rootHubName), observer},
               std::to_string(number));
  return 0;
}

namespace {

// What the two passes share: the controllers walked so far, by driver key
// name, and the scan's result.
class ControllerPasses {
 public:
  explicit ControllerPasses(DeviceObserver* observer) : observer_(observer) {}

  // One opened controller. `number` is the one it takes if it is walked;
  // the interface pass skips a controller already walked. Returns whether
  // the controller took its number.
  bool Scan(Handle controller, const std::string& path, int number, bool byInterface) {
    ControllerReport report{path, byInterface};
    std::vector<std::uint8_t> names = RequestBuffer(UsbRequest::kDriverKeyName);
    std::u16string driverKey;
    if (!ReadDriverKey(controller, names, &driverKey, &report.error)) {
      return Record(report, ControllerReport::Outcome::kFailed);
    }
    if (byInterface && Walked(driverKey)) return Record(report, ControllerReport::Outcome::kAlreadyWalked);
    walked_.push_back(driverKey);  // kept at once: never tried twice, whatever follows
    report.number = number;
    report.error = WalkController(controller, names, path, number, observer_);
    Record(report, report.error != 0 ? ControllerReport::Outcome::kFailed : ControllerReport::Outcome::kWalked);
    return true;
  }
  std::uint32_t Result() const { return result_; }

 private:
  bool Walked(const std::u16string& driverKey) const {
    for (const std::u16string& key : walked_) {
      if (key == driverKey) return true;
    }
    return false;
  }
  bool Record(ControllerReport report, ControllerReport::Outcome outcome) {
    report.outcome = outcome;
    if (outcome == ControllerReport::Outcome::kFailed && result_ == 0) result_ = report.error;
    UsbScanState.controllers.push_back(std::move(report));
    return false;
  }

  DeviceObserver* observer_;
  std::vector<std::u16string> walked_;
  std::uint32_t result_ = 0;
};

// Controllers by their legacy names "\\.\HCD0" to "\\.\HCD9".
void ScanNamedControllers(ControllerPasses& passes) {
  for (int number = 0; number < kControllerCount; ++number) {
    const std::string path = std::string("\\\\.\\HCD") + static_cast<char>('0' + number);
    const OwnedHandle controller = OpenDevice(path);
    if (controller.Valid()) passes.Scan(controller.Get(), path, number, false);
  }
}

// Controllers listed by the host-controller device interface: also those
// without a legacy name, and any beyond the tenth.
void ScanInterfaceControllers(ControllerPasses& passes) {
  const Guid& interfaceClass = kGuidDevinterfaceUsbHostController;
  const Handle list = Devices().SetupDiGetClassDevs(interfaceClass);
  if (list == kInvalidHandle) return;  // no such list: the pass is skipped
  int number = kFirstInterfaceControllerNumber;
  DeviceInterfaceData data;
  for (std::uint32_t index = 0; Devices().SetupDiEnumDeviceInterfaces(list, interfaceClass, index, &data); ++index) {
    std::string path;
    if (!Devices().SetupDiGetDeviceInterfaceDetail(list, data, &path)) continue;
    const OwnedHandle controller = OpenDevice(path);
    if (!controller.Valid()) continue;  // silently, as a missing legacy name
    if (passes.Scan(controller.Get(), path, number, true)) ++number;
  }
  Devices().SetupDiDestroyDeviceInfoList(list);
}

}  // namespace

std::uint32_t ScanUsbDevices(DeviceObserver* observer) {
  UsbScanState.deviceCount = 0;
  UsbScanState.devices.clear();
  UsbScanState.controllers.clear();
  ControllerPasses passes(observer);
  ScanNamedControllers(passes);
  ScanInterfaceControllers(passes);
  return passes.Result();
}

}  // namespace qm
