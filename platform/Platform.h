// The platform seam: the interfaces through which the portable launcher
// code reaches the operating system, one per role.
//
// Every operation mirrors one Win32 call and keeps its contract (argument
// meaning, result, last error). The Win32 implementation does exactly that
// call and decides nothing; the fake used by the unit tests records each call
// and answers from settings; the host implementation serves the native
// command-line tools; the simulated USB stack serves device I/O.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Win32Constants.h"
#include "platform/WidePath.h"

namespace qm {

using Handle = std::intptr_t;        // a kernel object handle (file, device, process)
using WindowHandle = std::uintptr_t;  // a window handle; 0 is "no window"
constexpr Handle kInvalidHandle = -1;


// How a file or device is opened (CreateFileA's and CreateFileW's arguments).
struct FileOpenRequest {
  std::uint32_t access = 0;
  std::uint32_t share = 0;
  std::uint32_t disposition = 0;
  std::uint32_t flagsAndAttributes = 0;
  // When set, a SECURITY_ATTRIBUTES of length 12 with no descriptor and
  // non-inheritable handles is passed instead of none.
  bool nonInheritableSecurity = false;
};

// ShellExecuteExW's request, reduced to the fields the launcher fills.
struct ShellExecuteRequest {
  std::uint32_t cbSize = 0;  // of the ANSI structure the design names; the wide call sets its own
  std::uint32_t fMask = 0;
  WindowHandle hwnd = 0;
  std::string verb;        // lpVerb, ASCII
  WidePath file;           // lpFile
  std::u16string parameters;  // lpParameters; empty means null
  WidePath directory;         // lpDirectory; empty means null
  int nShow = 0;
};

// GetVersionExA's answer, the fields that matter here.
struct OsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
};

// CreateProcessW's request, the fields the launcher fills.
struct ProcessRequest {
  WidePath applicationName;     // empty means a null lpApplicationName
  std::u16string commandLine;
  bool inheritHandles = false;
  std::uint32_t creationFlags = 0;
  WidePath currentDirectory;    // empty means a null lpCurrentDirectory
  std::uint32_t startupInfoSize = 0;  // STARTUPINFO.cb (68 for either on 32-bit Windows)
};

struct ProcessHandles {
  Handle process = kInvalidHandle;
  Handle thread = kInvalidHandle;
};

// A GUID, as Windows lays it out.
struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};

// The device interface class of USB host controllers.
constexpr Guid kGuidDevinterfaceUsbHostController = {
    0x3ABF6F2D, 0x71C4, 0x462A, {0x8A, 0x92, 0x1E, 0x68, 0x61, 0xE6, 0xAF, 0x27}};

// SP_DEVICE_INTERFACE_DATA: what one enumerated interface is, for the
// detail request that follows.
struct DeviceInterfaceData {
  Guid interfaceClass = {};
  std::uint32_t flags = 0;
  std::uintptr_t reserved = 0;
};

// What DispatchNextMessage found in the thread's message queue.
enum class QueuedMessage { kNone, kDispatched, kQuit };

// Called once per top-level window; returns false to stop the enumeration.
using EnumWindowsCallback = bool (*)(WindowHandle window, std::intptr_t userValue);

// Each role below is one interface; every operation is still one Win32
// call with that call's contract. An implementation serves the roles it
// can: the Win32 one all of them, the host one the files and the ANSI code
// page (what the tools use), the simulated USB stack device I/O alone, the
// test fake all of them, recording each call.

// A role that hands out kernel handles closes them too (OwnedHandle closes
// through the role its handle came from).
class HandleCloser {
 public:
  virtual ~HandleCloser() = default;
  virtual bool CloseHandle(Handle handle) = 0;
};

