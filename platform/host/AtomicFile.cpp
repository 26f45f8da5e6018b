// AtomicFile on POSIX: O_CREAT | O_EXCL | O_NOFOLLOW, fsync of the file and
// its folder, rename.
#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

std::string Reason(int error) {
  if (error == ENOSPC || error == EDQUOT) return "the disk is full";
  return std::strerror(error);
}

bool Fail(std::string* error, const std::string& what) {
  *error = what + ": " + Reason(errno);
  return false;
}

// The host's file names are UTF-8.
std::string Native(const WidePath& path) { return Utf8Of(path); }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool SyncFolder(const std::string& folder, std::string* error) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(error, folder);
  const bool synced = ::fsync(fd) == 0;
  const int savedErrno = errno;
  ::close(fd);
  errno = savedErrno;
  return synced || Fail(error, folder);
}

}  // namespace

bool AtomicFile::RandomBytes(unsigned char* bytes, std::size_t count) {
  return ::getrandom(bytes, count, 0) == static_cast<ssize_t>(count);
}

AtomicFile::~AtomicFile() {
  CloseQuietly();
  if (created_ && !committed_) ::unlink(Native(temporary_).c_str());
}

void AtomicFile::CloseQuietly() {
  if (file_ >= 0) ::close(static_cast<int>(file_));
  file_ = -1;
}

bool AtomicFile::Create(std::string* error) {
  temporary_ = UnguessableName();
  const int fd = ::open(Native(temporary_).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return Fail(error, Native(temporary_));
  file_ = fd;
  created_ = true;
  struct stat existing;
  if (::stat(Native(destination_).c_str(), &existing) == 0 && ::fchmod(fd, existing.st_mode & 07777) != 0) {
    return Fail(error, Native(temporary_));
  }
  return true;
}

bool AtomicFile::Write(const void* data, std::size_t size, std::string* error) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = ::write(static_cast<int>(file_), bytes, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return Fail(error, Native(temporary_));
    bytes += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

bool AtomicFile::Finish(std::string* error) {
  if (::fsync(static_cast<int>(file_)) != 0) return Fail(error, Native(temporary_));
  const int fd = static_cast<int>(file_);
  file_ = -1;
  if (::close(fd) != 0) return Fail(error, Native(temporary_));
  return SyncFolder(FolderOf(Native(temporary_)), error);
}

bool AtomicFile::Commit(std::string* error) {
  if (::rename(Native(temporary_).c_str(), Native(destination_).c_str()) != 0) return Fail(error, Native(destination_));
  committed_ = true;
  return SyncFolder(FolderOf(Native(destination_)), error);
}

}  // namespace qm
