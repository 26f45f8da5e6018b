// A file that the command-line tools write whole or not at all.
//
// The bytes go to a new file beside the destination, under a name no one
// can guess, created exclusively and never through a link. Finish flushes it
// (file and folder) and closes it; Commit renames it over the destination,
// whose permissions it keeps when it replaces one (on Windows its attributes
// and security, and a read-only destination is refused and left as it
// was). Until Commit succeeds, the destructor removes it, whatever went
// wrong.
//
// Each operation returns false with a one-line reason ("the disk is full",
// ...) in *error. What the systems share is in platform/AtomicFile.cpp;
// the POSIX and Win32 parts are in platform/host and platform/win32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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
};

}  // namespace qm
