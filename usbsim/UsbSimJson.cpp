// Reading the simulated stack's description: JSON, checked value by value,
// each fault named with its place (docs/usb-sim-format.md).
#include <nlohmann/json.hpp>

#include <set>
#include <stdexcept>
#include <vector>

#include "usb/UsbScan.h"
#include "usbsim/UsbSim.h"

namespace qm::sim {

namespace {

using Json = nlohmann::json;

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

bool Boolean(const Json& object, const char* key, const Place& where, bool fallback) {
  if (!object.contains(key)) return fallback;
  if (!object.at(key).is_boolean()) Fault(where.Key(key), "must be true or false");
  return object.at(key).get<bool>();
}

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

std::unique_ptr<Device> ReadDevice(const Json& json, const Place& where) {
  CheckKeys(json, where, {"idVendor", "idProduct", "deviceClass", "deviceSubClass", "deviceProtocol", "iManufacturer",
                          "iProduct", "iSerialNumber", "strings", "languages", "descriptorError"});
  auto device = std::make_unique<Device>();
  device->idVendor = static_cast<std::uint16_t>(Number(json, "idVendor", where, 0, 65535, 0));
  device->idProduct = static_cast<std::uint16_t>(Number(json, "idProduct", where, 0, 65535, 0));
  device->deviceClass = static_cast<std::uint8_t>(Number(json, "deviceClass", where, 0, 255, 0));
  device->deviceSubClass = static_cast<std::uint8_t>(Number(json, "deviceSubClass", where, 0, 255, 0));
  device->deviceProtocol = static_cast<std::uint8_t>(Number(json, "deviceProtocol", where, 0, 255, 0));
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
      // Plain decimal: "01" and "1" would otherwise be two keys for one index.
      if (key.empty() || key.size() > 3 || key[0] == '0' || key.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(key) > 255) {
        Fault(place, "key \"" + key + "\" must be a string index from 1 to 255, written plainly");
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
                            "driverKeyError", "rootHubName", "rootHubNameError", "rootHub"});
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
