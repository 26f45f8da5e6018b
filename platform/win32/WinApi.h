// <windows.h> for the Win32 side, without the A/W name macros that would
// rename the seam's own operations (CreateFile, MessageBox, ...).
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#undef CreateFile
#undef CreateProcess
#undef DeleteFile
#undef GetModuleFileName
#undef GetVersionEx
#undef GetWindowText
#undef MessageBox
#undef SetFileAttributes
#undef ShellExecuteEx
