// The controller families the launcher recognises, and each one's tool: the
// one table that the start, the watch and usbscan read.
#pragma once

#include <cstdint>
#include <vector>

namespace qm {

enum class Launch { kAndWait, kNoWait };

// What follows the start of the tool.
enum class After {
  kDeleteAfterWait,  // wait 2 s more, then delete the tool; no watch
  kWatchWindow,      // the watch timer, its identifier the tool code
};

struct ToolRow {
  std::int32_t toolCode;
  std::int32_t vendorId;
  std::int32_t productId;   // -1: any product
  const char* entryName;    // the tool's name in the container
  const char* writtenName;  // appended to the launcher directory, backslash included
  Launch launch;
  After after;
};

// Every row, in the order recognition tries them.
const std::vector<ToolRow>& ToolRows();

// The row whose vendor and product ids match, or null.
const ToolRow* FindToolRow(std::int32_t vendorId, std::int32_t productId);

// Whether a device of this class (bDeviceClass of its device descriptor)
// can be a flash drive's controller: 0x00 (classes defined per interface),
// 0x08 (mass storage) and 0xFF (vendor-specific, as a drive in its maker's
// own mode declares) can. Any other class cannot, whatever the device's ids:
// a built-in camera of a listed vendor declares 0xEF, a Bluetooth radio 0xE0.
bool MayBeFlashController(std::uint8_t deviceClass);

// The row that decides for a device: the row of its ids, unless its class
// says it is no flash drive. Null when nothing decides.
const ToolRow* RecognisedToolRow(std::int32_t vendorId, std::int32_t productId, std::uint8_t deviceClass);

// The row of a tool code, or null.
const ToolRow* ToolRowOfCode(std::int32_t toolCode);

}  // namespace qm
