// Controller recognition and tool start: the work of the start-up once the
// launcher knows it has administrator rights.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace qm {

extern const char kCaption[];             // "Quillmark"
extern const char kDeviceNotFound[];      // no recognised controller
extern const char kContainerNotFound[];   // the container cannot be opened

// The first scanned port whose device a tool row recognises sets
// LauncherState.toolCode; false when none does.
bool SelectToolCode();

// The module path up to its last backslash, found by multibyte character
// with the lead-byte test of `system` (of Sys() when not given).
std::string LauncherDirectory(const std::string& modulePath, Platform& system);
std::string LauncherDirectory(const std::string& modulePath);

// Extracts, writes and starts the tool of LauncherState.toolCode beside the
// launcher; then, for code 1000, deletes it, else arms the watch timer on
// `frame`.
void StartTool(WindowHandle frame, const std::string& launcherDirectory);

// Start `path` 500 ms from now, by its exact path and with no arguments, if
// osClass is one of 100..103; then wait for its end, or not at all.
void LaunchAndWait(std::int32_t osClass, std::string path);
void LaunchNoWait(std::int32_t osClass, std::string path);

}  // namespace qm
