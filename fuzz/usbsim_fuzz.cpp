// The simulated stack's description loader and the launcher's walk over it.
//
// An input that begins with "{" is a description in JSON, taken as it is: it
// is either refused with a message or scanned. Any other input is a compact
// encoding of a machine (controllers with or without a legacy name and an
// interface, hubs nested to any depth, devices, every error a description
// can give), turned into JSON here, so that the fuzzer spends its time in
// the walk's failure paths rather than in the JSON reader. Either way the
// scan must leave no handle open and account for every controller.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "tests/fake/FakePlatform.h"
#include "usb/UsbScan.h"
#include "usbsim/UsbSim.h"

namespace {

class Encoded {
 public:
  Encoded(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::string Machine() {
    std::string json = "{\"controllers\": [";
    const int controllers = Byte() % 13;
    for (int i = 0; i < controllers; ++i) json += (i ? ", " : "") + Controller();
    return json + "]}";
  }

 private:
  std::uint8_t Byte() { return offset_ < size_ ? data_[offset_++] : 0; }
  bool Bit(std::uint8_t flags, int bit) { return (flags >> bit) & 1; }
  std::string Error() { return std::to_string(1 + Byte() % 40); }

  std::string Controller() {
    const std::uint8_t flags = Byte();
    std::string json = "{";
    // Numbers may repeat and a controller may have no way in: the loader
    // must refuse such a description with a message.
    if (Bit(flags, 0)) json += "\"number\": " + std::to_string(Byte() % 10) + ", ";
    if (Bit(flags, 1)) json += "\"interface\": false, ";
    if (Bit(flags, 2)) json += "\"driverKeyError\": " + Error() + ", ";
    if (Bit(flags, 3)) json += "\"rootHubNameError\": " + Error() + ", ";
    if (Bit(flags, 4)) json += "\"driverKeyName\": \"KEY" + std::to_string(Byte() % 3) + "\", ";  // seen twice
    if (Bit(flags, 5)) json += "\"interfaceOpenError\": " + Error() + ", ";
    return json + "\"rootHub\": " + Hub(0) + "}";
  }

  std::string Hub(int depth) {
    const std::uint8_t flags = Byte();
    std::string json = "{";
    if (Bit(flags, 0)) json += "\"openError\": " + Error() + ", ";
    if (Bit(flags, 1)) json += "\"nodeInfoError\": " + Error() + ", ";
    const int ports = Byte() % 6;
    if (Bit(flags, 2)) json += "\"numberOfPorts\": " + std::to_string(Byte()) + ", ";
    json += "\"ports\": [";
    for (int i = 0; i < ports; ++i) json += (i ? ", " : "") + Port(depth);
    return json + "]}";
  }

  std::string Port(int depth) {
    const std::uint8_t flags = Byte();
    std::string json = "{";
    if (Bit(flags, 0)) json += "\"connectionInfoError\": " + Error() + ", ";
    if (Bit(flags, 1)) json += "\"status\": " + std::to_string(Byte() % 8) + ", ";
    const int kind = (flags >> 2) % 3;
    if (kind == 1) json += "\"device\": " + Device() + ", ";
    // Deeper than the walk goes is refused by the loader; names may repeat,
    // as a stack that reports a hub inside itself.
    if (kind == 2 && depth < 18) {
      std::string hub = Hub(depth + 1);
      hub.insert(1, "\"name\": \"H" + std::to_string(Byte() % 8) + "\", " +
                        (Bit(flags, 5) ? "\"nameError\": " + Error() + ", " : std::string()));
      json += "\"hub\": " + hub + ", ";
    }
    if (json.size() > 1) json.erase(json.size() - 2);
    return json + "}";
  }

  std::string Device() {
    static const int kVendors[] = {0x13FE, 0x1307, 0x048D, 0x090C, 0x1234};
    const std::uint8_t flags = Byte();
    std::string json = "{\"idVendor\": " + std::to_string(kVendors[Byte() % 5]) +
                       ", \"idProduct\": " + std::to_string(0x1165 + Byte() % 5);
    json += ", \"iManufacturer\": " + std::to_string(Byte() % 4) + ", \"iProduct\": " + std::to_string(Byte() % 4) +
            ", \"iSerialNumber\": " + std::to_string(Byte() % 4);
    if (Bit(flags, 0)) json += ", \"descriptorError\": " + Error();
    if (Bit(flags, 1)) json += ", \"languages\": []";
    json += ", \"strings\": {";
    for (int index = 1, count = 0; index <= 3; ++index) {
      if (!Bit(flags, 1 + index)) continue;
      // Up to 300 units: longer than a descriptor holds.
      json += std::string(count++ ? ", " : "") + "\"" + std::to_string(index) + "\": \"" +
              std::string(Byte() * 300 / 255, 'x') + "\"";
    }
    return json + "}}";
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qm::test::FakePlatform behind;  // fresh per input: nothing recorded piles up
  const std::string text = size > 0 && data[0] == '{' ? std::string(reinterpret_cast<const char*>(data), size)
                                                      : Encoded(data, size).Machine();
  try {
    qm::sim::UsbSimStack stack = qm::sim::UsbSimStack::FromJson(text);
    qm::SetPlatform(qm::sim::WithSimulatedStack(qm::PlatformOf(behind), stack));
    qm::ResetUsbScanState();
    qm::ScanUsbDevices();
    if (stack.OpenHandles() != 0) __builtin_trap();  // a handle left open
    // Every controller that opened is accounted for, once per way in.
    if (qm::UsbScanState.controllers.size() > 2 * stack.Controllers().size()) __builtin_trap();
    qm::SetPlatform({});
  } catch (const std::runtime_error& error) {
    qm::SetPlatform({});
    if (std::string(error.what()).empty()) __builtin_trap();  // a refusal says why
  }
  return 0;
}
