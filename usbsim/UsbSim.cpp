#include "usbsim/UsbSim.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <stdexcept>

#include "usb/UsbIoctl.h"
#include "usb/UsbScan.h"

namespace qm::sim {

namespace {

using Json = nlohmann::json;

constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorGenFailure = 31;  // a stalled device request

// Where a value stands in the description: a chain of steps up to the top,
// turned into text ("controllers[0].rootHub.ports[2]") only when a fault is
// reported, so that deep descriptions cost memory in proportion to depth.
struct Place {
  const Place* parent;
  std::string step;
  std::string Text() const { return parent != nullptr ? parent->Text() + step : step; }
  Place Key(const char* key) const { return {this, std::string(".") + key}; }
  Place Index(std::size_t index) const { return {this, "[" + std::to_string(index) + "]"}; }
};

[[noreturn]] void Fault(const Place& where, const std::string& what) {
  throw std::runtime_error(where.Text() + ": " + what);
}

void CheckKeys(const Json& object, const Place& where, std::initializer_list<const char*> allowed) {
  if (!object.is_object()) Fault(where, "must be an object");
  for (auto item = object.begin(); item != object.end(); ++item) {
    bool known = false;
    for (const char* key : allowed) known = known || item.key() == key;
    if (!known) Fault(where, "unknown key \"" + item.key() + "\"");
  }
}

std::int64_t Number(const Json& object, const char* key, const Place& where, std::int64_t low, std::int64_t high,
                    std::int64_t fallback) {
  if (!object.contains(key)) return fallback;
  const Json& value = object.at(key);
  if (!value.is_number_integer()) Fault(where.Key(key), "must be an integer");
  const std::int64_t number = value.get<std::int64_t>();
  if (number < low || number > high) {
    Fault(where.Key(key), "must be from " + std::to_string(low) + " to " + std::to_string(high));
  }
  return number;
}

std::uint32_t ErrorCode(const Json& object, const char* key, const Place& where) {
  return static_cast<std::uint32_t>(Number(object, key, where, 1, 0xFFFFFFFFLL, 0));
}

// The JSON text's code points as UTF-16 code units.
std::u16string Utf16(const Json& object, const char* key, const Place& where, const std::u16string& fallback) {
  if (!object.contains(key)) return fallback;
  const Json& value = object.at(key);
  if (!value.is_string()) Fault(where.Key(key), "must be a string");
  const std::string utf8 = value.get<std::string>();
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    std::uint32_t code = byte;
    int extra = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
    if (extra > 0) code = byte & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k) code = (code << 6) | (utf8[i + k] & 0x3F);
    i += 1 + extra;
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
  }
  return out;
}

std::unique_ptr<Device> ReadDevice(const Json& json, const Place& where) {
  CheckKeys(json, where, {"idVendor", "idProduct", "iManufacturer", "iProduct", "iSerialNumber", "strings",
                          "languages", "descriptorError"});
  auto device = std::make_unique<Device>();
  device->idVendor = static_cast<std::uint16_t>(Number(json, "idVendor", where, 0, 65535, 0));
  device->idProduct = static_cast<std::uint16_t>(Number(json, "idProduct", where, 0, 65535, 0));
  device->iManufacturer = static_cast<std::uint8_t>(Number(json, "iManufacturer", where, 0, 255, 0));
  device->iProduct = static_cast<std::uint8_t>(Number(json, "iProduct", where, 0, 255, 0));
  device->iSerialNumber = static_cast<std::uint8_t>(Number(json, "iSerialNumber", where, 0, 255, 0));
  device->descriptorError = ErrorCode(json, "descriptorError", where);
  if (json.contains("strings")) {
    const Json& strings = json.at("strings");
    const Place place = where.Key("strings");
    if (!strings.is_object()) Fault(place, "must be an object");
    for (auto item = strings.begin(); item != strings.end(); ++item) {
      const std::string& key = item.key();
      if (key.empty() || key.size() > 3 || key.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(key) < 1 || std::stoi(key) > 255) {
        Fault(place, "key \"" + key + "\" must be a string index from 1 to 255");
      }
      device->strings[std::stoi(key)] = Utf16(strings, key.c_str(), place, u"");
    }
  }
  if (json.contains("languages")) {
    const Json& languages = json.at("languages");
    const Place place = where.Key("languages");
    if (!languages.is_array()) Fault(place, "must be a list");
    device->languages.clear();
    for (std::size_t i = 0; i < languages.size(); ++i) {
      const Json& language = languages[i];
      if (!language.is_number_integer() || language.get<std::int64_t>() < 0 || language.get<std::int64_t>() > 65535) {
        Fault(place.Index(i), "must be a language identifier from 0 to 65535");
      }
      device->languages.push_back(static_cast<std::uint16_t>(language.get<std::int64_t>()));
    }
  }
  return device;
}