// The USB stack: devices opened by name, their requests, and the list of
// host controllers by device interface.
class DeviceIo : public HandleCloser {
 public:
  // CreateFileA: devices, by their ANSI names ("\\.\HCD0", hub names).
  virtual Handle CreateFile(const std::string& deviceName, const FileOpenRequest& request) = 0;
  // DeviceIoControl with one buffer given as input and output, both `size`.
  virtual bool DeviceIoControl(Handle device, std::uint32_t code, void* buffer, std::uint32_t size,
                               std::uint32_t* bytesReturned) = 0;
  // The system error code of this role's last failed call.
  virtual std::uint32_t GetLastError() = 0;
  // setupapi.dll, loaded from the system directory only when first asked;
  // every call fails when it cannot be loaded.
  // SetupDiGetClassDevsA(&interfaceClass, NULL, NULL, DIGCF_PRESENT |
  // DIGCF_DEVICEINTERFACE): a device information list, or kInvalidHandle.
  virtual Handle SetupDiGetClassDevs(const Guid& interfaceClass) = 0;
  // SetupDiEnumDeviceInterfaces(list, NULL, &interfaceClass, index, data):
  // false past the last interface (last error 259) or on failure.
  virtual bool SetupDiEnumDeviceInterfaces(Handle list, const Guid& interfaceClass, std::uint32_t index,
                                           DeviceInterfaceData* data) = 0;
  // SetupDiGetDeviceInterfaceDetailA for `data`: the interface's device path,
  // asked for its size first, then read into a detail structure of that
  // size. False when either call fails.
  virtual bool SetupDiGetDeviceInterfaceDetail(Handle list, const DeviceInterfaceData& data,
                                               std::string* devicePath) = 0;
  virtual bool SetupDiDestroyDeviceInfoList(Handle list) = 0;
};

// Files, by their UTF-16 paths.
class FileSystem : public HandleCloser {
 public:
  // CreateFileW.
  virtual Handle CreateFileW(const WidePath& path, const FileOpenRequest& request) = 0;
  virtual bool SetFileAttributes(const WidePath& path, std::uint32_t attributes) = 0;
  // GetFileSizeEx: the whole size, beyond 4 GiB too; false on failure.
  virtual bool GetFileSizeEx(Handle file, std::int64_t* size) = 0;
  virtual bool ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) = 0;
  virtual bool WriteFile(Handle file, const void* data, std::uint32_t size, std::uint32_t* bytesWritten) = 0;
  virtual bool DeleteFile(const WidePath& path) = 0;
  // GetFileAttributesW: kInvalidFileAttributes on failure.
  virtual std::uint32_t GetFileAttributes(const WidePath& path) = 0;
  // MoveFileExW(from, to, flags); an empty `to` is passed as null (with
  // MOVEFILE_DELAY_UNTIL_REBOOT: remove `from` at the next restart).
  virtual bool MoveFileEx(const WidePath& from, const WidePath& to, std::uint32_t flags) = 0;
  // ReplaceFileW(replaced, replacement, backup, flags, NULL, NULL); an
  // empty `backup` is passed as null.
  virtual bool ReplaceFile(const WidePath& replaced, const WidePath& replacement, const WidePath& backup,
                           std::uint32_t flags) = 0;
  // The system error code of this role's last failed call.
  virtual std::uint32_t GetLastError() = 0;
};

// Processes and time.
class ProcessesAndTime : public HandleCloser {
 public:
  // CreateProcessW.
  virtual bool CreateProcess(const ProcessRequest& request, ProcessHandles* handles) = 0;
  virtual std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) = 0;
  // MsgWaitForMultipleObjects(1, &handle, FALSE, milliseconds, QS_ALLINPUT):
  // kWaitObject0 when the object is signalled, kWaitObject0 + 1 when input
  // has arrived for the thread's message queue.
  virtual std::uint32_t MsgWaitForSingleObject(Handle handle, std::uint32_t milliseconds) = 0;
  // GetTickCount: milliseconds since the system started, wrapping at 2^32.
  virtual std::uint32_t GetTickCount() = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// Windows, timers and messages, and the screen they are on.
class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  virtual int GetSystemMetrics(int index) = 0;
  virtual bool SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t milliseconds) = 0;
  virtual bool KillTimer(WindowHandle window, std::uintptr_t id) = 0;
  virtual bool DestroyWindow(WindowHandle window) = 0;
  virtual int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                         std::uint32_t type) = 0;
  virtual bool EnumWindows(EnumWindowsCallback callback, std::intptr_t userValue) = 0;
  // GetWindowTextA(window, buf, maxCount): at most maxCount - 1 bytes.
  virtual std::string GetWindowText(WindowHandle window, int maxCount) = 0;
  // PeekMessageA(PM_REMOVE) of the thread's next message; one other than
  // WM_QUIT is translated and dispatched. On kQuit, *quitCode is its code.
  virtual QueuedMessage DispatchNextMessage(int* quitCode) = 0;
  virtual void PostQuitMessage(int code) = 0;
  // GetForegroundWindow: the window the user works in, 0 when none is.
  virtual WindowHandle GetForegroundWindow() = 0;
};

