// The administrator branch of the start-up: scan, recognise, extract, start.
#include "app/Startup.h"

namespace qm {

void RunStartSequence(WindowHandle /*frame*/) {
  // Recognition and tool start are not built yet: every run ends here with
  // keepRunning still false.
}

}  // namespace qm
