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

// The row of a tool code, or null.
const ToolRow* ToolRowOfCode(std::int32_t toolCode);

}  // namespace qm
