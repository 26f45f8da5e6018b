#include "app/ToolTable.h"

#include <iterator>

namespace qm {

namespace {
const ToolRow kTools[] = {
    {1000, 0x13FE, -1, "Alder.exe", "\\Alder.exe", Launch::kAndWait},
    {2000, 0x1307, -1, "Birch_2.exe", "\\Birch_1307.exe", Launch::kAndWait},
    {3000, 0x048D, 0x1167, "Cedar_3.exe", "\\Cedar_048D_1167.exe", Launch::kAndWait},
    {3001, 0x048D, 0x1168, "Cedar_4.exe", "\\Cedar_048D_1168.exe", Launch::kAndWait},
    {4000, 0x090C, -1, "Elm_5.exe", "\\Elm_5.exe", Launch::kNoWait},
};
}  // namespace

const ToolRow* FindToolRow(std::int32_t vendorId, std::int32_t productId) {
  for (const ToolRow& row : kTools) {
    if (row.vendorId == vendorId && (row.productId == -1 || row.productId == productId)) return &row;
  }
  return nullptr;
}

const ToolRow* ToolRowOfCode(std::int32_t toolCode) {
  for (const ToolRow& row : kTools) {
    if (row.toolCode == toolCode) return &row;
  }
  return nullptr;
}

}  // namespace qm
