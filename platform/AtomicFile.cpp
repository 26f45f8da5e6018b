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
  return destination_.WithRandomSuffix(".qmtool-", bytes);
}

}  // namespace qm
