// The description reader's own helpers (usbsim/UsbSimJson.cpp and
// usbsim/DeviceJson.cpp): each value checked, each fault named with its place.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "usbsim/UsbSim.h"

namespace qm::sim {

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

[[noreturn]] void Fault(const Place& where, const std::string& what);
void CheckKeys(const Json& object, const Place& where, std::initializer_list<const char*> allowed);
std::int64_t Number(const Json& object, const char* key, const Place& where, std::int64_t low, std::int64_t high,
                    std::int64_t fallback);
std::uint32_t ErrorCode(const Json& object, const char* key, const Place& where);
bool Boolean(const Json& object, const char* key, const Place& where, bool fallback);
std::u16string Utf16(const Json& object, const char* key, const Place& where, const std::u16string& fallback);
// The elements of a list under `key` (an empty list when it is absent).
const Json& List(const Json& object, const char* key, const Place& where);

// A device on a port, or a hub's own device: then `hubPorts` is the hub's
// port count (else -1) and `hubBusPowered` how it is powered.
std::unique_ptr<Device> ReadDevice(const Json& json, const Place& where, int hubPorts, bool hubBusPowered);
// A device's "speed", high when absent.
Speed SpeedOf(const Json& object, const Place& where);
// A hub's own device when the description gives none: a hub's descriptor.
std::unique_ptr<Device> DefaultHubDevice(int hubPorts, bool busPowered);

}  // namespace qm::sim
