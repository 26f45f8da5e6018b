#include "tools/common/ToolPlatform.h"

#ifdef _WIN32
#include "platform/win32/Win32Platform.h"
#include "platform/win32/WinApi.h"
#else
#include "platform/host/HostPlatform.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qm {

Platform UseToolPlatform() {
#ifdef _WIN32
  const Platform roles = Win32Roles();
#else
  const Platform roles = HostRoles();
#endif
  SetPlatform(roles);
  return roles;
}

void SetToolCodePage([[maybe_unused]] int codePage) {
#ifndef _WIN32
  SetHostCodePage(codePage);
#endif
}

int ReportUsageError(const char* tool, const UsageError& error, const char* usage) {
  std::fprintf(stderr, "%s: %s\n%s", tool, error.message.c_str(), usage);
  return 2;
}

#ifdef _WIN32

namespace {
std::string AnsiText(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.pop_back();  // the zero
  return out;
}
}  // namespace

std::vector<ToolArgument> ToolArguments(int, char**) {
  std::vector<ToolArgument> arguments;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) {
    arguments.push_back({AnsiText(wide[i]), WidePath(reinterpret_cast<const char16_t*>(wide[i]))});
  }
  ::LocalFree(wide);
  return arguments;
}

std::filesystem::path FileSystemPath(const WidePath& path) {
  return std::filesystem::path(WideChars(path));
}

namespace {

HANDLE OpenToLookAt(const WidePath& path) {
  // No access asked: even a file others hold open can be looked at; folders
  // need the backup semantics flag to be opened at all.
  return ::CreateFileW(WideChars(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}
}  // namespace

std::string RegularFileProblem(const WidePath& path) {
  HANDLE file = OpenToLookAt(path);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return "no such file";
    return "cannot be opened: Windows error " + std::to_string(error);
  }
  BY_HANDLE_FILE_INFORMATION info = {};
  // CON, pipes and other devices are not disk files; folders are not files.
  const bool regular = ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileInformationByHandle(file, &info) &&
                       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  ::CloseHandle(file);
  return regular ? std::string() : "is not a regular file";
}

bool SameFile(const WidePath& a, const WidePath& b) {
  BY_HANDLE_FILE_INFORMATION infoA = {}, infoB = {};
  HANDLE fileA = OpenToLookAt(a);
  HANDLE fileB = OpenToLookAt(b);
  const bool known = fileA != INVALID_HANDLE_VALUE && fileB != INVALID_HANDLE_VALUE &&
                     ::GetFileInformationByHandle(fileA, &infoA) && ::GetFileInformationByHandle(fileB, &infoB);
  if (fileA != INVALID_HANDLE_VALUE) ::CloseHandle(fileA);
  if (fileB != INVALID_HANDLE_VALUE) ::CloseHandle(fileB);
  return known && infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
         infoA.nFileIndexHigh == infoB.nFileIndexHigh && infoA.nFileIndexLow == infoB.nFileIndexLow;
}

std::FILE* OpenStream(const WidePath& path, const char* mode) {
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return ::_wfopen(WideChars(path), wideMode.c_str());
}

#else

std::vector<ToolArgument> ToolArguments(int argc, char** argv) {
  std::vector<ToolArgument> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back({argv[i], WidePathFromUtf8(argv[i])});
  return arguments;
}

std::filesystem::path FileSystemPath(const WidePath& path) { return std::filesystem::path(Utf8Of(path)); }

std::FILE* OpenStream(const WidePath& path, const char* mode) { return std::fopen(Utf8Of(path).c_str(), mode); }

std::string RegularFileProblem(const WidePath& path) {
  // Without blocking: opening a FIFO for reading otherwise waits for a writer.
  const int fd = ::open(Utf8Of(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? "no such file" : std::strerror(errno);
  struct stat info;
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  return regular ? std::string() : "is not a regular file";
}

bool SameFile(const WidePath& a, const WidePath& b) {
  struct stat infoA, infoB;
  return ::stat(Utf8Of(a).c_str(), &infoA) == 0 && ::stat(Utf8Of(b).c_str(), &infoB) == 0 &&
         infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
}

#endif

}  // namespace qm
