#include "platform/host/HostPlatform.h"

#include "platform/CodePages.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace qm {

namespace {
std::uint32_t WindowsError(int error) {
  switch (error) {
    case ENOENT: return win::kErrorFileNotFound;
    case EACCES: case EPERM: return win::kErrorAccessDenied;
    default: return win::kErrorGenFailure;
  }
}
}  // namespace

bool HostPlatform::Unsupported() {
  lastError_ = win::kErrorNotSupported;
  return false;
}

int HostPlatform::GetSystemMetrics(int) { return 0; }
bool HostPlatform::IsUserAnAdmin() { return false; }
bool HostPlatform::ShellExecuteEx(const ShellExecuteRequest&) { return Unsupported(); }
bool HostPlatform::GetVersionEx(OsVersion*) { return Unsupported(); }
std::uint32_t HostPlatform::GetModuleFileName(WidePath* path) {
  *path = WidePath();
  return 0;
}
std::uint32_t HostPlatform::GetLastError() { return lastError_; }
bool HostPlatform::IsDbcsLeadByte(std::uint8_t byte) { return IsLeadByteOfCodePage(codePage, byte); }

Handle HostPlatform::CreateFile(const std::string& deviceName, const FileOpenRequest& request) {
  return CreateFileW(WidePathFromUtf8(deviceName), request);  // the host has no devices but files
}

// Paths travel as UTF-8, the host's file names (WidePath says how bytes
// that are not UTF-8 come through).
Handle HostPlatform::CreateFileW(const WidePath& widePath, const FileOpenRequest& request) {
  const std::string path = Utf8Of(widePath);
  int flags = (request.access & win::kGenericWrite) ? ((request.access & win::kGenericRead) ? O_RDWR : O_WRONLY)
                                                     : O_RDONLY;
  if (request.disposition == win::kCreateAlways) flags |= O_CREAT | O_TRUNC;
  if (request.disposition == win::kCreateNew) flags |= O_CREAT | O_EXCL | O_NOFOLLOW;
  // Never waits: a FIFO or a device named here fails instead of blocking.
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) {
    lastError_ = WindowsError(errno);
    return kInvalidHandle;
  }
  return fd;
}

bool HostPlatform::SetFileAttributes(const WidePath& path, std::uint32_t) {
  struct stat info;
  if (::stat(Utf8Of(path).c_str(), &info) != 0) {
    lastError_ = WindowsError(errno);
    return false;
  }
  return true;  // POSIX files carry no Windows attributes
}

std::uint32_t HostPlatform::GetFileSize(Handle file) {
  struct stat info;
  if (::fstat(static_cast<int>(file), &info) != 0) {
    lastError_ = WindowsError(errno);
    return 0xFFFFFFFFu;
  }
  return static_cast<std::uint32_t>(info.st_size);
}

bool HostPlatform::ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) {
  std::uint32_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(static_cast<int>(file), static_cast<char*>(buffer) + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      lastError_ = WindowsError(errno);
      *bytesRead = done;
      return false;
    }
    if (got == 0) break;
    done += static_cast<std::uint32_t>(got);
  }
  *bytesRead = done;
  return true;
}

bool HostPlatform::WriteFile(Handle file, const void* data, std::uint32_t size, std::uint32_t* bytesWritten) {
  std::uint32_t done = 0;
  while (done < size) {
    const ssize_t put = ::write(static_cast<int>(file), static_cast<const char*>(data) + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      lastError_ = WindowsError(errno);
      *bytesWritten = done;
      return false;
    }
    done += static_cast<std::uint32_t>(put);
  }
  *bytesWritten = done;
  return true;
}

bool HostPlatform::CloseHandle(Handle handle) { return ::close(static_cast<int>(handle)) == 0; }

bool HostPlatform::DeleteFile(const WidePath& path) {
  if (::unlink(Utf8Of(path).c_str()) == 0) return true;
  lastError_ = WindowsError(errno);
  return false;
}

bool HostPlatform::DeviceIoControl(Handle, std::uint32_t, void*, std::uint32_t, std::uint32_t* bytesReturned) {
  *bytesReturned = 0;
  return Unsupported();
}

int Latin1FromUtf16(const char16_t* text, char* out, int outSize) {
  int length = 0;
  while (text[length] != 0) ++length;
  if (length + 1 > outSize) return 0;
  for (int i = 0; i <= length; ++i) out[i] = static_cast<char>(text[i] <= 0xFF ? text[i] : '?');
  return length + 1;
}

// The host has no USB stack of its own: every device interface call fails.
Handle HostPlatform::SetupDiGetClassDevs(const Guid&) {
  Unsupported();
  return kInvalidHandle;
}
bool HostPlatform::SetupDiEnumDeviceInterfaces(Handle, const Guid&, std::uint32_t, DeviceInterfaceData*) {
  return Unsupported();
}
bool HostPlatform::SetupDiGetDeviceInterfaceDetail(Handle, const DeviceInterfaceData&, std::string*) {
  return Unsupported();
}
bool HostPlatform::SetupDiDestroyDeviceInfoList(Handle) { return Unsupported(); }

int HostPlatform::WideToMultiByte(std::uint32_t, const char16_t* text, char* out, int outSize) {
  // Latin-1: the host has no ANSI code page of its own.
  const int written = Latin1FromUtf16(text, out, outSize);
  if (written == 0) lastError_ = win::kErrorInsufficientBuffer;
  return written;
}

bool HostPlatform::CreateProcess(const ProcessRequest&, ProcessHandles*) { return Unsupported(); }
std::uint32_t HostPlatform::WaitForSingleObject(Handle, std::uint32_t) { return 0xFFFFFFFFu; }
std::uint32_t HostPlatform::MsgWaitForSingleObject(Handle, std::uint32_t) { return 0xFFFFFFFFu; }
std::uint32_t HostPlatform::GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}
void HostPlatform::Sleep(std::uint32_t milliseconds) { ::usleep(milliseconds * 1000u); }
bool HostPlatform::SetTimer(WindowHandle, std::uintptr_t, std::uint32_t) { return Unsupported(); }
bool HostPlatform::KillTimer(WindowHandle, std::uintptr_t) { return Unsupported(); }
bool HostPlatform::DestroyWindow(WindowHandle) { return Unsupported(); }
int HostPlatform::MessageBox(WindowHandle, const std::string&, const std::string&, std::uint32_t) { return 0; }
bool HostPlatform::EnumWindows(EnumWindowsCallback, std::intptr_t) { return Unsupported(); }
std::string HostPlatform::GetWindowText(WindowHandle, int) { return std::string(); }
QueuedMessage HostPlatform::DispatchNextMessage(int*) { return QueuedMessage::kNone; }
void HostPlatform::PostQuitMessage(int) {}

}  // namespace qm
