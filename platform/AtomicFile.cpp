// What AtomicFile does alike on every system.
#include "platform/AtomicFile.h"

#include <chrono>
#include <cstring>

namespace qm {

AtomicFile::AtomicFile(WidePath destination) : destination_(std::move(destination)) {}

WidePath AtomicFile::UnguessableName() const {
  unsigned char bytes[8] = {};
  if (!RandomBytes(bytes, sizeof(bytes))) {
    // No randomness to be had: the exclusive creation still never reuses a file.
    const auto now = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::memcpy(bytes, &now, sizeof(bytes));
  }
  return destination_.WithRandomSuffix(".qmtool-", bytes);
}

namespace {

bool Exists(FileSystem& files, const WidePath& path) {
  return files.GetFileAttributes(path) != win::kInvalidFileAttributes;
}

// Missing for certain, not merely out of reach.
bool Missing(FileSystem& files, const WidePath& path) {
  return files.GetFileAttributes(path) == win::kInvalidFileAttributes &&
         files.GetLastError() == win::kErrorFileNotFound;
}

// The backup once the name holds a file again: removed, or said to stay.
bool BackupLeft(FileSystem& files, const WidePath& backup) {
  return Exists(files, backup) && !files.DeleteFile(backup);
}

}  // namespace

ReplaceResult ReplaceKeepingBackup(FileSystem& files, const WidePath& destination, const WidePath& replacement,
                                   const WidePath& backup) {
  ReplaceResult result;
  if (files.ReplaceFile(destination, replacement, backup, win::kReplaceFileIgnoreMergeErrors)) {
    result.outcome = Replacement::kDone;
    result.backupLeft = BackupLeft(files, backup);
    return result;
  }
  result.error = files.GetLastError();
  // What the code documents is checked against the name itself: only a
  // name that is certainly empty is filled.
  if (!Missing(files, destination)) {
    result.backupLeft = Exists(files, backup);
    return result;
  }
  // The old file back first: a failed write leaves the destination as it was.
  if (Exists(files, backup) && files.MoveFileEx(backup, destination, win::kMoveFileWriteThrough)) return result;
  if (files.MoveFileEx(replacement, destination, win::kMoveFileReplaceExisting | win::kMoveFileWriteThrough)) {
    result.outcome = Replacement::kDone;
    result.backupLeft = BackupLeft(files, backup);
    return result;
  }
  result.outcome = Replacement::kNameEmpty;
  result.backupLeft = Exists(files, backup);
  return result;
}

std::string LeftBackupWarning(const ReplaceResult& result, const WidePath& destination, const WidePath& backup) {
  if (result.outcome != Replacement::kDone || !result.backupLeft) return std::string();
  return Utf8Of(backup) + ": the old contents of " + Utf8Of(destination) +
         ", which a program still holds, stay under this name; delete it when that program has let go";
}

}  // namespace qm
