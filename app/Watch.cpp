#include "app/Watch.h"

namespace qm {

void WatchTick(WindowHandle /*frame*/, std::uintptr_t /*timerId*/) {
  // No timer is armed yet: the tool start does not exist so far.
}

}  // namespace qm
