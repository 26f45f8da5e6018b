// The one owner of a handle: it closes the handle through the seam when it
// goes, on every path. Move-only.
#pragma once

#include "platform/Platform.h"

namespace qm {

class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(Handle handle) : handle_(handle) {}
  ~OwnedHandle() { Close(); }
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.Release()) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.Release();
    }
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  Handle Get() const { return handle_; }
  bool Valid() const { return handle_ != kInvalidHandle; }
  // Gives the handle up without closing it.
  Handle Release() {
    const Handle handle = handle_;
    handle_ = kInvalidHandle;
    return handle;
  }
  void Close() {
    if (Valid()) Sys().CloseHandle(Release());
  }

 private:
  Handle handle_ = kInvalidHandle;
};

}  // namespace qm
