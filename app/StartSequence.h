// Controller recognition and tool start: the work of the start-up once the
// launcher knows it has administrator rights.
#pragma once

#include <cstdint>
#include <string>

#include "container/ContainerState.h"
#include "platform/OwnedHandle.h"
#include "platform/Platform.h"

namespace qm {

extern const char kCaption[];             // "Quillmark"
extern const char kDeviceNotFound[];      // no recognised controller
extern const char kContainerNotFound[];   // the container cannot be opened
extern const char kRightsNeeded[];        // an elevated copy that still lacks the rights

// A message box of the launcher: owned by `frame`, caption "Quillmark",
// MB_OK | MB_ICONHAND | MB_SETFOREGROUND | MB_TOPMOST.
void ShowLauncherMessage(WindowHandle frame, const std::string& text);

// The administrator branch of the start-up: scans the USB ports, recognises
// the controller, loads the container and starts the tool, or says why not.
void RunStartSequence(WindowHandle frame);

// The first scanned port whose device a tool row recognises, and whose
// class allows a flash drive, sets LauncherState.toolCode; false when none
// does.
bool SelectToolCode();

// The module path up to, not including, its last backslash. In UTF-16 a
// backslash is never part of another character.
WidePath LauncherDirectory(const WidePath& modulePath);

// A launcher directory as a current directory: a drive's root ("C:") gets
// its backslash.
WidePath CurrentDirectoryOf(const WidePath& directory);

// Extracts, writes and starts the tool of LauncherState.toolCode beside the
// launcher; then, as its row of the tool table says, deletes it after the
// wait, or arms the watch timer on `frame`. A tool that cannot be
// extracted, written whole or started is deleted again and reported in a
// message box, and the launcher ends.
void StartTool(WindowHandle frame, const WidePath& launcherDirectory, const ContainerStateRecord& container);

// Start `path` 500 ms from now, by its exact path, with no arguments and in
// its own folder as the current directory, if osClass is one of 100..103;
// `heldFile` (when given) is closed once CreateProcessW has returned. LaunchAndWait then waits for the program's
// end, answering the thread's messages meanwhile; it returns whether the
// program was started. LaunchNoWait returns the running program's process
// handle, or none when nothing started.
bool LaunchAndWait(std::int32_t osClass, const WidePath& path, OwnedHandle heldFile = OwnedHandle());
OwnedHandle LaunchNoWait(std::int32_t osClass, const WidePath& path, OwnedHandle heldFile = OwnedHandle());

// Deletes every path of LauncherState.extractedFiles: up to three attempts
// each, each after 500 ms. A file still there after the third is left to
// the system to delete at the next restart.
void DeleteExtractedFiles();

// What ends a run that started a tool: the tool's process handle, when one
// is held, is closed, and DeleteExtractedFiles.
// Runs once; a second call does nothing.
void FinishWithTool();

// Whatever ended the main message loop (the watch, a WM_CLOSE to the frame,
// a WM_QUIT kept from the wait for a tool): a tool written and not yet
// cleaned up has its watch timer killed and FinishWithTool run.
void FinishAfterMessageLoop(WindowHandle frame);

}  // namespace qm
