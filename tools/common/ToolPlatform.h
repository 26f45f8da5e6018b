// The platform the command-line tools run on: Win32 in the Windows build,
// the host's files in the native one.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qm {

// Sets the tools' platform as the process's and returns it: on Windows
// every role; natively the files and the system (the host has no USB stack;
// usbscan --sim brings its own).
Platform UseToolPlatform();

// The ANSI code page the launcher will run under (platform/CodePages.h).
// Native builds only: on Windows the system's applies and this does nothing.
void SetToolCodePage(int codePage);

// A command line the tool does not understand: the tool prints
// "TOOL: MESSAGE", then its usage, and ends with exit status 2.
struct UsageError {
  std::string message;
};
int ReportUsageError(const char* tool, const UsageError& error, const char* usage);

// One command-line argument (the program's name not included), both as text
// for a container (on Windows in the ANSI code page, as the launcher reads
// names and titles; elsewhere the bytes given) and as a path (on Windows the
// exact UTF-16 the user typed; elsewhere the bytes given, through UTF-8).
struct ToolArgument {
  std::string text;
  WidePath path;
};
std::vector<ToolArgument> ToolArguments(int argc, char** argv);

// A path for the standard library's file calls, and a C stream opened on
// it; neither passes through the ANSI code page.
std::filesystem::path FileSystemPath(const WidePath& path);
std::FILE* OpenStream(const WidePath& path, const char* mode);

// Why the file at `path` cannot be read as one: "" for a regular file, else
// "no such file", "is not a regular file" (a folder, a pipe, a device:
// reading one could wait for ever) or the system's reason. Looks without
// blocking, whatever stands there.
std::string RegularFileProblem(const WidePath& path);

// Whether `a` and `b` name the same existing file (through a link or
// another spelling of the path too).
bool SameFile(const WidePath& a, const WidePath& b);

}  // namespace qm