// The launcher's own process as the shell sees it: its rights and the
// elevated re-launch, the Windows version, its own path and command line.
class ProcessShell {
 public:
  virtual ~ProcessShell() = default;
  virtual bool IsUserAnAdmin() = 0;
  // ShellExecuteExW.
  virtual bool ShellExecuteEx(const ShellExecuteRequest& request) = 0;
  // False when GetVersionExA fails; *version is then untouched.
  virtual bool GetVersionEx(OsVersion* version) = 0;
  // GetModuleFileNameW(NULL, buf, 260): returns the call's result (the
  // units copied; 260 when the path filled the buffer and was cut short,
  // with no terminating zero; 0 when it failed) and sets *path to that many
  // units.
  virtual std::uint32_t GetModuleFileName(WidePath* path) = 0;
  // GetCommandLineW: the whole command line this process was started with.
  virtual std::u16string GetCommandLine() = 0;
  // The system error code of this role's last failed call.
  virtual std::uint32_t GetLastError() = 0;
};

// Drive letters: what one stands for in this logon session.
class DriveLetters {
 public:
  virtual ~DriveLetters() = default;
  // GetDriveTypeW of a root such as "Z:\\".
  virtual std::uint32_t GetDriveType(const WidePath& root) = 0;
  // WNetGetConnectionW(localName, ...) of mpr.dll, loaded from the system
  // directory only when first asked: the network name a drive such as "Z:"
  // is connected to. Returns the call's result (0 when *remoteName is set);
  // ERROR_MOD_NOT_FOUND when mpr.dll cannot be had.
  virtual std::uint32_t WNetGetConnection(const std::u16string& localName, std::u16string* remoteName) = 0;
  // QueryDosDeviceW(deviceName, ...): what a DOS device name such as "X:"
  // stands for in this logon session, the first of its targets
  // (\??\C:\work for a subst letter, \Device\HarddiskVolume2 for a disk).
  // False when the name is not defined or the call fails.
  virtual bool QueryDosDevice(const std::u16string& deviceName, std::u16string* target) = 0;
};

// Text in the process's ANSI code page.
class AnsiCodePage {
 public:
  virtual ~AnsiCodePage() = default;
  // The lead-byte test (IsDBCSLeadByte).
  virtual bool IsDbcsLeadByte(std::uint8_t byte) = 0;
  // WideCharToMultiByte(codePage, 0, text, -1, out, outSize, NULL, NULL):
  // converts up to and including the terminating zero; returns the bytes
  // written (zero included), or 0 when it does not fit or fails.
  virtual int WideToMultiByte(std::uint32_t codePage, const char16_t* text, char* out, int outSize) = 0;
  // The system error code of this role's last failed call.
  virtual std::uint32_t GetLastError() = 0;
};

// Random bytes from the system.
class Randomness {
 public:
  virtual ~Randomness() = default;
  // RtlGenRandom: fills `buffer` with `size` random bytes; false when it cannot.
  virtual bool GenRandom(void* buffer, std::uint32_t size) = 0;
};

// The platform the launcher code uses: one implementation per role (a role
// an implementation does not serve stays null). Set once at start-up, or by
// a test.
struct Platform {
  DeviceIo* devices = nullptr;
  FileSystem* files = nullptr;
  ProcessesAndTime* processes = nullptr;
  WindowSystem* windows = nullptr;
  ProcessShell* shell = nullptr;
  DriveLetters* drives = nullptr;
  AnsiCodePage* codePage = nullptr;
  Randomness* random = nullptr;
};

// Every role from one object that serves them all.
template <typename AllRoles>
Platform PlatformOf(AllRoles& all) {
  return Platform{&all, &all, &all, &all, &all, &all, &all, &all};
}

void SetPlatform(const Platform& platform);
DeviceIo& Devices();
FileSystem& Files();
ProcessesAndTime& Processes();
WindowSystem& Desktop();
ProcessShell& Shell();
DriveLetters& Drives();
AnsiCodePage& CodePage();
Randomness& Random();

}  // namespace qm
