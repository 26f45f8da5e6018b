// Reading the simulated stack's description: JSON, checked value by value,
// each fault named with its place (docs/usb-sim-format.md).
#include <cstdio>
#include <cstring>
#include <set>
#include <stdexcept>
#include <vector>

#include "usb/UsbIoctl.h"
#include "usb/UsbScan.h"
#include "usbsim/JsonReading.h"

namespace qm::sim {

void Fault(const Place& where, const std::string& what) { throw std::runtime_error(where.Text() + ": " + what); }

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

bool Boolean(const Json& object, const char* key, const Place& where, bool fallback) {
  if (!object.contains(key)) return fallback;
  if (!object.at(key).is_boolean()) Fault(where.Key(key), "must be true or false");
  return object.at(key).get<bool>();
}

const Json& List(const Json& object, const char* key, const Place& where) {
  static const Json kEmpty = Json::array();
  if (!object.contains(key)) return kEmpty;
  if (!object.at(key).is_array()) Fault(where.Key(key), "must be a list");
  return object.at(key);
}

// A text served as UTF-16: a JSON string, each character as its UTF-16
// encoding (one above U+FFFF as a surrogate pair), or a list of code units
// 0 to 65535, which can also spell what a string cannot (a lone surrogate).
std::u16string Utf16(const Json& object, const char* key, const Place& where, const std::u16string& fallback) {
  if (!object.contains(key)) return fallback;
  const Json& value = object.at(key);
  if (value.is_array()) {
    std::u16string units;
    for (std::size_t i = 0; i < value.size(); ++i) {
      const Json& unit = value[i];
      if (!unit.is_number_integer() || unit.get<std::int64_t>() < 0 || unit.get<std::int64_t>() > 0xFFFF) {
        Fault(where.Key(key).Index(i), "must be a UTF-16 code unit from 0 to 65535");
      }
      units += static_cast<char16_t>(unit.get<std::int64_t>());
    }
    return units;
  }
  if (!value.is_string()) Fault(where.Key(key), "must be a string or a list of UTF-16 code units");
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

namespace {

// A device path: printable ASCII, as the system's are.
std::string Ascii(const Json& object, const char* key, const Place& where, const std::string& fallback) {
  if (!object.contains(key)) return fallback;
  const Json& value = object.at(key);
  if (!value.is_string()) Fault(where.Key(key), "must be a string");
  const std::string text = value.get<std::string>();
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) Fault(where.Key(key), "must be printable ASCII");
  }
  if (text.compare(0, 4, "\\\\?\\") != 0) Fault(where.Key(key), "must begin with \\\\?\\");
  return text;
}

std::u16string Decimal(int number) {
  const std::string text = std::to_string(number);
  return std::u16string(text.begin(), text.end());
}

// `depth` counts the hubs between this one and the root hub, itself
// included: 0 for a root hub. The ports of a hub whose own device runs at
// SuperSpeed carry SuperSpeed unless described otherwise.
std::unique_ptr<Hub> ReadHub(const Json& json, const Place& where, int depth, bool superSpeedPorts);

Connector ReadConnector(const Json& json, const Place& where) {
  CheckKeys(json, where, {"userConnectable", "debugCapable", "multipleCompanions", "typeC", "companionIndex",
                          "companionPort", "companionHubName"});
  Connector c;
  c.userConnectable = Boolean(json, "userConnectable", where, true);
  c.debugCapable = Boolean(json, "debugCapable", where, false);
  c.multipleCompanions = Boolean(json, "multipleCompanions", where, false);
  c.typeC = Boolean(json, "typeC", where, false);
  c.companionIndex = static_cast<std::uint16_t>(Number(json, "companionIndex", where, 0, 65535, 0));
  c.companionPort = static_cast<std::uint16_t>(Number(json, "companionPort", where, 0, 65535, 0));
  c.companionHubName = Utf16(json, "companionHubName", where, u"");
  return c;
}

void ReadExternalHub(const Json& hub, const Place& place, int depth, Port* port) {
  const bool superSpeed = hub.contains("device") && SpeedOf(hub.at("device"), place.Key("device")) >= Speed::kSuper;
  port->hub = ReadHub(hub, place, depth + 1, superSpeed);
  port->name = Utf16(hub, "name", place, u"");
  if (port->name.empty()) Fault(place, "needs a \"name\"");
  port->nameError = ErrorCode(hub, "nameError", place);
  port->device = hub.contains("device")
                     ? ReadDevice(hub.at("device"), place.Key("device"), port->hub->numberOfPorts, port->hub->busPowered)
                     : DefaultHubDevice(port->hub->numberOfPorts, port->hub->busPowered);
}

Port ReadPort(const Json& json, const Place& where, int depth, bool superSpeedPort) {
  CheckKeys(json, where, {"status", "connectionInfoError", "device", "hub", "connector", "superSpeed"});
  Port port;
  if (json.contains("device") && json.contains("hub")) Fault(where, "has both \"device\" and \"hub\"");
  if (json.contains("device")) port.device = ReadDevice(json.at("device"), where.Key("device"), -1, false);
  if (json.contains("hub")) ReadExternalHub(json.at("hub"), where.Key("hub"), depth, &port);
  const bool attached = json.contains("device") || json.contains("hub");
  port.status = static_cast<std::uint32_t>(Number(json, "status", where, 0, 0xFFFFFFFFLL, attached ? 1 : 0));
  port.connectionInfoError = ErrorCode(json, "connectionInfoError", where);
  if (json.contains("connector")) port.connector = ReadConnector(json.at("connector"), where.Key("connector"));
  // "only": SuperSpeed alone, as on an xHCI root hub's SuperSpeed ports,
  // whose USB 2.0 halves are companion ports of their own.
  port.superSpeedOnly = json.contains("superSpeed") && json.at("superSpeed") == "only";
  port.superSpeed = port.superSpeedOnly || Boolean(json, "superSpeed", where, superSpeedPort);
  if (port.device && port.device->speed >= Speed::kSuper && !port.superSpeed) {
    Fault(where, "its device runs at SuperSpeed on a port that carries none (\"superSpeed\": false)");
  }
  if (port.superSpeedOnly && port.device && port.device->speed < Speed::kSuper) {
    Fault(where, "runs below SuperSpeed on a port that carries SuperSpeed alone (it would be on the USB 2.0 companion)");
  }
  return port;
}

std::unique_ptr<Hub> ReadHub(const Json& json, const Place& where, int depth, bool superSpeedPorts) {
  if (depth > 0) {
    CheckKeys(json, where, {"ports", "numberOfPorts", "openError", "nodeInfoError", "name", "nameError", "device",
                            "wHubCharacteristics", "bPowerOnToPowerGood", "bHubControlCurrent", "busPowered", "legacy", "windows7",
                            "emptyPortsReadZero"});
  } else {
    CheckKeys(json, where, {"ports", "numberOfPorts", "openError", "nodeInfoError", "wHubCharacteristics",
                            "bPowerOnToPowerGood", "bHubControlCurrent", "busPowered", "legacy", "windows7",
                            "emptyPortsReadZero"});
  }
  // The walk never opens a hub below this depth: a description that needs
  // one describes a machine the walk cannot see.
  if (depth > kMaxHubDepth) Fault(where, "hubs nested deeper than the walk goes (" + std::to_string(kMaxHubDepth) + ")");
  auto hub = std::make_unique<Hub>();
  const Json& ports = List(json, "ports", where);
  if (ports.size() > 255) Fault(where.Key("ports"), "must hold at most 255 ports");
  for (std::size_t i = 0; i < ports.size(); ++i) {
    hub->ports.push_back(ReadPort(ports[i], where.Key("ports").Index(i), depth, superSpeedPorts));
  }
  hub->numberOfPorts = static_cast<int>(Number(json, "numberOfPorts", where, 0, 255,
                                               static_cast<std::int64_t>(hub->ports.size())));
  // The ports counted beyond the list are empty ones.
  if (hub->ports.size() < static_cast<std::size_t>(hub->numberOfPorts)) {
    hub->ports.resize(static_cast<std::size_t>(hub->numberOfPorts));
    for (std::size_t i = ports.size(); i < hub->ports.size(); ++i) hub->ports[i].superSpeed = superSpeedPorts;
  }
  hub->openError = ErrorCode(json, "openError", where);
  hub->nodeInfoError = ErrorCode(json, "nodeInfoError", where);
  hub->hubCharacteristics = static_cast<std::uint16_t>(Number(json, "wHubCharacteristics", where, 0, 65535, 0x0009));
  hub->powerOnToPowerGood = static_cast<std::uint8_t>(Number(json, "bPowerOnToPowerGood", where, 0, 255, 50));
  hub->hubControlCurrent = static_cast<std::uint8_t>(Number(json, "bHubControlCurrent", where, 0, 255, 0));
  hub->busPowered = Boolean(json, "busPowered", where, false);
  hub->legacy = Boolean(json, "legacy", where, false);
  hub->windows7 = Boolean(json, "windows7", where, false);
  hub->emptyPortsReadZero = Boolean(json, "emptyPortsReadZero", where, false);
  return hub;
}

// --- what the machine settles once read: where each hub stands, and each
// connected device's address on its controller and its driver key ---

struct Connected {
  Device* device;
  std::string place;  // for a fault only
};

void SettleHub(Hub& hub, const Controller& controller, const std::string& place, std::vector<Connected>* devices) {
  hub.controller = &controller;
  for (std::size_t i = 0; i < hub.ports.size(); ++i) {
    Port& port = hub.ports[i];
    const std::string at = place + ".ports[" + std::to_string(i) + "]" + (port.hub ? ".hub" : "");
    if (port.status == usb::kDeviceConnected && port.device) devices->push_back({port.device.get(), at + ".device"});
    if (!port.hub) continue;
    port.hub->ownDevice = port.device.get();
    SettleHub(*port.hub, controller, at, devices);
  }
}

// Addresses in enumeration order (depth first), 1 to 127, skipping those
// described; driver keys numbered across the machine, after the controllers'.
void SettleController(Controller& controller, const Place& where, int* nextKey) {
  std::vector<Connected> devices;
  SettleHub(*controller.rootHub, controller, where.Text() + ".rootHub", &devices);
  if (devices.size() > 127) {
    Fault(where, std::to_string(devices.size()) + " devices on one controller, which addresses at most 127");
  }
  std::vector<bool> taken(128, false);
  for (const Connected& connected : devices) {
    const std::uint16_t address = connected.device->address;
    if (address != 0 && taken[address]) {
      throw std::runtime_error(connected.place + ".address: " + std::to_string(address) +
                               " is another device's on the same controller");
    }
    taken[address] = true;
  }
  std::uint16_t next = 1;
  for (const Connected& connected : devices) {
    if (connected.device->address == 0) {
      while (taken[next]) ++next;
      connected.device->address = next++;
    }
    if (connected.device->driverKeyName.empty()) {
      char key[16];
      std::snprintf(key, sizeof(key), "\\%04d", (*nextKey)++);
      connected.device->driverKeyName = u"{36FC9E60-C465-11CF-8056-444553540000}" + std::u16string(key, key + std::strlen(key));
    }
  }
}

// A first reading that only looks for a key given twice in one object (the
// JSON reader would keep the last one silently), and names its place.
class DuplicateKeyFinder : public nlohmann::json_sax<Json> {
 public:
  bool null() override { return Value(); }
  bool boolean(bool) override { return Value(); }
  bool number_integer(number_integer_t) override { return Value(); }
  bool number_unsigned(number_unsigned_t) override { return Value(); }
  bool number_float(number_float_t, const string_t&) override { return Value(); }
  bool string(string_t&) override { return Value(); }
  bool binary(binary_t&) override { return Value(); }
  bool start_object(std::size_t) override { return Open(true); }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override { return Open(false); }
  bool end_array() override { return Close(); }
  bool key(string_t& key) override {
    Level& level = levels_.back();
    if (!level.keys.insert(key).second) {
      throw std::runtime_error(PlaceText() + ": the key \"" + key + "\" is given twice");
    }
    level.key = key;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;  // the real reading reports it
  }

