// usbscan's details of each device: gathered during the walk, and put in
// words for a technician and in JSON.
#pragma once

#include <map>
#include <string>

#include "usb/DeviceDetails.h"
#include "usb/UsbScan.h"

namespace qm {

// What a port's connection information says, for every port the walk
// records; a hub's own strings are read by usbscan alone.
struct PortFacts {
  bool answered = false;  // false: the connection request failed
  std::uint32_t status = 0;
  bool isHub = false;
  std::uint16_t idVendor = 0, idProduct = 0;
  std::uint8_t configurationValue = 0;
  std::uint32_t openPipes = 0;
  std::string manufacturer, product, serialNumber;  // a hub's
};

// Reads what each port holds and the details of each device and hub the
// walk records, by its record.
class DetailsCollector final : public DeviceObserver {
 public:
  void OnPort(Handle hub, std::uint32_t port, const std::uint8_t* connection, bool answered,
              std::size_t record) override;
  void OnDevice(Handle hub, std::uint32_t port, const std::uint8_t* connection, std::size_t record) override {
    details_[record] = ReadDeviceDetails(hub, port, connection);
  }
  // The details of record `record`, or null for a port with no device or hub.
  const DeviceDetails* Of(std::size_t record) const {
    auto found = details_.find(record);
    return found != details_.end() ? &found->second : nullptr;
  }
  const PortFacts* PortOf(std::size_t record) const {
    auto found = ports_.find(record);
    return found != ports_.end() ? &found->second : nullptr;
  }

 private:
  std::map<std::size_t, DeviceDetails> details_;
  std::map<std::size_t, PortFacts> ports_;
};

// Windows' name of a ConnectionStatus ("DeviceFailedEnumeration"), or its
// number for one Windows does not name.
std::string ConnectionStatusName(std::uint32_t status);

// A port that holds neither a device nor a hub, in a technician's words
// with what to try: "empty", or the trouble Windows reports.
std::string PortStateText(const PortFacts& port);

// The port holds a device or a hub: the hub answered, DeviceConnected.
bool Connected(const PortFacts& port);

// A connected device Windows did not configure: its driver did not start.
bool NotConfigured(const PortFacts& port);
extern const char kNotConfiguredNote[];

// A class in a technician's words, with its number ("camera or composite
// (0xEF)"), for a device class.
std::string DeviceClassText(std::uint8_t deviceClass);

// The lines under a device's line, each without its indentation.
std::vector<std::string> DetailLines(const DeviceDetails& details);

// The JSON members the details add to a record, from ", " on; every member
// is there (null) for a record without details.
std::string DetailMembers(const DeviceDetails* details);

}  // namespace qm
