// Start-up of the main frame: its geometry, the rights test, the elevated
// re-launch and the Windows version class. The frame window itself belongs to
// the framework layer; everything it decides lives here.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace qm {

// The hidden main window's title and style (overlapped, caption, system
// menu, minimise box; never WS_VISIBLE).
extern const char kFrameTitle[];
constexpr std::uint32_t kFrameStyle = 0x00CA0000u;

struct FrameRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// Reads the screen size into LauncherState and places a 400 x 585 window as
// if it were 800 x 600 centred on the screen (signed division, toward zero).
FrameRect ComputeFrameRect();

// OS classes: 101 XP/2003, 102 Vista/2008, 103 7/2008 R2, 100 everything else
// and a failed version query.
constexpr std::int32_t kOsOther = 100;
constexpr std::int32_t kOsXp = 101;
constexpr std::int32_t kOsVista = 102;
constexpr std::int32_t kOsSeven = 103;
std::int32_t GetOsClass();

// The launcher's own full path, in UTF-16. False when the system gave none
// or cut it short at the end of its 260-unit buffer: such a path names
// something else.
bool ReadModulePath(WidePath* path);

// The one argument the launcher reads: the elevated copy is started with it.
extern const char16_t kElevatedCopyMarker[];  // "/elevated"

// Whether `commandLine` (GetCommandLineW's) carries the marker as one of
// its arguments after the program's name.
bool StartedAsElevatedCopy(const std::u16string& commandLine);

// The path to start the elevated copy by, which sees neither the drive
// letters the user mapped nor those made with subst: a path on a subst
// letter by the path the letter stands for, and then a path on a mapped
// network drive by its UNC name; any other path, or one whose letter cannot
// be read, as it is.
WidePath RelaunchPath(const WidePath& modulePath);

// Asks the shell for an elevated copy of this executable ("runas", the
// marker as its one parameter, its folder as the directory, hidden, the
// request complete before the call returns, on Vista and later for the
// window in the foreground). A declined prompt ends this instance silently;
// any other failure shows the box that says the rights are needed. A path
// the system cut short is never started: the container message is shown
// on `frame` instead, as the start sequence shows it.
void RequestElevatedRelaunch(WindowHandle frame);

// What the frame does once its window exists: without administrator rights,
// the elevated re-launch, or, in a copy started with the marker, the box
// that says the rights are needed; with them, the start sequence.
void RunFrameStartup(WindowHandle frame);

}  // namespace qm
