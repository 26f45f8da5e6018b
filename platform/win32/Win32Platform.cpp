// The seam on Win32: each operation is the one Win32 call it names.
#include "platform/win32/Win32Platform.h"

#include "platform/win32/WinApi.h"

#include <ntsecapi.h>  // RtlGenRandom
#include <setupapi.h>  // the types only: the DLL is loaded at run time
#undef SetupDiGetClassDevs
#undef SetupDiGetDeviceInterfaceDetail

#include <vector>

namespace qm {
namespace {

HANDLE AsHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle FromHandle(HANDLE handle) { return reinterpret_cast<Handle>(handle); }
HWND AsHwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }

#if defined(_WIN32) && !defined(_WIN64)
// The sizes the launcher's records carry are those of the 32-bit structures.
static_assert(sizeof(SHELLEXECUTEINFOA) == 60 && sizeof(SHELLEXECUTEINFOW) == 60, "SHELLEXECUTEINFO");
static_assert(sizeof(STARTUPINFOA) == 68 && sizeof(STARTUPINFOW) == 68, "STARTUPINFO");
static_assert(sizeof(SECURITY_ATTRIBUTES) == 12, "SECURITY_ATTRIBUTES");
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA");
#endif

}  // namespace

namespace {

// setupapi.dll and mpr.dll are not known DLLs on every Windows, so a static
// import would let a copy planted beside an elevated launcher load before
// any of our code runs. Each is loaded from the system directory only, when
// first needed.
HMODULE LoadSystemLibrary(const wchar_t* name) {
  constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;
  // The export, not a failed call, tells whether the flag is understood: XP
  // ignores it and Vista or 7 without the update refuse it.
  if (::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "AddDllDirectory") != nullptr) {
    return ::LoadLibraryExW(name, nullptr, kLoadLibrarySearchSystem32);
  }
  wchar_t folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\" + name;
  // Its own dependencies then resolve from the system directory too.
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

struct SetupApi {
  decltype(&::SetupDiGetClassDevsA) getClassDevs = nullptr;
  decltype(&::SetupDiEnumDeviceInterfaces) enumDeviceInterfaces = nullptr;
  decltype(&::SetupDiGetDeviceInterfaceDetailA) getDeviceInterfaceDetail = nullptr;
  decltype(&::SetupDiDestroyDeviceInfoList) destroyDeviceInfoList = nullptr;
  bool loaded = false;
};

template <typename Function>
void Take(HMODULE module, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

const SetupApi& Setup() {
  static const SetupApi api = [] {
    SetupApi found;
    HMODULE module = LoadSystemLibrary(L"setupapi.dll");
    if (module == nullptr) return found;
    Take(module, "SetupDiGetClassDevsA", &found.getClassDevs);
    Take(module, "SetupDiEnumDeviceInterfaces", &found.enumDeviceInterfaces);
    Take(module, "SetupDiGetDeviceInterfaceDetailA", &found.getDeviceInterfaceDetail);
    Take(module, "SetupDiDestroyDeviceInfoList", &found.destroyDeviceInfoList);
    found.loaded = found.getClassDevs && found.enumDeviceInterfaces && found.getDeviceInterfaceDetail &&
                   found.destroyDeviceInfoList;
    return found;
  }();
  return api;
}

using WNetGetConnectionFunction = DWORD(WINAPI*)(LPCWSTR localName, LPWSTR remoteName, LPDWORD length);

WNetGetConnectionFunction MprGetConnection() {
  static const WNetGetConnectionFunction function = [] {
    WNetGetConnectionFunction found = nullptr;
    HMODULE module = LoadSystemLibrary(L"mpr.dll");
    if (module != nullptr) Take(module, "WNetGetConnectionW", &found);
    return found;
  }();
  return function;
}

GUID AsGuid(const Guid& guid) {
  GUID out;
  out.Data1 = guid.data1;
  out.Data2 = guid.data2;
  out.Data3 = guid.data3;
  for (int i = 0; i < 8; ++i) out.Data4[i] = guid.data4[i];
  return out;
}

SP_DEVICE_INTERFACE_DATA AsInterfaceData(const DeviceInterfaceData& data) {
  SP_DEVICE_INTERFACE_DATA out = {};
  out.cbSize = sizeof(out);
  out.InterfaceClassGuid = AsGuid(data.interfaceClass);
  out.Flags = data.flags;
  out.Reserved = data.reserved;
  return out;
}

}  // namespace

namespace {
struct EnumContext {
  EnumWindowsCallback callback;
  std::intptr_t userValue;
};
BOOL CALLBACK EnumTrampoline(HWND window, LPARAM context) {
  auto* enumContext = reinterpret_cast<EnumContext*>(context);
  return enumContext->callback(reinterpret_cast<WindowHandle>(window), enumContext->userValue) ? TRUE
                                                                                               : FALSE;
}
}  // namespace

namespace {

// Every role; each operation is the one Win32 call it names.
class Win32Platform final : public DeviceIo,
                            public FileSystem,
                            public ProcessesAndTime,
                            public WindowSystem,
                            public ProcessShell,
                            public DriveLetters,
                            public AnsiCodePage,
                            public Randomness {
 public:
  int GetSystemMetrics(int index) override { return ::GetSystemMetrics(index); }

  bool IsUserAnAdmin() override { return ::IsUserAnAdmin() != FALSE; }

  bool ShellExecuteEx(const ShellExecuteRequest& request) override {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);  // the request's 60 on 32-bit Windows
    info.fMask = request.fMask;
    info.hwnd = AsHwnd(request.hwnd);
    const std::u16string verb(request.verb.begin(), request.verb.end());  // ASCII
    info.lpVerb = WideChars(verb);
    info.lpFile = WideChars(request.file);
    info.lpParameters = request.parameters.empty() ? nullptr : WideChars(request.parameters);
    info.lpDirectory = request.directory.Empty() ? nullptr : WideChars(request.directory);
    info.nShow = request.nShow;
    return ::ShellExecuteExW(&info) != FALSE;
  }

