// The controller families the launcher recognises, and each one's tool.
#pragma once

#include <cstdint>

namespace qm {

enum class Launch { kAndWait, kNoWait };

struct ToolRow {
  std::int32_t toolCode;
  std::int32_t vendorId;
  std::int32_t productId;   // -1: any product
  const char* entryName;    // the tool's name in the container
  const char* writtenName;  // appended to the launcher directory, backslash included
  Launch launch;
};

// The row whose vendor and product ids match, or null.
const ToolRow* FindToolRow(std::int32_t vendorId, std::int32_t productId);

// The row of a tool code, or null.
const ToolRow* ToolRowOfCode(std::int32_t toolCode);

}  // namespace qm
