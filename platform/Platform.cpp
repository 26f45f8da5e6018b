// The process-wide platform pointer behind Sys().
#include "platform/Platform.h"

#include <cstdio>
#include <cstdlib>

namespace qm {
namespace {
Platform* gPlatform = nullptr;
}

Platform& Sys() {
  if (gPlatform == nullptr) {
    // A programming error: every entry point sets its platform first.
    std::fputs("no platform set\n", stderr);
    std::abort();
  }
  return *gPlatform;
}

void SetPlatform(Platform* platform) { gPlatform = platform; }

}  // namespace qm
