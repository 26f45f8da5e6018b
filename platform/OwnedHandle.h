// The one owner of a handle: it closes the handle, when it goes and on every
// path, through the role it came from. Move-only.
#pragma once

#include "platform/Platform.h"

namespace qm {

class OwnedHandle {
 public:
  OwnedHandle() = default;
  OwnedHandle(Handle handle, HandleCloser& closer) : handle_(handle), closer_(&closer) {}
  ~OwnedHandle() { Close(); }
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.handle_), closer_(other.closer_) {
    other.handle_ = kInvalidHandle;
  }
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.handle_;
      closer_ = other.closer_;
      other.handle_ = kInvalidHandle;
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
    if (Valid()) closer_->CloseHandle(Release());
  }

 private:
  Handle handle_ = kInvalidHandle;
  HandleCloser* closer_ = nullptr;
};

}  // namespace qm
