// A simulated USB stack: answers the walk's opens and device I/O control
// requests, byte for byte as the Windows USB stack lays them out, from a JSON
// description of controllers, hubs and devices (docs/usb-sim-format.md). It
// keeps a trace of every open, request and close.
//
// UsbSimPlatform puts it in front of another platform: device names that
// begin with "\\.\" or "\\?\" and the device interface calls go to the
// simulated stack, everything else to the platform behind it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qm::sim {

struct Device {
  std::uint16_t idVendor = 0;
  std::uint16_t idProduct = 0;
  std::uint8_t iManufacturer = 0;
  std::uint8_t iProduct = 0;
  std::uint8_t iSerialNumber = 0;
  std::map<int, std::u16string> strings;
  std::vector<std::uint16_t> languages{1033};
  std::uint32_t descriptorError = 0;  // 0: requests succeed
};

struct Hub;

struct Port {
  std::uint32_t status = 0;              // USB_CONNECTION_STATUS
  std::uint32_t connectionInfoError = 0;
  std::unique_ptr<Device> device;        // a device, or the hub's own device
  std::unique_ptr<Hub> hub;              // an external hub
  std::u16string name;                   // the external hub's symbolic name
  std::uint32_t nameError = 0;
};

struct Hub {
  std::vector<Port> ports;  // port i + 1 is ports[i]
  int numberOfPorts = 0;
  std::uint32_t openError = 0;
  std::uint32_t nodeInfoError = 0;
};

struct Controller {
  int number = -1;                  // opened as \\.\HCD<number>; -1: no such name
  bool listedAsInterface = true;    // listed by the device interface enumeration
  std::string interfacePath;        // the interface's device path
  std::uint32_t interfaceOpenError = 0;
  std::u16string driverKeyName;
  std::uint32_t driverKeyError = 0;
  std::u16string rootHubName;
  std::uint32_t rootHubNameError = 0;
  std::unique_ptr<Hub> rootHub;
};

struct TraceEntry {
  std::string op;  // "open", "ioctl", "close", or the enumeration's "interfaces", "interface", "detail", "destroy"
  std::string path;
  bool ok = false;
  std::uint32_t code = 0;
  std::uint32_t size = 0;
  bool hasConnectionIndex = false;
  std::uint32_t connectionIndex = 0;
  bool isDescriptorRequest = false;
  std::uint16_t wValue = 0, wIndex = 0, wLength = 0;
};

class UsbSimStack {
 public:
  // Reads a description; throws std::runtime_error naming the place of the
  // first fault (bad JSON, a wrong type, a number out of range, a duplicate).
  static UsbSimStack FromJson(const std::string& text);
  // The same from a file, read through `system`; also throws when the file
  // cannot be opened or read.
  static UsbSimStack FromFile(const WidePath& path, Platform& system);

  // The stack's side of CreateFile / DeviceIoControl / CloseHandle. Errors
  // are Win32 codes, kept for LastError().
  Handle Open(const std::string& path);
  bool Request(Handle handle, std::uint32_t code, std::uint8_t* buffer, std::uint32_t size);
  bool Close(Handle handle);
  bool Owns(Handle handle) const { return open_.count(handle) != 0 || lists_.count(handle) != 0; }

  // The stack's side of the host-controller interface enumeration: a list
  // of the controllers listed as interfaces, in description order.
  Handle OpenInterfaceList(const Guid& interfaceClass);
  bool InterfaceAt(Handle list, std::uint32_t index, DeviceInterfaceData* data);
  bool InterfacePath(Handle list, const DeviceInterfaceData& data, std::string* devicePath);
  bool CloseInterfaceList(Handle list);
  std::uint32_t LastError() const { return lastError_; }

  const std::vector<TraceEntry>& Trace() const { return trace_; }
  std::size_t OpenHandles() const { return open_.size() + lists_.size(); }  // interface lists too
  std::vector<Controller>& Controllers() { return controllers_; }

 private:
  struct Node {
    Controller* controller = nullptr;  // exactly one of the two
    Hub* hub = nullptr;
    std::string path;
  };
  bool Fail(std::uint32_t error);
  bool ControllerRequest(Controller& controller, std::uint32_t code, std::uint8_t* buffer, std::uint32_t size);
  bool HubRequest(Hub& hub, std::uint32_t code, std::uint8_t* buffer, std::uint32_t size);
  void IndexHubs(Hub& hub);

