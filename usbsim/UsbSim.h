// A simulated USB stack: answers the walk's opens and device I/O control
// requests, byte for byte as the Windows USB stack lays them out, from a JSON
// description of controllers, hubs and devices (docs/usb-sim-format.md). It
// keeps a trace of every open, request and close.
//
// It is the device I/O role of a platform (WithSimulatedStack), the other
// roles staying those of another platform.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qm::sim {

// Bytes of whole descriptors (length byte first), as a real device places
// them: class-specific descriptors, a SuperSpeed endpoint companion.
using DescriptorBytes = std::vector<std::uint8_t>;

struct Endpoint {
  std::uint8_t address = 0x81;  // bEndpointAddress
  std::uint8_t attributes = 2;  // bmAttributes: transfer type in bits 0-1
  std::uint16_t maxPacketSize = 512;
  std::uint8_t interval = 0;
  // An audio class 1.0 endpoint's two more bytes: its descriptor is 9 bytes.
  bool audio = false;
  std::uint8_t refresh = 0;
  std::uint8_t synchAddress = 0;
  DescriptorBytes extra;  // the descriptors that follow it
};

struct Interface {
  std::uint8_t number = 0;
  std::uint8_t alternateSetting = 0;
  std::uint8_t interfaceClass = 0;
  std::uint8_t subClass = 0;
  std::uint8_t protocol = 0;
  std::uint8_t iInterface = 0;
  bool selected = false;  // the alternate setting its driver selected (else alternate 0 is)
  DescriptorBytes extra;  // class-specific descriptors before its endpoints
  std::vector<Endpoint> endpoints;
};

// An interface association, placed before the first interface it groups.
struct Association {
  std::uint8_t firstInterface = 0;
  std::uint8_t interfaceCount = 0;
  std::uint8_t functionClass = 0;
  std::uint8_t functionSubClass = 0;
  std::uint8_t functionProtocol = 0;
  std::uint8_t iFunction = 0;
};

struct Configuration {
  std::uint8_t value = 1;           // bConfigurationValue
  std::uint8_t attributes = 0x80;   // bmAttributes: 0x40 self-powered, 0x20 remote wake-up
  std::uint16_t maxPowerMilliamps = 200;
  std::uint8_t iConfiguration = 0;
  DescriptorBytes extra;  // after the configuration descriptor itself
  std::vector<Association> associations;
  std::vector<Interface> interfaces;
};

enum class Speed { kLow, kFull, kHigh, kSuper, kSuperPlus };

struct Device {
  std::uint16_t idVendor = 0;
  std::uint16_t idProduct = 0;
  std::uint8_t deviceClass = 0;  // bDeviceClass, bDeviceSubClass, bDeviceProtocol
  std::uint8_t deviceSubClass = 0;
  std::uint8_t deviceProtocol = 0;
  std::uint16_t bcdUsb = 0x0200;
  std::uint8_t maxPacketSize0 = 64;
  std::uint16_t bcdDevice = 0x0100;
  std::uint8_t numConfigurations = 1;
  std::uint8_t iManufacturer = 0;
  std::uint8_t iProduct = 0;
  std::uint8_t iSerialNumber = 0;
  std::map<int, std::u16string> strings;
  std::vector<std::uint16_t> languages{1033};
  std::uint32_t descriptorError = 0;  // 0: requests succeed
  Speed speed = Speed::kHigh;
  Configuration configuration;    // described, or the default of its class
  bool answersQualifier = false;  // the device qualifier request; false: it stalls
  DescriptorBytes qualifier;      // its own device qualifier; empty: one made from the device descriptor
  DescriptorBytes otherSpeedConfiguration;  // answered as given; empty: the request stalls
  bool answersBos = false;
  DescriptorBytes capabilities;   // the BOS's device capability descriptors
  std::uint16_t address = 0;      // on its controller, 1 to 127
  std::u16string driverKeyName;
  // Windows selected its configuration; false: its driver did not start
  // (Device Manager's codes 10 and 43), so the hub reports configuration 0
  // and no open pipes, its descriptors still answered.
  bool configured = true;
};

struct Hub;
struct Controller;

// What the hub knows of a port's connector.
struct Connector {
  bool userConnectable = true;
  bool debugCapable = false;
  bool multipleCompanions = false;
  bool typeC = false;
  std::uint16_t companionIndex = 0;
  std::uint16_t companionPort = 0;
  std::u16string companionHubName;
};

struct Port {
  std::uint32_t status = 0;              // USB_CONNECTION_STATUS
  std::uint32_t connectionInfoError = 0;
  std::unique_ptr<Device> device;        // a device, or the hub's own device
  std::unique_ptr<Hub> hub;              // an external hub
  std::u16string name;                   // the external hub's symbolic name
  std::uint32_t nameError = 0;
  Connector connector;
  bool superSpeed = false;               // the port carries SuperSpeed as well
  bool superSpeedOnly = false;           // ... or alone: no USB 1.1 or 2.0 on it
};

struct Hub {
  std::vector<Port> ports;  // port i + 1 is ports[i]
  int numberOfPorts = 0;
  std::uint32_t openError = 0;
  std::uint32_t nodeInfoError = 0;
  std::uint16_t hubCharacteristics = 0x0009;  // wHubCharacteristics: per-port power switching and overcurrent
  std::uint8_t powerOnToPowerGood = 50;       // in 2 ms units
  std::uint8_t hubControlCurrent = 0;         // mA
  bool busPowered = false;
  // The hub answers only what Windows 2000 did (the pages give Windows XP
  // as the minimum of _EX and Windows 8 of the later requests):
  // no _EX or _EX_V2 connection information, no hub information,
  // capabilities or connector properties.
  bool legacy = false;
  // The hub answers as Windows 7's did: not the requests of Windows 8 and
  // later (_EX_V2, hub information and connector properties).
  bool windows7 = false;
  // The connection information of a port with nothing on it is all zeros,
  // its ConnectionIndex too, as a decoded Windows 10 report shows; else
  // the ConnectionIndex asked stays.
  bool emptyPortsReadZero = false;
  // Where the hub stands, set once the machine is read: its controller, and
  // for an external hub its own device.
  const Controller* controller = nullptr;
  const Device* ownDevice = nullptr;
};

