#include "usbsim/UsbSim.h"

#include <cstring>
#include <stdexcept>

#include "usb/UsbIoctl.h"

namespace qm::sim {

namespace {

using win::kErrorFileNotFound;
using win::kErrorGenFailure;  // a stalled device request
using win::kErrorInvalidFunction;
using win::kErrorInvalidHandle;
using win::kErrorInvalidParameter;

// Writes as much of the name structure as fits; returns the bytes filled.
std::uint32_t WriteName(std::uint8_t* buffer, std::uint32_t size, std::uint32_t lengthAt, std::uint32_t textAt,
                        const std::u16string& name) {
  // ActualLength: the structure's size with the whole name and its zero.
  const std::uint32_t actual = textAt + 2 * static_cast<std::uint32_t>(name.size() + 1);
  if (lengthAt + 4 > size) return 0;
  usb::Write32(buffer + lengthAt, actual);
  std::uint32_t at = textAt;
  for (char16_t unit : name) {
    if (at + 2 > size) return at;
    usb::Write16(buffer + at, unit);
    at += 2;
  }
  if (at + 2 > size) return at;
  usb::Write16(buffer + at, 0);
  return at + 2;
}

std::vector<std::uint8_t> DeviceDescriptor(const Device& device) {
  std::vector<std::uint8_t> d(usb::kDeviceDescriptorSize, 0);
  d[0] = 18;
  d[1] = 1;  // DEVICE
  usb::Write16(&d[2], 0x0200);
  d[usb::kDescDeviceClass] = device.deviceClass;
  d[usb::kDescDeviceSubClass] = device.deviceSubClass;
  d[usb::kDescDeviceProtocol] = device.deviceProtocol;
  d[7] = 64;
  usb::Write16(&d[usb::kDescIdVendor], device.idVendor);
  usb::Write16(&d[usb::kDescIdProduct], device.idProduct);
  usb::Write16(&d[12], 0x0100);
  d[usb::kDescIManufacturer] = device.iManufacturer;
  d[usb::kDescIProduct] = device.iProduct;
  d[usb::kDescISerialNumber] = device.iSerialNumber;
  d[17] = 1;
  return d;
}

}  // namespace

bool UsbSimStack::Fail(std::uint32_t error) {
  lastError_ = error;
  return false;
}

Handle UsbSimStack::Open(const std::string& path) {
  TraceEntry entry{"open", path};
  Node node;
  node.path = path;
  const std::string prefix = "\\\\.\\";
  std::uint32_t error = kErrorFileNotFound;
  for (Controller& controller : controllers_) {
    if (!controller.listedAsInterface || path != controller.interfacePath) continue;
    if (controller.interfaceOpenError != 0) {
      error = controller.interfaceOpenError;
    } else {
      node.controller = &controller;
    }
    break;
  }
  if (node.controller == nullptr && path.compare(0, prefix.size(), prefix) == 0) {
    const std::string name = path.substr(prefix.size());
    // The system's object manager reads a backslash as a folder.
    if (name.find('\\') != std::string::npos) error = win::kErrorPathNotFound;
    for (Controller& controller : controllers_) {
      if (controller.number >= 0 && name == std::string("HCD") + static_cast<char>('0' + controller.number)) {
        node.controller = &controller;
      }
    }
    if (node.controller == nullptr) {
      // Hub names are ASCII; the name as opened is compared with it unit by unit.
      const std::u16string wide(name.begin(), name.end());
      auto found = hubsByName_.find(wide);
      if (found != hubsByName_.end()) {
        if (found->second->openError != 0) {
          error = found->second->openError;
        } else {
          node.hub = found->second;
        }
      }
    }
  }
  if (node.controller == nullptr && node.hub == nullptr) {
    lastError_ = error;
    trace_.push_back(entry);
    return kInvalidHandle;
  }
  const Handle handle = nextHandle_++;
  open_[handle] = node;
  entry.ok = true;
  trace_.push_back(entry);
  return handle;
}

bool UsbSimStack::Close(Handle handle) {
  auto found = open_.find(handle);
  TraceEntry entry{"close", found == open_.end() ? std::string() : found->second.path};
  entry.ok = found != open_.end();
  trace_.push_back(entry);
  if (found == open_.end()) return Fail(kErrorInvalidHandle);
  open_.erase(found);
  return true;
}

bool UsbSimStack::Request(Handle handle, std::uint32_t code, std::uint8_t* buffer, std::uint32_t size) {
  information_ = 0;
  auto found = open_.find(handle);
  TraceEntry entry{"ioctl", found == open_.end() ? std::string() : found->second.path};
  entry.code = code;
  entry.size = size;
  if (code != usb::kIoctlGetHcdDriverkeyName && code != usb::kIoctlGetNodeInformation && size >= 4) {
    entry.hasConnectionIndex = true;
    entry.connectionIndex = usb::Read32(buffer + usb::kConnectionIndex);
  }
  if (code == usb::kIoctlGetDescriptorFromNodeConnection && size >= usb::kDescriptorData) {
    entry.isDescriptorRequest = true;
    entry.wValue = usb::Read16(buffer + usb::kSetupValue);
    entry.wIndex = usb::Read16(buffer + usb::kSetupIndex);
    entry.wLength = usb::Read16(buffer + usb::kSetupLength);
  }
  bool ok = false;
  if (found == open_.end()) {
    ok = Fail(kErrorInvalidHandle);
  } else if (found->second.controller != nullptr) {
    ok = ControllerRequest(*found->second.controller, code, buffer, size);
  } else {
    ok = HubRequest(*found->second.hub, code, buffer, size);
  }
  entry.ok = ok;
  trace_.push_back(entry);
  return ok;
}

bool UsbSimStack::ControllerRequest(Controller& controller, std::uint32_t code, std::uint8_t* buffer,
                                    std::uint32_t size) {
  if (size < 8) return Fail(kErrorInvalidParameter);
  if (code == usb::kIoctlGetHcdDriverkeyName) {
    if (controller.driverKeyError != 0) return Fail(controller.driverKeyError);
    information_ = WriteName(buffer, size, usb::kNameActualLength, usb::kNameText, controller.driverKeyName);
    return true;
  }
  if (code == usb::kIoctlGetRootHubName) {
    if (controller.rootHubNameError != 0) return Fail(controller.rootHubNameError);
    information_ = WriteName(buffer, size, usb::kNameActualLength, usb::kNameText, controller.rootHubName);
    return true;
  }
  return Fail(kErrorInvalidFunction);  // hub requests mean nothing to a controller
}

bool UsbSimStack::HubRequest(Hub& hub, std::uint32_t code, std::uint8_t* buffer, std::uint32_t size) {
  if (code == usb::kIoctlGetNodeInformation) {
    if (hub.nodeInfoError != 0) return Fail(hub.nodeInfoError);
    if (size < usb::kNodeInfoSize) return Fail(kErrorInvalidParameter);
    std::memset(buffer, 0, usb::kNodeInfoSize);
    buffer[usb::kNodeInfoDescriptorLength] = 9;
    buffer[usb::kNodeInfoDescriptorType] = 0x29;
    buffer[usb::kNodeInfoNumberOfPorts] = static_cast<std::uint8_t>(hub.numberOfPorts);
    information_ = usb::kNodeInfoSize;
    return true;
  }
  if (code != usb::kIoctlGetNodeConnectionInformation && code != usb::kIoctlGetNodeConnectionName &&
      code != usb::kIoctlGetDescriptorFromNodeConnection) {
    return Fail(kErrorInvalidFunction);  // controller requests mean nothing to a hub
  }
  if (size < usb::kDescriptorData) return Fail(kErrorInvalidParameter);
  const std::uint32_t index = usb::Read32(buffer + usb::kConnectionIndex);
  if (index < 1 || index > static_cast<std::uint32_t>(hub.numberOfPorts)) return Fail(kErrorInvalidParameter);
  static const Port kEmptyPort;
  const Port& port = index <= hub.ports.size() ? hub.ports[index - 1] : kEmptyPort;

  if (code == usb::kIoctlGetNodeConnectionInformation) {
    if (port.connectionInfoError != 0) return Fail(port.connectionInfoError);
    if (size < usb::kConnectionInfoFixedSize) return Fail(kErrorInvalidParameter);
    std::memset(buffer + 4, 0, usb::kConnectionInfoFixedSize - 4);
    if (port.device) {
      const std::vector<std::uint8_t> descriptor = DeviceDescriptor(*port.device);
      std::memcpy(buffer + usb::kConnectionDeviceDescriptor, descriptor.data(), descriptor.size());
    }
    buffer[usb::kConnectionDeviceIsHub] = port.hub ? 1 : 0;
    usb::Write32(buffer + usb::kConnectionStatus, port.status);
    information_ = usb::kConnectionInfoFixedSize;  // no open pipes follow
    return true;
  }
  const bool connected = port.status == usb::kDeviceConnected;
  if (code == usb::kIoctlGetNodeConnectionName) {
    if (!connected || !port.hub) return Fail(kErrorInvalidParameter);
    if (port.nameError != 0) return Fail(port.nameError);
    information_ = WriteName(buffer, size, usb::kConnectionNameActualLength, usb::kConnectionNameText, port.name);
    return true;
  }
  // A descriptor request, answered by the device on the port.
  if (!connected || !port.device) return Fail(kErrorGenFailure);
  const Device& device = *port.device;
  if (device.descriptorError != 0) return Fail(device.descriptorError);
  const std::uint16_t value = usb::Read16(buffer + usb::kSetupValue);
  const std::uint16_t length = usb::Read16(buffer + usb::kSetupLength);
  std::vector<std::uint8_t> reply;
  if (value == 0x0100) {
    reply = DeviceDescriptor(device);
  } else if ((value >> 8) == 3 && (value & 0xFF) == 0) {
    reply = {static_cast<std::uint8_t>(2 + 2 * device.languages.size()), 3};
    for (std::uint16_t language : device.languages) {
      reply.push_back(static_cast<std::uint8_t>(language));
      reply.push_back(static_cast<std::uint8_t>(language >> 8));
    }
  } else if ((value >> 8) == 3) {
    auto text = device.strings.find(value & 0xFF);
    if (text == device.strings.end()) return Fail(kErrorGenFailure);  // the device stalls
    reply = {static_cast<std::uint8_t>(std::min<std::size_t>(255, 2 + 2 * text->second.size())), 3};
    for (char16_t unit : text->second) {
      reply.push_back(static_cast<std::uint8_t>(unit));
      reply.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
  } else {
    return Fail(kErrorGenFailure);
  }
  // Never more than asked for, never beyond the caller's buffer.
  std::size_t count = std::min<std::size_t>(reply.size(), length);
  count = std::min<std::size_t>(count, size - usb::kDescriptorData);
  std::memcpy(buffer + usb::kDescriptorData, reply.data(), count);
  information_ = usb::kDescriptorData + static_cast<std::uint32_t>(count);
  return true;
}

Handle UsbSimStack::OpenInterfaceList(const Guid& interfaceClass) {
  const Guid& hostControllers = kGuidDevinterfaceUsbHostController;
  TraceEntry entry{"interfaces", "host controllers"};
  if (std::memcmp(&interfaceClass, &hostControllers, sizeof(Guid)) != 0) {
    trace_.push_back(entry);
    lastError_ = kErrorInvalidParameter;
    return kInvalidHandle;
  }
  std::vector<const Controller*> listed;
  for (const Controller& controller : controllers_) {
    if (controller.listedAsInterface) listed.push_back(&controller);
  }
  const Handle list = nextHandle_++;
  lists_[list] = std::move(listed);
  entry.ok = true;
  trace_.push_back(entry);
  return list;
}

bool UsbSimStack::InterfaceAt(Handle list, std::uint32_t index, DeviceInterfaceData* data) {
  TraceEntry entry{"interface", std::to_string(index)};
  auto found = lists_.find(list);
  if (found == lists_.end()) {
    trace_.push_back(entry);
    return Fail(kErrorInvalidHandle);
  }
  if (index >= found->second.size()) {
    trace_.push_back(entry);
    return Fail(win::kErrorNoMoreItems);
  }
  data->interfaceClass = kGuidDevinterfaceUsbHostController;
  data->flags = 1;  // SPINT_ACTIVE
  data->reserved = index;
  entry.ok = true;
  trace_.push_back(entry);
  return true;
}

bool UsbSimStack::InterfacePath(Handle list, const DeviceInterfaceData& data, std::string* devicePath) {
  auto found = lists_.find(list);
  const bool known = found != lists_.end() && data.reserved < found->second.size();
  TraceEntry entry{"detail", known ? found->second[data.reserved]->interfacePath : std::string()};
  entry.ok = known;
  trace_.push_back(entry);
  if (!known) return Fail(kErrorInvalidParameter);
  *devicePath = entry.path;
  return true;
}

bool UsbSimStack::CloseInterfaceList(Handle list) {
  TraceEntry entry{"destroy", "host controllers"};
  entry.ok = lists_.erase(list) != 0;
  trace_.push_back(entry);
  return entry.ok || Fail(kErrorInvalidHandle);
}

Handle UsbSimStack::CreateFile(const std::string& deviceName, const FileOpenRequest&) { return Open(deviceName); }

bool UsbSimStack::DeviceIoControl(Handle device, std::uint32_t code, void* buffer, std::uint32_t size,
                                  std::uint32_t* bytesReturned) {
  const bool ok = Request(device, code, static_cast<std::uint8_t*>(buffer), size);
  *bytesReturned = ok ? information_ : 0;
  return ok;
}

}  // namespace qm::sim
