#include "app/ToolTable.h"

namespace qm {

const std::vector<ToolRow>& ToolRows() {
  static const std::vector<ToolRow> kTools = {
      {1000, 0x13FE, -1, "Alder.exe", "\\Alder.exe", Launch::kAndWait, After::kDeleteAfterWait},
      {2000, 0x1307, -1, "Birch_2.exe", "\\Birch_1307.exe", Launch::kAndWait, After::kWatchWindow},
      {3000, 0x048D, 0x1167, "Cedar_3.exe", "\\Cedar_048D_1167.exe", Launch::kAndWait, After::kWatchWindow},
      {3001, 0x048D, 0x1168, "Cedar_4.exe", "\\Cedar_048D_1168.exe", Launch::kAndWait, After::kWatchWindow},
      {4000, 0x090C, -1, "Elm_5.exe", "\\Elm_5.exe", Launch::kNoWait, After::kWatchWindow},
  };
  return kTools;
}

const ToolRow* FindToolRow(std::int32_t vendorId, std::int32_t productId) {
  for (const ToolRow& row : ToolRows()) {
    if (row.vendorId == vendorId && (row.productId == -1 || row.productId == productId)) return &row;
  }
  return nullptr;
}

bool MayBeFlashController(std::uint8_t deviceClass) {
  return deviceClass == 0x00 || deviceClass == 0x08 || deviceClass == 0xFF;
}

const ToolRow* RecognisedToolRow(std::int32_t vendorId, std::int32_t productId, std::uint8_t deviceClass) {
  return MayBeFlashController(deviceClass) ? FindToolRow(vendorId, productId) : nullptr;
}

const ToolRow* ToolRowOfCode(std::int32_t toolCode) {
  for (const ToolRow& row : ToolRows()) {
    if (row.toolCode == toolCode) return &row;
  }
  return nullptr;
}

}  // namespace qm
