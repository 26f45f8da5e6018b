// What AtomicFile does alike on every system.
#include "platform/AtomicFile.h"

#include <chrono>
#include <cstring>

namespace qm {

AtomicFile::AtomicFile(WidePath destination) : destination_(std::move(destination)) {}

WidePath AtomicFile::UnguessableName() const {
  unsigned char bytes[8] = {};
  if (!RandomBytes(bytes, sizeof(bytes))) {
    // No randomness to be had: the exclusive creation still never reuses a file.
    const auto now = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::memcpy(bytes, &now, sizeof(bytes));
  }
  static const char kHex[] = "0123456789abcdef";
  std::string suffix = ".qmtool-";
  for (unsigned char byte : bytes) {
    suffix += kHex[byte >> 4];
    suffix += kHex[byte & 0xF];
  }
  return destination_.Joined(suffix.c_str());
}

}  // namespace qm