  bool GetVersionEx(OsVersion* version) override {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
  #pragma GCC diagnostic push
  #pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExA(&info)) return false;
  #pragma GCC diagnostic pop
    version->major = info.dwMajorVersion;
    version->minor = info.dwMinorVersion;
    version->build = info.dwBuildNumber;
    return true;
  }

  std::uint32_t GetModuleFileName(WidePath* path) override {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD copied = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    // A cut path has no terminating zero: the count says how much is there.
    const DWORD units = copied < MAX_PATH ? copied : MAX_PATH;
    *path = WidePath(std::u16string(reinterpret_cast<const char16_t*>(buffer), units));
    return copied;
  }

  std::uint32_t GetLastError() override { return ::GetLastError(); }

  std::u16string GetCommandLine() override {
    return reinterpret_cast<const char16_t*>(::GetCommandLineW());
  }

  std::uint32_t GetDriveType(const WidePath& root) override { return ::GetDriveTypeW(WideChars(root)); }

  std::uint32_t WNetGetConnection(const std::u16string& localName, std::u16string* remoteName) override {
    const WNetGetConnectionFunction getConnection = MprGetConnection();
    if (getConnection == nullptr) return ERROR_MOD_NOT_FOUND;
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 2; ++attempt) {
      DWORD length = static_cast<DWORD>(buffer.size());
      const DWORD result = getConnection(WideChars(localName), buffer.data(), &length);
      if (result == ERROR_MORE_DATA && length > buffer.size()) {
        buffer.assign(length, 0);  // the length it asked for, in characters
        continue;
      }
      if (result != NO_ERROR) return result;
      buffer.back() = 0;
      *remoteName = reinterpret_cast<const char16_t*>(buffer.data());
      return NO_ERROR;
    }
    return ERROR_MORE_DATA;
  }