struct Controller {
  int number = -1;                  // opened as \\.\HCD<number>; -1: no such name
  bool listedAsInterface = true;    // listed by the device interface enumeration
  std::string interfacePath;        // the interface's device path
  std::uint32_t interfaceOpenError = 0;
  std::u16string driverKeyName;
  std::uint32_t driverKeyError = 0;
  std::u16string rootHubName;
  std::uint32_t rootHubNameError = 0;
  std::unique_ptr<Hub> rootHub;
  std::uint32_t pciVendorId = 0x8086;
  std::uint32_t pciDeviceId = 0x3B34;
  std::uint32_t pciRevision = 5;
  std::uint32_t flavor = 1000;      // USB_CONTROLLER_FLAVOR: EHCI_Generic
  std::uint32_t featureFlags = 3;   // port power switching, selective suspend
};

struct TraceEntry {
  std::string op;  // "open", "ioctl", "close", or the enumeration's "interfaces", "interface", "detail", "destroy"
  std::string path;
  bool ok = false;
  std::uint32_t code = 0;
  std::uint32_t size = 0;
  bool hasConnectionIndex = false;
  std::uint32_t connectionIndex = 0;
  bool isDescriptorRequest = false;
  std::uint16_t wValue = 0, wIndex = 0, wLength = 0;
};

class UsbSimStack final : public DeviceIo {
 public:
  // Reads a description; throws std::runtime_error naming the place of the
  // first fault (bad JSON, a wrong type, a number out of range, a duplicate).
  static UsbSimStack FromJson(const std::string& text);
  // The same from a file, read through `system`; also throws when the file
  // cannot be opened or read.
  static UsbSimStack FromFile(const WidePath& path, FileSystem& files);

  // The device I/O role. Errors are Win32 codes, kept for GetLastError().
  Handle CreateFile(const std::string& deviceName, const FileOpenRequest& request) override;
  bool DeviceIoControl(Handle device, std::uint32_t code, void* buffer, std::uint32_t size,
                       std::uint32_t* bytesReturned) override;
  bool CloseHandle(Handle handle) override { return Close(handle); }
  std::uint32_t GetLastError() override { return lastError_; }
  Handle SetupDiGetClassDevs(const Guid& interfaceClass) override { return OpenInterfaceList(interfaceClass); }
  bool SetupDiEnumDeviceInterfaces(Handle list, const Guid&, std::uint32_t index, DeviceInterfaceData* data) override {
    return InterfaceAt(list, index, data);
  }
  bool SetupDiGetDeviceInterfaceDetail(Handle list, const DeviceInterfaceData& data, std::string* devicePath) override {
    return InterfacePath(list, data, devicePath);
  }
  bool SetupDiDestroyDeviceInfoList(Handle list) override { return CloseInterfaceList(list); }

  // The same, as the stack sees them. Request writes its reply at the start
  // of `buffer` (never past `size`); LastInformation says how many bytes it
  // filled, as a driver's IoStatus.Information does.
  Handle Open(const std::string& path);
  bool Request(Handle handle, std::uint32_t code, std::uint8_t* buffer, std::uint32_t size);
  std::uint32_t LastInformation() const { return information_; }
  bool Close(Handle handle);
  bool Owns(Handle handle) const { return open_.count(handle) != 0 || lists_.count(handle) != 0; }
  // The hub open under `handle`, or null (a controller, or no such handle).
  const Hub* HubOf(Handle handle) const {
    auto found = open_.find(handle);
    return found != open_.end() ? found->second.hub : nullptr;
  }

  // The stack's side of the host-controller interface enumeration: a list
  // of the controllers listed as interfaces, in description order.
  Handle OpenInterfaceList(const Guid& interfaceClass);
  bool InterfaceAt(Handle list, std::uint32_t index, DeviceInterfaceData* data);
  bool InterfacePath(Handle list, const DeviceInterfaceData& data, std::string* devicePath);
  bool CloseInterfaceList(Handle list);
  std::uint32_t LastError() const { return lastError_; }

  const std::vector<TraceEntry>& Trace() const { return trace_; }
  std::size_t OpenHandles() const { return open_.size() + lists_.size(); }  // interface lists too
  std::vector<Controller>& Controllers() { return controllers_; }

 private:
  struct Node {
    Controller* controller = nullptr;  // exactly one of the two
    Hub* hub = nullptr;
    std::string path;
  };
  bool Fail(std::uint32_t error);
  void IndexHubs(Hub& hub);

  std::vector<Controller> controllers_;
  std::map<std::u16string, Hub*> hubsByName_;
  std::map<Handle, Node> open_;
  std::map<Handle, std::vector<const Controller*>> lists_;  // open interface lists
  Handle nextHandle_ = 0x51000;
  std::uint32_t lastError_ = 0;
  std::uint32_t information_ = 0;
  std::vector<TraceEntry> trace_;
};

// `roles` with the simulated stack as their device I/O.
inline Platform WithSimulatedStack(Platform roles, UsbSimStack& stack) {
  roles.devices = &stack;
  return roles;
}

}  // namespace qm::sim
