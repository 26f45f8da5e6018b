// The USB walk against a stack that answers with arbitrary bytes: each open
// and request takes its outcome and reply from the input. The walk must
// never read outside a buffer, leak a handle or run without end.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>

#include "tests/fake/FakePlatform.h"
#include "usb/UsbScan.h"

namespace {

class ArbitraryStack : public qm::test::FakePlatform {
 public:
  ArbitraryStack(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  qm::Handle CreateFile(const std::string&, const qm::FileOpenRequest&) override {
    if (Take() & 1) return qm::kInvalidHandle;
    const qm::Handle handle = next_++;
    open_.insert(handle);
    return handle;
  }
  bool DeviceIoControl(qm::Handle device, std::uint32_t, void* buffer, std::uint32_t size,
                       std::uint32_t* bytesReturned) override {
    if (open_.count(device) == 0) __builtin_trap();  // a request on a handle not open
    *bytesReturned = 0;
    const std::uint8_t control = Take();
    // Any length up to the buffer's, any bytes: the reply claims what it likes.
    std::size_t length = (static_cast<std::size_t>(Take()) << 8 | Take()) % (size + 1);
    length = std::min(length, size_ - offset_);
    std::memcpy(buffer, data_ + offset_, length);
    offset_ += length;
    return (control & 1) == 0 && offset_ < size_;
  }
  bool CloseHandle(qm::Handle handle) override {
    if (open_.erase(handle) != 1) __builtin_trap();  // closed twice, or never opened
    return true;
  }
  std::uint32_t GetLastError() override { return 31; }
  // The interface enumeration lists as many controllers as the input says,
  // each under a path of its own or of a controller listed before.
  qm::Handle SetupDiGetClassDevs(const qm::Guid&) override {
    if (Take() & 1) return qm::kInvalidHandle;
    open_.insert(kList);
    return kList;
  }
  bool SetupDiEnumDeviceInterfaces(qm::Handle list, const qm::Guid&, std::uint32_t, qm::DeviceInterfaceData*) override {
    if (open_.count(list) == 0) __builtin_trap();
    return (Take() & 1) == 0;
  }
  bool SetupDiGetDeviceInterfaceDetail(qm::Handle list, const qm::DeviceInterfaceData&, std::string* path) override {
    if (open_.count(list) == 0) __builtin_trap();
    *path = "\\\\?\\hc" + std::to_string(Take() % 4);
    return (Take() & 1) == 0;
  }
  bool SetupDiDestroyDeviceInfoList(qm::Handle list) override {
    if (open_.erase(list) != 1) __builtin_trap();  // destroyed twice, or never made
    return true;
  }
  bool Balanced() const { return open_.empty(); }

 private:
  static constexpr qm::Handle kList = 999;
  std::uint8_t Take() { return offset_ < size_ ? data_[offset_++] : 1; }
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
  qm::Handle next_ = 1000;
  std::set<qm::Handle> open_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ArbitraryStack stack(data, size);
  qm::SetPlatform(PlatformOf(stack));
  qm::ResetUsbScanState();
  qm::ScanUsbDevices();
  if (!stack.Balanced()) __builtin_trap();  // a handle left open
  if (qm::UsbScanState.devices.size() != static_cast<std::size_t>(qm::UsbScanState.deviceCount)) __builtin_trap();
  qm::SetPlatform({});
  return 0;
}
