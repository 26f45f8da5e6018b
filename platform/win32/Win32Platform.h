// The seam's Win32 implementation: one Win32 call per operation.
#pragma once

#include "platform/Platform.h"

namespace qm {

class Win32Platform : public Platform {
 public:
  int GetSystemMetrics(int index) override;
  bool IsUserAnAdmin() override;
  bool ShellExecuteEx(const ShellExecuteRequest& request) override;
  bool GetVersionEx(OsVersion* version) override;
  std::uint32_t GetModuleFileName(WidePath* path) override;
  std::uint32_t GetLastError() override;
  bool IsDbcsLeadByte(std::uint8_t byte) override;
  Handle CreateFile(const std::string& deviceName, const FileOpenRequest& request) override;
  Handle CreateFileW(const WidePath& path, const FileOpenRequest& request) override;
  bool SetFileAttributes(const WidePath& path, std::uint32_t attributes) override;
  std::uint32_t GetFileSize(Handle file) override;
  bool ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) override;
  bool WriteFile(Handle file, const void* data, std::uint32_t size, std::uint32_t* bytesWritten) override;
  bool CloseHandle(Handle handle) override;
  bool DeleteFile(const WidePath& path) override;
  bool DeviceIoControl(Handle device, std::uint32_t code, void* buffer, std::uint32_t size, std::uint32_t* bytesReturned) override;
  Handle SetupDiGetClassDevs(const Guid& interfaceClass) override;
  bool SetupDiEnumDeviceInterfaces(Handle list, const Guid& interfaceClass, std::uint32_t index,
                                   DeviceInterfaceData* data) override;
  bool SetupDiGetDeviceInterfaceDetail(Handle list, const DeviceInterfaceData& data, std::string* devicePath) override;
  bool SetupDiDestroyDeviceInfoList(Handle list) override;
  int WideToMultiByte(std::uint32_t codePage, const char16_t* text, char* out, int outSize) override;
  bool CreateProcess(const ProcessRequest& request, ProcessHandles* handles) override;
  std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) override;
  std::uint32_t MsgWaitForSingleObject(Handle handle, std::uint32_t milliseconds) override;
  std::uint32_t GetTickCount() override;
  void Sleep(std::uint32_t milliseconds) override;
  bool SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t milliseconds) override;
  bool KillTimer(WindowHandle window, std::uintptr_t id) override;
  bool DestroyWindow(WindowHandle window) override;
  int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption, std::uint32_t type) override;
  bool EnumWindows(EnumWindowsCallback callback, std::intptr_t userValue) override;
  std::string GetWindowText(WindowHandle window, int maxCount) override;
  QueuedMessage DispatchNextMessage(int* quitCode) override;
  void PostQuitMessage(int code) override;
};

}  // namespace qm
