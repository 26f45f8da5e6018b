// The seam on the build machine, for the native command-line tools: files
// through POSIX; the ANSI code page is a setting (platform/CodePages.h). Everything
// else fails with ERROR_NOT_SUPPORTED, as the tools never ask for it.
#pragma once

#include "platform/Platform.h"

namespace qm {

class HostPlatform : public Platform {
 public:
  int codePage = 1252;

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
  bool DeviceIoControl(Handle device, std::uint32_t code, void* buffer, std::uint32_t size,
                       std::uint32_t* bytesReturned) override;
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
  int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                 std::uint32_t type) override;
  bool EnumWindows(EnumWindowsCallback callback, std::intptr_t userValue) override;
  std::string GetWindowText(WindowHandle window, int maxCount) override;
  QueuedMessage DispatchNextMessage(int* quitCode) override;
  void PostQuitMessage(int code) override;

 private:
  bool Unsupported();
  std::uint32_t lastError_ = 0;
};

// WideToMultiByte's contract with Latin-1 standing in for the ANSI code
// page (characters above U+00FF become '?'); 0 when out is too small.
int Latin1FromUtf16(const char16_t* text, char* out, int outSize);

}  // namespace qm