 private:
  struct Level {
    bool object;
    std::set<std::string> keys;
    std::string key;        // in an object: the key whose value is read
    std::size_t index = 0;  // in a list: the element being read
  };
  // A value ends an element of a list.
  bool Value() {
    if (!levels_.empty() && !levels_.back().object) ++levels_.back().index;
    return true;
  }
  bool Open(bool object) {
    levels_.push_back({object, {}, {}, 0});
    return true;
  }
  bool Close() {
    levels_.pop_back();
    return Value();
  }
  std::string PlaceText() const {
    std::string text;
    for (std::size_t i = 0; i + 1 < levels_.size(); ++i) {
      text += levels_[i].object ? (text.empty() ? "" : ".") + levels_[i].key : "[" + std::to_string(levels_[i].index) + "]";
    }
    return text.empty() ? "(top level)" : text;
  }
  std::vector<Level> levels_;
};

}  // namespace

UsbSimStack UsbSimStack::FromJson(const std::string& text) {
  Json json;
  try {
    json = Json::parse(text);
  } catch (const Json::exception& error) {  // bad syntax, or a number out of range
    throw std::runtime_error(std::string("not valid JSON: ") + error.what());
  }
  DuplicateKeyFinder duplicates;
  Json::sax_parse(text, &duplicates);
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
    CheckKeys(item, where, {"number", "interface", "interfacePath", "interfaceOpenError", "driverKeyName",
                            "driverKeyError", "rootHubName", "rootHubNameError", "rootHub", "pciVendorId",
                            "pciDeviceId", "pciRevision", "controllerFlavor", "hcFeatureFlags"});
    Controller controller;
    controller.number = static_cast<int>(Number(item, "number", where, 0, 9, -1));
    controller.listedAsInterface = Boolean(item, "interface", where, true);
    if (controller.number < 0 && !controller.listedAsInterface) {
      Fault(where, "has neither a \"number\" nor an interface, so nothing can reach it");
    }
    for (const Controller& other : stack.controllers_) {
      if (controller.number >= 0 && other.number == controller.number) {
        Fault(where.Key("number"), "controller " + std::to_string(other.number) + " is listed twice");
      }
    }
    controller.interfacePath = Ascii(item, "interfacePath", where,
                                     "\\\\?\\hc" + std::to_string(i) + "#{3abf6f2d-71c4-462a-8a92-1e6861e6af27}");
    controller.interfaceOpenError = ErrorCode(item, "interfaceOpenError", where);
    // Default names from the number, or from the position for a controller
    // without one, so that no two controllers share them by default.
    const std::u16string tag = Decimal(controller.number >= 0 ? controller.number : 10 + static_cast<int>(i));
    controller.driverKeyName = Utf16(item, "driverKeyName", where,
                                     u"{36FC9E60-C465-11CF-8056-444553540000}\\" + std::u16string(4 - std::min<std::size_t>(4, tag.size()), u'0') + tag);
    controller.driverKeyError = ErrorCode(item, "driverKeyError", where);
    controller.rootHubName = Utf16(item, "rootHubName", where,
                                   u"USB#ROOT_HUB20#4&" + tag + u"#{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
    controller.rootHubNameError = ErrorCode(item, "rootHubNameError", where);
    controller.rootHub = item.contains("rootHub") ? ReadHub(item.at("rootHub"), where.Key("rootHub"), 0, false)
                                                  : std::make_unique<Hub>();
    controller.pciVendorId = static_cast<std::uint32_t>(Number(item, "pciVendorId", where, 0, 65535, 0x8086));
    controller.pciDeviceId = static_cast<std::uint32_t>(Number(item, "pciDeviceId", where, 0, 65535, 0x3B34));
    controller.pciRevision = static_cast<std::uint32_t>(Number(item, "pciRevision", where, 0, 255, 5));
    controller.flavor = static_cast<std::uint32_t>(Number(item, "controllerFlavor", where, 0, 0xFFFFFFFFLL, 1000));
    controller.featureFlags = static_cast<std::uint32_t>(Number(item, "hcFeatureFlags", where, 0, 0xFFFFFFFFLL, 3));
    stack.controllers_.push_back(std::move(controller));
  }
  int nextKey = 1000;
  for (std::size_t i = 0; i < stack.controllers_.size(); ++i) SettleController(stack.controllers_[i], top.Index(i), &nextKey);
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

UsbSimStack UsbSimStack::FromFile(const WidePath& path, FileSystem& system) {
  const FileOpenRequest request{win::kGenericRead, win::kFileShareRead, win::kOpenExisting, win::kFileAttributeNormal};
  const Handle file = system.CreateFileW(path, request);
  if (file == kInvalidHandle) throw std::runtime_error("cannot be opened");
  std::string text;
  char chunk[65536];
  std::uint32_t got = 0;
  bool ok = true;
  while ((ok = system.ReadFile(file, chunk, sizeof(chunk), &got)) && got > 0) text.append(chunk, got);
  system.CloseHandle(file);
  if (!ok) throw std::runtime_error("cannot be read");
  return FromJson(text);
}

}  // namespace qm::sim