  std::vector<Controller> controllers_;
  std::map<std::u16string, Hub*> hubsByName_;
  std::map<Handle, Node> open_;
  std::map<Handle, std::vector<const Controller*>> lists_;  // open interface lists
  Handle nextHandle_ = 0x51000;
  std::uint32_t lastError_ = 0;
  std::vector<TraceEntry> trace_;
};

class UsbSimPlatform : public Platform {
 public:
  UsbSimPlatform(UsbSimStack* stack, Platform* behind) : stack_(stack), behind_(behind) {}

  Handle CreateFile(const std::string& path, const FileOpenRequest& request) override;
  Handle SetupDiGetClassDevs(const Guid& interfaceClass) override;
  bool SetupDiEnumDeviceInterfaces(Handle list, const Guid& interfaceClass, std::uint32_t index,
                                   DeviceInterfaceData* data) override;
  bool SetupDiGetDeviceInterfaceDetail(Handle list, const DeviceInterfaceData& data, std::string* devicePath) override;
  bool SetupDiDestroyDeviceInfoList(Handle list) override;
  bool DeviceIoControl(Handle device, std::uint32_t code, void* buffer, std::uint32_t size,
                       std::uint32_t* bytesReturned) override;
  bool CloseHandle(Handle handle) override;
  std::uint32_t GetLastError() override;

  // Everything else goes to the platform behind, whose last error then counts.
  int GetSystemMetrics(int index) override { return Behind().GetSystemMetrics(index); }
  bool IsUserAnAdmin() override { return Behind().IsUserAnAdmin(); }
  bool ShellExecuteEx(const ShellExecuteRequest& r) override { return Behind().ShellExecuteEx(r); }
  bool GetVersionEx(OsVersion* v) override { return Behind().GetVersionEx(v); }
  std::uint32_t GetModuleFileName(WidePath* p) override { return Behind().GetModuleFileName(p); }
  Handle CreateFileW(const WidePath& p, const FileOpenRequest& r) override { return Behind().CreateFileW(p, r); }
  bool IsDbcsLeadByte(std::uint8_t b) override { return Behind().IsDbcsLeadByte(b); }
  bool SetFileAttributes(const WidePath& p, std::uint32_t a) override { return Behind().SetFileAttributes(p, a); }
  std::uint32_t GetFileSize(Handle f) override { return Behind().GetFileSize(f); }
  bool ReadFile(Handle f, void* b, std::uint32_t s, std::uint32_t* r) override { return Behind().ReadFile(f, b, s, r); }
  bool WriteFile(Handle f, const void* d, std::uint32_t s, std::uint32_t* w) override {
    return Behind().WriteFile(f, d, s, w);
  }
  bool DeleteFile(const WidePath& p) override { return Behind().DeleteFile(p); }
  int WideToMultiByte(std::uint32_t cp, const char16_t* t, char* o, int n) override {
    return Behind().WideToMultiByte(cp, t, o, n);
  }
  bool CreateProcess(const ProcessRequest& r, ProcessHandles* h) override { return Behind().CreateProcess(r, h); }
  std::uint32_t WaitForSingleObject(Handle h, std::uint32_t ms) override { return Behind().WaitForSingleObject(h, ms); }
  std::uint32_t MsgWaitForSingleObject(Handle h, std::uint32_t ms) override {
    return Behind().MsgWaitForSingleObject(h, ms);
  }
  std::uint32_t GetTickCount() override { return Behind().GetTickCount(); }
  void Sleep(std::uint32_t ms) override { Behind().Sleep(ms); }
  bool SetTimer(WindowHandle w, std::uintptr_t id, std::uint32_t ms) override { return Behind().SetTimer(w, id, ms); }
  bool KillTimer(WindowHandle w, std::uintptr_t id) override { return Behind().KillTimer(w, id); }
  bool DestroyWindow(WindowHandle w) override { return Behind().DestroyWindow(w); }
  int MessageBox(WindowHandle o, const std::string& t, const std::string& c, std::uint32_t ty) override {
    return Behind().MessageBox(o, t, c, ty);
  }
  bool EnumWindows(EnumWindowsCallback cb, std::intptr_t v) override { return Behind().EnumWindows(cb, v); }
  std::string GetWindowText(WindowHandle w, int n) override { return Behind().GetWindowText(w, n); }
  QueuedMessage DispatchNextMessage(int* q) override { return Behind().DispatchNextMessage(q); }
  void PostQuitMessage(int code) override { Behind().PostQuitMessage(code); }

 private:
  Platform& Behind() {
    lastFromStack_ = false;
    return *behind_;
  }

  UsbSimStack* stack_;
  Platform* behind_;
  bool lastFromStack_ = false;
};

}  // namespace qm::sim
