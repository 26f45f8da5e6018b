// AtomicFile on Win32: CREATE_NEW, FlushFileBuffers, MoveFileExW with
// MOVEFILE_REPLACE_EXISTING and MOVEFILE_WRITE_THROUGH.
#include "platform/AtomicFile.h"

#include "platform/win32/WinApi.h"

#include <ntsecapi.h>

namespace qm {

namespace {

HANDLE AsHandle(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

bool Fail(std::string* error, const WidePath& path) {
  const std::string what = Utf8Of(path);
  const DWORD code = ::GetLastError();
  if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL) {
    *error = what + ": the disk is full";
  } else {
    *error = what + ": Windows error " + std::to_string(code);
  }
  return false;
}

}  // namespace

bool AtomicFile::RandomBytes(unsigned char* bytes, std::size_t count) {
  return RtlGenRandom(bytes, static_cast<ULONG>(count)) != FALSE;
}

AtomicFile::~AtomicFile() {
  CloseQuietly();
  if (created_ && !committed_) ::DeleteFileW(WideChars(temporary_));
}

void AtomicFile::CloseQuietly() {
  if (file_ != -1) ::CloseHandle(AsHandle(file_));
  file_ = -1;
}

bool AtomicFile::Create(std::string* error) {
  temporary_ = UnguessableName();
  // CREATE_NEW fails on anything that exists under the name, a link included.
  HANDLE file = ::CreateFileW(WideChars(temporary_), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(error, temporary_);
  file_ = reinterpret_cast<std::intptr_t>(file);
  created_ = true;
  return true;
}

bool AtomicFile::Write(const void* data, std::size_t size, std::string* error) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(AsHandle(file_), bytes, chunk, &written, nullptr) || written == 0) return Fail(error, temporary_);
    bytes += written;
    size -= written;
  }
  return true;
}

bool AtomicFile::Finish(std::string* error) {
  if (!::FlushFileBuffers(AsHandle(file_))) return Fail(error, temporary_);
  HANDLE file = AsHandle(file_);
  file_ = -1;
  return ::CloseHandle(file) || Fail(error, temporary_);
}

bool AtomicFile::Commit(std::string* error) {
  if (!::MoveFileExW(WideChars(temporary_), WideChars(destination_), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return Fail(error, destination_);
  }
  committed_ = true;
  return true;
}

}  // namespace qm