// `depth` counts the hubs between this one and the root hub, itself
// included: 0 for a root hub.
std::unique_ptr<Hub> ReadHub(const Json& json, const Place& where, int depth);

Port ReadPort(const Json& json, const Place& where, int depth) {
  CheckKeys(json, where, {"status", "connectionInfoError", "device", "hub"});
  Port port;
  if (json.contains("device") && json.contains("hub")) Fault(where, "has both \"device\" and \"hub\"");
  if (json.contains("device")) port.device = ReadDevice(json.at("device"), where.Key("device"));
  if (json.contains("hub")) {
    const Json& hub = json.at("hub");
    const Place place = where.Key("hub");
    port.hub = ReadHub(hub, place, depth + 1);
    port.name = Utf16(hub, "name", place, u"");
    if (port.name.empty()) Fault(place, "needs a \"name\"");
    port.nameError = ErrorCode(hub, "nameError", place);
    if (hub.contains("device")) port.device = ReadDevice(hub.at("device"), place.Key("device"));
  }
  const bool attached = json.contains("device") || json.contains("hub");
  port.status = static_cast<std::uint32_t>(Number(json, "status", where, 0, 0xFFFFFFFFLL, attached ? 1 : 0));
  port.connectionInfoError = ErrorCode(json, "connectionInfoError", where);
  return port;
}

std::unique_ptr<Hub> ReadHub(const Json& json, const Place& where, int depth) {
  if (depth > 0) {
    CheckKeys(json, where, {"ports", "numberOfPorts", "openError", "nodeInfoError", "name", "nameError", "device"});
  } else {
    CheckKeys(json, where, {"ports", "numberOfPorts", "openError", "nodeInfoError"});
  }
  // The walk never opens a hub below this depth: a description that needs
  // one describes a machine the walk cannot see.
  if (depth > kMaxHubDepth) Fault(where, "hubs nested deeper than the walk goes (" + std::to_string(kMaxHubDepth) + ")");
  auto hub = std::make_unique<Hub>();
  if (json.contains("ports")) {
    const Json& ports = json.at("ports");
    const Place place = where.Key("ports");
    if (!ports.is_array()) Fault(place, "must be a list");
    if (ports.size() > 255) Fault(place, "must hold at most 255 ports");
    for (std::size_t i = 0; i < ports.size(); ++i) hub->ports.push_back(ReadPort(ports[i], place.Index(i), depth));
  }
  hub->numberOfPorts = static_cast<int>(Number(json, "numberOfPorts", where, 0, 255,
                                               static_cast<std::int64_t>(hub->ports.size())));
  hub->openError = ErrorCode(json, "openError", where);
  hub->nodeInfoError = ErrorCode(json, "nodeInfoError", where);
  return hub;
}

void WriteName(std::uint8_t* buffer, std::uint32_t size, std::uint32_t lengthAt, std::uint32_t textAt,
               const std::u16string& name) {
  // ActualLength: the structure's size with the whole name and its zero.
  const std::uint32_t actual = textAt + 2 * static_cast<std::uint32_t>(name.size() + 1);
  if (lengthAt + 4 <= size) usb::Write32(buffer + lengthAt, actual);
  std::uint32_t at = textAt;
  for (char16_t unit : name) {
    if (at + 2 > size) return;
    usb::Write16(buffer + at, unit);
    at += 2;
  }
  if (at + 2 <= size) usb::Write16(buffer + at, 0);
}

