// A platform for unit tests, every role of it: it answers from the settings
// a test gives and records every call, in order, with its arguments (one
// list for all roles, so a test sees their order; each role's calls by name).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qm {
// "C:\\x.exe"_w: a path for the seam's wide calls, from UTF-8 text.
inline WidePath operator""_w(const char* text, std::size_t size) { return WidePathFromUtf8(std::string(text, size)); }
}  // namespace qm

namespace qm::test {

struct FakeFile {
  std::string data;
  std::uint32_t attributes = win::kFileAttributeNormal;
  bool openFails = false;         // CreateFile on it fails (locked)
  bool readFails = false;         // ReadFile reports failure
  std::int64_t readEndsAt = -1;   // reads find nothing past this many bytes
  std::int64_t reportedSize = -1; // GetFileSizeEx answers this instead
  std::int64_t partSize = -1;     // each ReadFile or WriteFile moves at most this many bytes
  std::int64_t failsAt = -1;      // a read or write that would reach past this byte fails
  int deleteFailures = 0;         // DeleteFile fails this many times first
  bool renameFails = false;       // MoveFileEx of it fails (held without delete sharing)
  // Held by another program that shares delete: DeleteFile succeeds, but
  // the name stays (delete pending) until that program lets go, and
  // neither opens nor renames meanwhile.
  bool heldSharingDelete = false;
  bool deletePending = false;
};

struct FakeWindow {
  WindowHandle handle = 0;
  std::string title;
};

struct FakeMessage {
  bool quit = false;  // WM_QUIT, with its code
  int quitCode = 0;
};

struct MessageBoxCall {
  WindowHandle owner;
  std::string text;
  std::string caption;
  std::uint32_t type;
};

class FakePlatform : public DeviceIo,
                     public FileSystem,
                     public ProcessesAndTime,
                     public WindowSystem,
                     public ProcessShell,
                     public DriveLetters,
                     public AnsiCodePage,
                     public Randomness {
 public:
  // --- settings ---
  int screenWidth = 1024;
  int screenHeight = 768;
  bool admin = true;
  std::optional<OsVersion> version = OsVersion{6, 1, 7601};
  std::string modulePath = "C:\\Repair\\QuillmarkLauncher.exe";  // UTF-8; served as UTF-16
  std::string commandLine = "\"C:\\Repair\\QuillmarkLauncher.exe\"";  // UTF-8
  std::map<std::string, std::uint32_t> driveTypes;   // by root ("Z:\\"); 3 (fixed) otherwise
  std::map<std::string, std::string> connections;    // "Z:" -> "\\\\server\\share"
  bool mprMissing = false;                           // mpr.dll cannot be loaded
  std::map<std::string, std::string> dosDevices;     // "X:" -> its target, \??\C:\work for a subst letter
  std::uint32_t shellExecuteError = 0;               // ShellExecuteEx fails with this code
  WindowHandle foregroundWindow = 0;                 // GetForegroundWindow
  // The next ReplaceFile fails with this code, leaving the files as
  // Windows documents for it when a backup is named (1177 moves the
  // replaced file to the backup's name; others move nothing).
  std::uint32_t replaceFailure = 0;
  int codePage = 1252;  // the ANSI code page: decides the lead-byte test
  std::map<std::string, FakeFile> files;  // by the UTF-8 spelling of their paths
  std::vector<FakeWindow> windows;  // the desktop's top-level windows, in order
  std::int64_t diskFree = -1;  // bytes that writes may still add; -1: no limit
  bool processCreationFails = false;
  bool processRunning = false;      // a wait of 0 ms on a process times out
  bool timerFails = false;          // SetTimer fails (its window is gone)
  std::uint32_t tickCount = 50000;  // GetTickCount; every Sleep advances it
  std::deque<FakeMessage> queue;    // the thread's messages, in order
  // Runs when a process is created or a sleep happens, so a test can let the
  // desktop change while the launcher waits.
  std::function<void(const ProcessRequest&)> onCreateProcess;
  std::function<void(std::uint32_t)> onSleep;
  // Runs when a file handle is closed, so a test can change the file.
  std::function<void(const std::string& path)> onCloseFile;

  // --- records ---
  std::vector<std::string> calls;  // one line per call, "Name(args)", paths in UTF-8
  std::vector<WidePath> widePaths;  // every path handed to a file or process call, exactly
  std::vector<ShellExecuteRequest> shellRequests;
  std::vector<ProcessRequest> processRequests;
  std::vector<MessageBoxCall> messageBoxes;
  std::vector<std::uint32_t> sleeps;
  std::vector<std::string> scheduledRemovals;  // MoveFileEx(path, null, MOVEFILE_DELAY_UNTIL_REBOOT)
  int openHandles() const { return static_cast<int>(handles_.size()); }
  bool IsOpen(const std::string& path) const;

  // Calls whose line starts with `name(`.
  int CountCalls(const std::string& name) const;

  int GetSystemMetrics(int index) override;
  bool IsUserAnAdmin() override;
  bool ShellExecuteEx(const ShellExecuteRequest& request) override;
  bool GetVersionEx(OsVersion* version) override;
  std::uint32_t GetModuleFileName(WidePath* path) override;
  std::uint32_t GetLastError() override;
  bool IsDbcsLeadByte(std::uint8_t byte) override;
  Handle CreateFile(const std::string& path, const FileOpenRequest& request) override;
  Handle CreateFileW(const WidePath& path, const FileOpenRequest& request) override;
  bool SetFileAttributes(const WidePath& path, std::uint32_t attributes) override;
  bool GetFileSizeEx(Handle file, std::int64_t* size) override;
  bool ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) override;
  bool WriteFile(Handle file, const void* data, std::uint32_t size, std::uint32_t* bytesWritten) override;
  bool CloseHandle(Handle handle) override;
  bool DeleteFile(const WidePath& path) override;
  std::uint32_t GetFileAttributes(const WidePath& path) override;
  bool MoveFileEx(const WidePath& from, const WidePath& to, std::uint32_t flags) override;
  bool ReplaceFile(const WidePath& replaced, const WidePath& replacement, const WidePath& backup,
                   std::uint32_t flags) override;
  bool QueryDosDevice(const std::u16string& deviceName, std::u16string* target) override;
  std::u16string GetCommandLine() override;
  std::uint32_t GetDriveType(const WidePath& root) override;
  std::uint32_t WNetGetConnection(const std::u16string& localName, std::u16string* remoteName) override;
  bool GenRandom(void* buffer, std::uint32_t size) override;
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
  WindowHandle GetForegroundWindow() override;

 private:
  struct OpenFile {
    std::string path;
    bool forWrite = false;
    bool isProcess = false;
    std::size_t position = 0;  // of the next read
  };
  // How many of `size` bytes at `position` a read or write of `file` moves,
  // or -1 when it fails there.
  static std::int64_t PartOf(const FakeFile& file, std::size_t position, std::uint32_t size);
  void Record(const std::string& line) { calls.push_back(line); }
  Handle NewHandle(OpenFile file);

  std::map<Handle, OpenFile> handles_;
  Handle nextHandle_ = 100;
  std::uint8_t nextRandom_ = 0;
  std::uint32_t lastError_ = 0;
};

}  // namespace qm::test
