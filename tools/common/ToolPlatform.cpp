#include "tools/common/ToolPlatform.h"

#ifdef _WIN32
#include "platform/win32/Win32Platform.h"
#else
#include "platform/host/HostPlatform.h"
#endif

namespace qm {

namespace {
#ifdef _WIN32
Win32Platform gToolPlatform;
#else
HostPlatform gToolPlatform;
#endif
}  // namespace

Platform& UseToolPlatform() {
  SetPlatform(&gToolPlatform);
  return gToolPlatform;
}

void SetToolCodePage([[maybe_unused]] int codePage) {
#ifndef _WIN32
  gToolPlatform.codePage = codePage;
#endif
}

}  // namespace qm
