#include "app/LauncherState.h"

namespace qm {

LauncherStateRecord LauncherState;

void ResetLauncherState() {
  LauncherState.toolProcess.Release();
  LauncherState = LauncherStateRecord();
}

}  // namespace qm