std::vector<std::uint8_t> DeviceDescriptor(const Device& device) {
  std::vector<std::uint8_t> d(usb::kDeviceDescriptorSize, 0);
  d[0] = 18;
  d[1] = 1;  // DEVICE
  usb::Write16(&d[2], 0x0200);
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

UsbSimStack UsbSimStack::FromJson(const std::string& text) {
  Json json;
  try {
    json = Json::parse(text);
  } catch (const Json::exception& error) {  // bad syntax, or a number out of range
    throw std::runtime_error(std::string("not valid JSON: ") + error.what());
  }
  CheckKeys(json, Place{nullptr, "(top level)"}, {"controllers"});
  if (!json.contains("controllers") || !json.at("controllers").is_array()) {
    Fault(Place{nullptr, "controllers"}, "must be a list");
  }
  UsbSimStack stack;
  const Json& controllers = json.at("controllers");
  const Place top{nullptr, "controllers"};
  for (std::size_t i = 0; i < controllers.size(); ++i) {
    const Json& item = controllers[i];
    const Place where = top.Index(i);
    CheckKeys(item, where, {"number", "driverKeyName", "driverKeyError", "rootHubName", "rootHubNameError", "rootHub"});
    if (!item.contains("number")) Fault(where, "needs a \"number\"");
    Controller controller;
    controller.number = static_cast<int>(Number(item, "number", where, 0, 9, 0));
    for (const Controller& other : stack.controllers_) {
      if (other.number == controller.number) {
        Fault(where.Key("number"), "controller " + std::to_string(other.number) + " is listed twice");
      }
    }
    controller.driverKeyName = Utf16(item, "driverKeyName", where, controller.driverKeyName);
    controller.driverKeyError = ErrorCode(item, "driverKeyError", where);
    controller.rootHubName = Utf16(item, "rootHubName", where,
                                   u"USB#ROOT_HUB20#4&" + std::u16string(1, static_cast<char16_t>(u'0' + controller.number)) +
                                       u"#{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
    controller.rootHubNameError = ErrorCode(item, "rootHubNameError", where);
    controller.rootHub = item.contains("rootHub") ? ReadHub(item.at("rootHub"), where.Key("rootHub"), 0)
                                                  : std::make_unique<Hub>();
    stack.controllers_.push_back(std::move(controller));
  }
  for (Controller& controller : stack.controllers_) {
    stack.hubsByName_.emplace(controller.rootHubName, controller.rootHub.get());
    stack.IndexHubs(*controller.rootHub);
  }
  return stack;
}

void UsbSimStack::IndexHubs(Hub& hub) {
  for (Port& port : hub.ports) {
    if (!port.hub) continue;
    hubsByName_.emplace(port.name, port.hub.get());  // the first hub of a name answers to it
    IndexHubs(*port.hub);
  }
}

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
  if (path.compare(0, prefix.size(), prefix) == 0) {
    const std::string name = path.substr(prefix.size());
    for (Controller& controller : controllers_) {
      if (name == std::string("HCD") + static_cast<char>('0' + controller.number)) node.controller = &controller;
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
    WriteName(buffer, size, usb::kNameActualLength, usb::kNameText, controller.driverKeyName);
    return true;
  }
  if (code == usb::kIoctlGetRootHubName) {
    if (controller.rootHubNameError != 0) return Fail(controller.rootHubNameError);
    WriteName(buffer, size, usb::kNameActualLength, usb::kNameText, controller.rootHubName);
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
    if (size < usb::kConnectionStatus + 4) return Fail(kErrorInvalidParameter);
    std::memset(buffer + 4, 0, size - 4);
    if (port.device) {
      const std::vector<std::uint8_t> descriptor = DeviceDescriptor(*port.device);
      std::memcpy(buffer + usb::kConnectionDeviceDescriptor, descriptor.data(), descriptor.size());
    }
    buffer[usb::kConnectionDeviceIsHub] = port.hub ? 1 : 0;
    usb::Write32(buffer + usb::kConnectionStatus, port.status);
    return true;
  }
  const bool connected = port.status == usb::kDeviceConnected;
  if (code == usb::kIoctlGetNodeConnectionName) {
    if (!connected || !port.hub) return Fail(kErrorInvalidParameter);
    if (port.nameError != 0) return Fail(port.nameError);
    WriteName(buffer, size, usb::kConnectionNameActualLength, usb::kConnectionNameText, port.name);
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
  return true;
}

// --- UsbSimPlatform ---

Handle UsbSimPlatform::CreateFile(const std::string& path, const FileOpenRequest& request) {
  if (path.compare(0, 4, "\\\\.\\") != 0) {
    lastFromStack_ = false;
    return behind_->CreateFile(path, request);
  }
  lastFromStack_ = true;
  return stack_->Open(path);
}

bool UsbSimPlatform::DeviceIoControl(Handle device, std::uint32_t code, void* buffer, std::uint32_t size,
                                     std::uint32_t* bytesReturned) {
  lastFromStack_ = true;
  *bytesReturned = 0;
  const bool ok = stack_->Request(device, code, static_cast<std::uint8_t*>(buffer), size);
  if (ok) *bytesReturned = size;
  return ok;
}

bool UsbSimPlatform::CloseHandle(Handle handle) {
  if (!stack_->Owns(handle)) {
    lastFromStack_ = false;
    return behind_->CloseHandle(handle);
  }
  lastFromStack_ = true;
  return stack_->Close(handle);
}

std::uint32_t UsbSimPlatform::GetLastError() { return lastFromStack_ ? stack_->LastError() : behind_->GetLastError(); }

}  // namespace qm::sim
