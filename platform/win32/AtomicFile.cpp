// AtomicFile on Win32: CREATE_NEW, FlushFileBuffers, then ReplaceFileW over
// an existing destination (which keeps its attributes and security) or
// MoveFileExW with MOVEFILE_WRITE_THROUGH to a new one.
#include "platform/AtomicFile.h"

#include "platform/win32/Win32Platform.h"
#include "platform/win32/WinApi.h"

#include <ntsecapi.h>

namespace qm {

namespace {

HANDLE AsHandle(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

std::string Reason(DWORD code) {
  if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL) return "the disk is full";
  return "Windows error " + std::to_string(code);
}

bool Fail(std::string* error, const WidePath& path) {
  *error = Utf8Of(path) + ": " + Reason(::GetLastError());
  return false;
}

}  // namespace

bool AtomicFile::RandomBytes(unsigned char* bytes, std::size_t count) {
  return RtlGenRandom(bytes, static_cast<ULONG>(count)) != FALSE;
}

AtomicFile::~AtomicFile() {
  CloseQuietly();
  if (created_ && !committed_ && !holdsTheOnlyCopy_) ::DeleteFileW(WideChars(temporary_));
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
  const DWORD attributes = ::GetFileAttributesW(WideChars(destination_));
  const bool replaces = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (replaces && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    *error = Utf8Of(destination_) + ": the file is read-only and was left as it was";
    return false;
  }
  if (!replaces) {
    if (!::MoveFileExW(WideChars(temporary_), WideChars(destination_), MOVEFILE_WRITE_THROUGH)) {
      return Fail(error, destination_);
    }
    committed_ = true;
    return true;
  }
  // A rename over the destination would give it the new file's attributes
  // and the folder's inherited security instead of its own: it is replaced,
  // with a backup so that a replace that fails part way loses neither file.
  const WidePath backup = UnguessableName();
  const ReplaceResult result = ReplaceKeepingBackup(*Win32Roles().files, destination_, temporary_, backup);
  const std::string failed = Utf8Of(destination_) + ": " + Reason(result.error);
  switch (result.outcome) {
    case Replacement::kDone:
      committed_ = true;
      warning_ = LeftBackupWarning(result, destination_, backup);
      return true;
    case Replacement::kLeftAsItWas:
      *error = failed + (result.backupLeft ? "; a copy of the old file is in " + Utf8Of(backup) : "");
      return false;
    case Replacement::kNameEmpty:
      holdsTheOnlyCopy_ = true;
      *error = failed + ", and nothing could be put back under its name: the new file is " + Utf8Of(temporary_) +
               (result.backupLeft ? ", the old one " + Utf8Of(backup) : "");
      return false;
  }
  return false;
}

}  // namespace qm
