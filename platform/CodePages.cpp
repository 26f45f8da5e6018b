#include "platform/CodePages.h"

namespace qm {

const std::vector<int>& DoubleByteCodePages() {
  static const std::vector<int> pages = {932, 936, 949, 950};
  return pages;
}

bool IsAnsiCodePage(int codePage) {
  return codePage == 874 || (codePage >= 1250 && codePage <= 1258) || codePage == 932 || codePage == 936 ||
         codePage == 949 || codePage == 950;
}

bool IsLeadByteOfCodePage(int codePage, std::uint8_t byte) {
  switch (codePage) {
    case 932: return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);  // Shift JIS
    case 936:                                                                         // GBK
    case 949:                                                                         // Unified Hangul
    case 950: return byte >= 0x81 && byte <= 0xFE;                                   // Big5
    default: return false;
  }
}

}  // namespace qm
