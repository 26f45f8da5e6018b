// <windows.h> for the Win32 side, without the A/W name macros that would
// rename the seam's own operations (CreateFile, MessageBox, ...).
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "platform/WidePath.h"

#undef CreateFile
#undef CreateProcess
#undef DeleteFile
#undef GetCommandLine
#undef GetDriveType
#undef GetFileAttributes
#undef GetModuleFileName
#undef GetVersionEx
#undef GetWindowText
#undef MessageBox
#undef MoveFileEx
#undef QueryDosDevice
#undef ReplaceFile
#undef WNetGetConnection
#undef SetFileAttributes
#undef ShellExecuteEx

// A path's UTF-16 units as the wide calls take them (mingw's wchar_t is
// UTF-16, as char16_t is).
inline const wchar_t* WideChars(const std::u16string& units) { return reinterpret_cast<const wchar_t*>(units.c_str()); }
inline const wchar_t* WideChars(const qm::WidePath& path) { return WideChars(path.Units()); }
