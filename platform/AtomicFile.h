// A file that the command-line tools write whole or not at all.
//
// The bytes go to a new file beside the destination, under a name no one
// can guess, created exclusively and never through a link. Finish flushes it
// (file and folder) and closes it; Commit renames it over the destination,
// whose permissions it keeps when it replaces one (on Windows its attributes
// and security, and a read-only destination is refused and left as it
// was). Until Commit succeeds, the destructor removes it, whatever went
// wrong, unless it has become the only copy of anything: a replace on
// Windows that could put no file back under the destination's name keeps
// it, and the error names it.
//
// Each operation returns false with a one-line reason ("the disk is full",
// ...) in *error. A Commit that succeeds may still leave something to say
// (Warning): the old file kept under a backup's name that could not be
// removed. What the systems share is in platform/AtomicFile.cpp;
// the POSIX and Win32 parts are in platform/host and platform/win32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Platform.h"
#include "platform/WidePath.h"

namespace qm {

class AtomicFile {
 public:
  explicit AtomicFile(WidePath destination);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool Create(std::string* error);
  bool Write(const void* data, std::size_t size, std::string* error);
  bool Finish(std::string* error);
  bool Commit(std::string* error);

  // Where the bytes are until Commit.
  const WidePath& TemporaryPath() const { return temporary_; }
  // After a Commit that succeeded: one line for the user, or empty.
  const std::string& Warning() const { return warning_; }

 private:
  void CloseQuietly();
  // The destination's name with a suffix of 16 random hexadecimal digits.
  WidePath UnguessableName() const;
  // Fills `bytes` from the system's source of randomness; false when none.
  static bool RandomBytes(unsigned char* bytes, std::size_t count);

  WidePath destination_;
  WidePath temporary_;
  std::intptr_t file_ = -1;  // a descriptor or a HANDLE; -1 when closed
  bool created_ = false;
  bool committed_ = false;
  bool holdsTheOnlyCopy_ = false;  // the temporary file is all there is of the new bytes: never removed
  std::string warning_;
};

// How a replacement of an existing file on Windows ended.
enum class Replacement {
  kDone,         // the destination's name holds the new file
  kLeftAsItWas,  // it holds the old file
  kNameEmpty,    // it holds nothing: the new file is still at the temporary name
};

struct ReplaceResult {
  Replacement outcome = Replacement::kLeftAsItWas;
  std::uint32_t error = 0;  // what ReplaceFileW failed with
  bool backupLeft = false;  // the old file also stays under the backup's name
};

// Puts `replacement` in the place of the file `destination` with
// ReplaceFileW, the old file going to `backup` (a new name beside it), and
// never loses both: when the replace fails part way and leaves the
// destination's name empty (ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 moves the old
// file to the backup's name), the old file is put back, or else the new one
// moved into place. Once the name holds the new file the backup is deleted;
// a backup that stays, because that delete failed (ReplaceFileW's
// documentation names an old file that a program has mapped into memory)
// or for any other reason, is said in the result, never removed otherwise.
// Portable, on the seam's calls, so that failures only Windows produces can
// be tested.
ReplaceResult ReplaceKeepingBackup(FileSystem& files, const WidePath& destination, const WidePath& replacement,
                                   const WidePath& backup);

// The warning of a replace that put the new file in place but left the old
// one under `backup`; empty for any other result.
std::string LeftBackupWarning(const ReplaceResult& result, const WidePath& destination, const WidePath& backup);

}  // namespace qm
