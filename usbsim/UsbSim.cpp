#include "usbsim/UsbSim.h"

#include <cstring>
#include <stdexcept>

#include "usb/UsbIoctl.h"
#include "usbsim/Answers.h"

namespace qm::sim {

namespace {

using win::kErrorFileNotFound;
using win::kErrorInvalidHandle;
using win::kErrorInvalidParameter;

// The requests whose buffer begins with a port's connection index.
bool IsPortRequest(std::uint32_t code) {
  switch (code) {
    case usb::kIoctlGetNodeConnectionInformation:
    case usb::kIoctlGetNodeConnectionInformationEx:
    case usb::kIoctlGetNodeConnectionInformationExV2:
    case usb::kIoctlGetNodeConnectionName:
    case usb::kIoctlGetNodeConnectionDriverkeyName:
    case usb::kIoctlGetDescriptorFromNodeConnection:
    case usb::kIoctlGetPortConnectorProperties:
      return true;
    default:
      return false;
  }
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
  if (IsPortRequest(code) && size >= 4) {
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
  } else {
    const Outcome outcome = found->second.controller != nullptr
                                ? AnswerControllerRequest(*found->second.controller, code, buffer, size)
                                : AnswerHubRequest(*found->second.hub, code, buffer, size);
    information_ = outcome.filled;
    ok = outcome.error == 0 || Fail(outcome.error);
  }
  entry.ok = ok;
  trace_.push_back(entry);
  return ok;
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
