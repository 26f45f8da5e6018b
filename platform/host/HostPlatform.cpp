#include "platform/host/HostPlatform.h"

#include "platform/CodePages.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace qm {

int Latin1FromUtf16(const char16_t* text, char* out, int outSize) {
  int length = 0;
  while (text[length] != 0) ++length;
  if (length + 1 > outSize) return 0;
  for (int i = 0; i <= length; ++i) out[i] = static_cast<char>(text[i] <= 0xFF ? text[i] : '?');
  return length + 1;
}

namespace {
std::uint32_t WindowsError(int error) {
  switch (error) {
    case ENOENT: return win::kErrorFileNotFound;
    case EACCES: case EPERM: return win::kErrorAccessDenied;
    default: return win::kErrorGenFailure;
  }
}
}  // namespace

namespace {

// Files through POSIX, and an ANSI code page that is a setting. Paths
// travel as UTF-8, the host's file names (WidePath says how bytes that are
// not UTF-8 come through).
class HostPlatform final : public FileSystem, public AnsiCodePage {
 public:
  int codePage = 1252;

  std::uint32_t GetLastError() override { return lastError_; }

  bool IsDbcsLeadByte(std::uint8_t byte) override { return IsLeadByteOfCodePage(codePage, byte); }

  Handle CreateFileW(const WidePath& widePath, const FileOpenRequest& request) override {
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

  bool SetFileAttributes(const WidePath& path, std::uint32_t) override {
    struct stat info;
    if (::stat(Utf8Of(path).c_str(), &info) != 0) {
      lastError_ = WindowsError(errno);
      return false;
    }
    return true;  // POSIX files carry no Windows attributes
  }

  bool GetFileSizeEx(Handle file, std::int64_t* size) override {
    struct stat info;
    if (::fstat(static_cast<int>(file), &info) != 0) {
      lastError_ = WindowsError(errno);
      return false;
    }
    *size = static_cast<std::int64_t>(info.st_size);
    return true;
  }

  bool ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) override {
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

  bool WriteFile(Handle file, const void* data, std::uint32_t size, std::uint32_t* bytesWritten) override {
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

  bool CloseHandle(Handle handle) override { return ::close(static_cast<int>(handle)) == 0; }

  bool DeleteFile(const WidePath& path) override {
    if (::unlink(Utf8Of(path).c_str()) == 0) return true;
    lastError_ = WindowsError(errno);
    return false;
  }

  // Only the launcher's tool write asks these; no tool does.
  std::uint32_t GetFileAttributes(const WidePath&) override {
    Unsupported();
    return win::kInvalidFileAttributes;
  }
  bool MoveFileEx(const WidePath&, const WidePath&, std::uint32_t) override { return Unsupported(); }
  bool ReplaceFile(const WidePath&, const WidePath&, const WidePath&, std::uint32_t) override { return Unsupported(); }

  int WideToMultiByte(std::uint32_t, const char16_t* text, char* out, int outSize) override {
    // Latin-1: the host has no ANSI code page of its own.
    const int written = Latin1FromUtf16(text, out, outSize);
    if (written == 0) lastError_ = win::kErrorInsufficientBuffer;
    return written;
  }

 private:
  bool Unsupported() {
    lastError_ = win::kErrorNotSupported;
    return false;
  }
  std::uint32_t lastError_ = 0;
};

HostPlatform gHost;

}  // namespace

Platform HostRoles() {
  Platform roles;
  roles.files = &gHost;
  roles.codePage = &gHost;
  return roles;
}

void SetHostCodePage(int codePage) { gHost.codePage = codePage; }

}  // namespace qm
