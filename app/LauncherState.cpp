#include "app/LauncherState.h"

namespace qm {

LauncherStateRecord LauncherState;

void ResetLauncherState() { LauncherState = LauncherStateRecord(); }

}  // namespace qm