  bool QueryDosDevice(const std::u16string& deviceName, std::u16string* target) override {
    std::vector<wchar_t> buffer(MAX_PATH);
    // A target longer than the buffer fails with ERROR_INSUFFICIENT_BUFFER
    // and says nothing of the size needed: the buffer grows up to the
    // longest path the system can hold.
    while (true) {
      const DWORD stored = ::QueryDosDeviceW(WideChars(deviceName), buffer.data(), static_cast<DWORD>(buffer.size()));
      if (stored != 0) break;
      if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= 32768) return false;
      buffer.assign(buffer.size() * 4, 0);
    }
    buffer.back() = 0;
    *target = reinterpret_cast<const char16_t*>(buffer.data());  // the first of the targets
    return true;
  }

  bool GenRandom(void* buffer, std::uint32_t size) override { return RtlGenRandom(buffer, size) != FALSE; }

  bool IsDbcsLeadByte(std::uint8_t byte) override { return ::IsDBCSLeadByte(byte) != FALSE; }

  Handle CreateFile(const std::string& deviceName, const FileOpenRequest& request) override {
    SECURITY_ATTRIBUTES security = {};
    security.nLength = sizeof(security);
    security.bInheritHandle = FALSE;
    HANDLE handle = ::CreateFileA(deviceName.c_str(), request.access, request.share,
                                  request.nonInheritableSecurity ? &security : nullptr,
                                  request.disposition, request.flagsAndAttributes, nullptr);
    return handle == INVALID_HANDLE_VALUE ? kInvalidHandle : FromHandle(handle);
  }

  Handle CreateFileW(const WidePath& path, const FileOpenRequest& request) override {
    SECURITY_ATTRIBUTES security = {};
    security.nLength = sizeof(security);
    security.bInheritHandle = FALSE;
    HANDLE handle = ::CreateFileW(WideChars(path), request.access, request.share,
                                  request.nonInheritableSecurity ? &security : nullptr,
                                  request.disposition, request.flagsAndAttributes, nullptr);
    return handle == INVALID_HANDLE_VALUE ? kInvalidHandle : FromHandle(handle);
  }

  bool SetFileAttributes(const WidePath& path, std::uint32_t attributes) override {
    return ::SetFileAttributesW(WideChars(path), attributes) != FALSE;
  }

  bool GetFileSizeEx(Handle file, std::int64_t* size) override {
    LARGE_INTEGER whole = {};
    if (!::GetFileSizeEx(AsHandle(file), &whole)) return false;
    *size = whole.QuadPart;
    return true;
  }

  bool ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) override {
    DWORD done = 0;
    BOOL ok = ::ReadFile(AsHandle(file), buffer, size, &done, nullptr);
    *bytesRead = done;
    return ok != FALSE;
  }

  bool WriteFile(Handle file, const void* data, std::uint32_t size,
                                std::uint32_t* bytesWritten) override {
    DWORD done = 0;
    BOOL ok = ::WriteFile(AsHandle(file), data, size, &done, nullptr);
    *bytesWritten = done;
    return ok != FALSE;
  }

  bool CloseHandle(Handle handle) override { return ::CloseHandle(AsHandle(handle)) != FALSE; }

  bool DeleteFile(const WidePath& path) override { return ::DeleteFileW(WideChars(path)) != FALSE; }

  std::uint32_t GetFileAttributes(const WidePath& path) override { return ::GetFileAttributesW(WideChars(path)); }

  bool MoveFileEx(const WidePath& from, const WidePath& to, std::uint32_t flags) override {
    return ::MoveFileExW(WideChars(from), to.Empty() ? nullptr : WideChars(to), flags) != FALSE;
  }

  bool ReplaceFile(const WidePath& replaced, const WidePath& replacement, const WidePath& backup,
                   std::uint32_t flags) override {
    return ::ReplaceFileW(WideChars(replaced), WideChars(replacement), backup.Empty() ? nullptr : WideChars(backup),
                          flags, nullptr, nullptr) != FALSE;
  }

  bool DeviceIoControl(Handle device, std::uint32_t code, void* buffer, std::uint32_t size,
                                      std::uint32_t* bytesReturned) override {
    DWORD returned = 0;
    BOOL ok = ::DeviceIoControl(AsHandle(device), code, buffer, size, buffer, size, &returned, nullptr);
    *bytesReturned = returned;
    return ok != FALSE;
  }

  Handle SetupDiGetClassDevs(const Guid& interfaceClass) override {
    if (!Setup().loaded) {
      ::SetLastError(ERROR_MOD_NOT_FOUND);
      return kInvalidHandle;
    }
    const GUID guid = AsGuid(interfaceClass);
    HDEVINFO list = Setup().getClassDevs(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    return list == INVALID_HANDLE_VALUE ? kInvalidHandle : FromHandle(list);
  }

  bool SetupDiEnumDeviceInterfaces(Handle list, const Guid& interfaceClass, std::uint32_t index,
                                                  DeviceInterfaceData* data) override {
    if (!Setup().loaded) return false;
    const GUID guid = AsGuid(interfaceClass);
    SP_DEVICE_INTERFACE_DATA found = {};
    found.cbSize = sizeof(found);
    if (!Setup().enumDeviceInterfaces(AsHandle(list), nullptr, &guid, index, &found)) return false;
    data->interfaceClass = interfaceClass;
    data->flags = found.Flags;
    data->reserved = found.Reserved;
    return true;
  }

  bool SetupDiGetDeviceInterfaceDetail(Handle list, const DeviceInterfaceData& data,
                                                      std::string* devicePath) override {
    if (!Setup().loaded) return false;
    SP_DEVICE_INTERFACE_DATA interfaceData = AsInterfaceData(data);
    DWORD required = 0;
    Setup().getDeviceInterfaceDetail(AsHandle(list), &interfaceData, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return false;
    std::vector<DWORD> storage(required / sizeof(DWORD) + 1, 0);  // aligned for the structure
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);  // 5 on 32-bit Windows, 8 on 64-bit
    if (!Setup().getDeviceInterfaceDetail(AsHandle(list), &interfaceData, detail, required, nullptr, nullptr)) {
      return false;
    }
    const char* path = detail->DevicePath;
    const std::size_t room = required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    *devicePath = std::string(path, strnlen(path, room));  // never past what the call filled
    return true;
  }

  bool SetupDiDestroyDeviceInfoList(Handle list) override {
    return Setup().loaded && Setup().destroyDeviceInfoList(AsHandle(list)) != FALSE;
  }

  int WideToMultiByte(std::uint32_t codePage, const char16_t* text, char* out, int outSize) override {
    return ::WideCharToMultiByte(codePage, 0, reinterpret_cast<const wchar_t*>(text), -1, out, outSize,
                                 nullptr, nullptr);
  }

  bool CreateProcess(const ProcessRequest& request, ProcessHandles* handles) override {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);  // the request's 68 on 32-bit Windows
    PROCESS_INFORMATION process = {};
    // CreateProcessW may write into the command line: hand it a private copy.
    std::u16string commandLine = request.commandLine;
    BOOL ok = ::CreateProcessW(request.applicationName.Empty() ? nullptr : WideChars(request.applicationName),
                               commandLine.empty() ? nullptr : reinterpret_cast<wchar_t*>(&commandLine[0]), nullptr, nullptr,
                               request.inheritHandles ? TRUE : FALSE, request.creationFlags, nullptr,
                               request.currentDirectory.Empty() ? nullptr : WideChars(request.currentDirectory),
                               &startup, &process);
    if (!ok) return false;
    handles->process = FromHandle(process.hProcess);
    handles->thread = FromHandle(process.hThread);
    return true;
  }

  std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) override {
    return ::WaitForSingleObject(AsHandle(handle), milliseconds);
  }

  std::uint32_t MsgWaitForSingleObject(Handle handle, std::uint32_t milliseconds) override {
    HANDLE object = AsHandle(handle);
    return ::MsgWaitForMultipleObjects(1, &object, FALSE, milliseconds, QS_ALLINPUT);
  }

  std::uint32_t GetTickCount() override { return ::GetTickCount(); }

  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }

  bool SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t milliseconds) override {
    return ::SetTimer(AsHwnd(window), id, milliseconds, nullptr) != 0;
  }

  bool KillTimer(WindowHandle window, std::uintptr_t id) override {
    return ::KillTimer(AsHwnd(window), id) != FALSE;
  }

  bool DestroyWindow(WindowHandle window) override { return ::DestroyWindow(AsHwnd(window)) != FALSE; }

  int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                                std::uint32_t type) override {
    return ::MessageBoxA(AsHwnd(owner), text.c_str(), caption.c_str(), type);
  }

  bool EnumWindows(EnumWindowsCallback callback, std::intptr_t userValue) override {
    EnumContext context{callback, userValue};
    return ::EnumWindows(EnumTrampoline, reinterpret_cast<LPARAM>(&context)) != FALSE;
  }

  QueuedMessage DispatchNextMessage(int* quitCode) override {
    MSG message;
    if (!::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return QueuedMessage::kNone;
    if (message.message == WM_QUIT) {
      *quitCode = static_cast<int>(message.wParam);
      return QueuedMessage::kQuit;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
    return QueuedMessage::kDispatched;
  }

  void PostQuitMessage(int code) override { ::PostQuitMessage(code); }

  WindowHandle GetForegroundWindow() override { return reinterpret_cast<WindowHandle>(::GetForegroundWindow()); }

  std::string GetWindowText(WindowHandle window, int maxCount) override {
    char buffer[256] = {};
    if (maxCount > static_cast<int>(sizeof(buffer))) maxCount = sizeof(buffer);
    ::GetWindowTextA(AsHwnd(window), buffer, maxCount);
    buffer[sizeof(buffer) - 1] = '\0';
    return buffer;
  }
};

}  // namespace

Platform Win32Roles() {
  // Never destroyed: handles still owned at exit close through it.
  static Win32Platform* const platform = new Win32Platform;
  return PlatformOf(*platform);
}

}  // namespace qm
