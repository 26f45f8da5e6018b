// The seam on Win32: each operation is the one Win32 call it names.
#include "platform/win32/Win32Platform.h"

#include "platform/win32/WinApi.h"

#include <setupapi.h>  // the types only: the DLL is loaded at run time
#undef SetupDiGetClassDevs
#undef SetupDiGetDeviceInterfaceDetail

#include <vector>

namespace qm {

namespace {

HANDLE AsHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle FromHandle(HANDLE handle) { return reinterpret_cast<Handle>(handle); }
HWND AsHwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }
// mingw's wchar_t is UTF-16, as char16_t is.
const wchar_t* Wide(const std::u16string& units) { return reinterpret_cast<const wchar_t*>(units.c_str()); }
const wchar_t* Wide(const WidePath& path) { return Wide(path.Units()); }

#if defined(_WIN32) && !defined(_WIN64)
// The sizes the launcher's records carry are those of the 32-bit structures.
static_assert(sizeof(SHELLEXECUTEINFOA) == 60 && sizeof(SHELLEXECUTEINFOW) == 60, "SHELLEXECUTEINFO");
static_assert(sizeof(STARTUPINFOA) == 68 && sizeof(STARTUPINFOW) == 68, "STARTUPINFO");
static_assert(sizeof(SECURITY_ATTRIBUTES) == 12, "SECURITY_ATTRIBUTES");
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA");
#endif

}  // namespace

int Win32Platform::GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

bool Win32Platform::IsUserAnAdmin() { return ::IsUserAnAdmin() != FALSE; }

bool Win32Platform::ShellExecuteEx(const ShellExecuteRequest& request) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);  // the request's 60 on 32-bit Windows
  info.fMask = request.fMask;
  info.hwnd = AsHwnd(request.hwnd);
  const std::u16string verb(request.verb.begin(), request.verb.end());  // ASCII
  info.lpVerb = Wide(verb);
  info.lpFile = Wide(request.file);
  info.nShow = request.nShow;
  return ::ShellExecuteExW(&info) != FALSE;
}

bool Win32Platform::GetVersionEx(OsVersion* version) {
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

std::uint32_t Win32Platform::GetModuleFileName(WidePath* path) {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD copied = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  // A cut path has no terminating zero: the count says how much is there.
  const DWORD units = copied < MAX_PATH ? copied : MAX_PATH;
  *path = WidePath(std::u16string(reinterpret_cast<const char16_t*>(buffer), units));
  return copied;
}

std::uint32_t Win32Platform::GetLastError() { return ::GetLastError(); }

bool Win32Platform::IsDbcsLeadByte(std::uint8_t byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

Handle Win32Platform::CreateFile(const std::string& deviceName, const FileOpenRequest& request) {
  SECURITY_ATTRIBUTES security = {};
  security.nLength = sizeof(security);
  security.bInheritHandle = FALSE;
  HANDLE handle = ::CreateFileA(deviceName.c_str(), request.access, request.share,
                                request.nonInheritableSecurity ? &security : nullptr,
                                request.disposition, request.flagsAndAttributes, nullptr);
  return handle == INVALID_HANDLE_VALUE ? kInvalidHandle : FromHandle(handle);
}

Handle Win32Platform::CreateFileW(const WidePath& path, const FileOpenRequest& request) {
  SECURITY_ATTRIBUTES security = {};
  security.nLength = sizeof(security);
  security.bInheritHandle = FALSE;
  HANDLE handle = ::CreateFileW(Wide(path), request.access, request.share,
                                request.nonInheritableSecurity ? &security : nullptr,
                                request.disposition, request.flagsAndAttributes, nullptr);
  return handle == INVALID_HANDLE_VALUE ? kInvalidHandle : FromHandle(handle);
}

bool Win32Platform::SetFileAttributes(const WidePath& path, std::uint32_t attributes) {
  return ::SetFileAttributesW(Wide(path), attributes) != FALSE;
}

std::uint32_t Win32Platform::GetFileSize(Handle file) { return ::GetFileSize(AsHandle(file), nullptr); }

bool Win32Platform::ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) {
  DWORD done = 0;
  BOOL ok = ::ReadFile(AsHandle(file), buffer, size, &done, nullptr);
  *bytesRead = done;
  return ok != FALSE;
}

bool Win32Platform::WriteFile(Handle file, const void* data, std::uint32_t size,
                              std::uint32_t* bytesWritten) {
  DWORD done = 0;
  BOOL ok = ::WriteFile(AsHandle(file), data, size, &done, nullptr);
  *bytesWritten = done;
  return ok != FALSE;
}

bool Win32Platform::CloseHandle(Handle handle) { return ::CloseHandle(AsHandle(handle)) != FALSE; }

bool Win32Platform::DeleteFile(const WidePath& path) { return ::DeleteFileW(Wide(path)) != FALSE; }

bool Win32Platform::DeviceIoControl(Handle device, std::uint32_t code, void* buffer, std::uint32_t size,
                                    std::uint32_t* bytesReturned) {
  DWORD returned = 0;
  BOOL ok = ::DeviceIoControl(AsHandle(device), code, buffer, size, buffer, size, &returned, nullptr);
  *bytesReturned = returned;
  return ok != FALSE;
}

namespace {

// setupapi.dll is not a known DLL on every Windows, so a static import would
// let a copy planted beside an elevated launcher load before any of our
// code runs. It is loaded from the system directory only, when first needed.
HMODULE LoadSetupApi() {
  constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;
  // The export, not a failed call, tells whether the flag is understood: XP
  // ignores it and Vista or 7 without the update refuse it.
  if (::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "AddDllDirectory") != nullptr) {
    return ::LoadLibraryExA("setupapi.dll", nullptr, kLoadLibrarySearchSystem32);
  }
  wchar_t folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\setupapi.dll";
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
    HMODULE module = LoadSetupApi();
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

Handle Win32Platform::SetupDiGetClassDevs(const Guid& interfaceClass) {
  if (!Setup().loaded) {
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return kInvalidHandle;
  }
  const GUID guid = AsGuid(interfaceClass);
  HDEVINFO list = Setup().getClassDevs(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  return list == INVALID_HANDLE_VALUE ? kInvalidHandle : FromHandle(list);
}

bool Win32Platform::SetupDiEnumDeviceInterfaces(Handle list, const Guid& interfaceClass, std::uint32_t index,
                                                DeviceInterfaceData* data) {
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

bool Win32Platform::SetupDiGetDeviceInterfaceDetail(Handle list, const DeviceInterfaceData& data,
                                                    std::string* devicePath) {
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

bool Win32Platform::SetupDiDestroyDeviceInfoList(Handle list) {
  return Setup().loaded && Setup().destroyDeviceInfoList(AsHandle(list)) != FALSE;
}

int Win32Platform::WideToMultiByte(std::uint32_t codePage, const char16_t* text, char* out, int outSize) {
  return ::WideCharToMultiByte(codePage, 0, reinterpret_cast<const wchar_t*>(text), -1, out, outSize,
                               nullptr, nullptr);
}

bool Win32Platform::CreateProcess(const ProcessRequest& request, ProcessHandles* handles) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);  // the request's 68 on 32-bit Windows
  PROCESS_INFORMATION process = {};
  // CreateProcessW may write into the command line: hand it a private copy.
  std::u16string commandLine = request.commandLine;
  BOOL ok = ::CreateProcessW(request.applicationName.Empty() ? nullptr : Wide(request.applicationName),
                             commandLine.empty() ? nullptr : reinterpret_cast<wchar_t*>(&commandLine[0]), nullptr, nullptr,
                             request.inheritHandles ? TRUE : FALSE, request.creationFlags, nullptr,
                             nullptr, &startup, &process);
  if (!ok) return false;
  handles->process = FromHandle(process.hProcess);
  handles->thread = FromHandle(process.hThread);
  return true;
}

std::uint32_t Win32Platform::WaitForSingleObject(Handle handle, std::uint32_t milliseconds) {
  return ::WaitForSingleObject(AsHandle(handle), milliseconds);
}

std::uint32_t Win32Platform::MsgWaitForSingleObject(Handle handle, std::uint32_t milliseconds) {
  HANDLE object = AsHandle(handle);
  return ::MsgWaitForMultipleObjects(1, &object, FALSE, milliseconds, QS_ALLINPUT);
}

std::uint32_t Win32Platform::GetTickCount() { return ::GetTickCount(); }

void Win32Platform::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

bool Win32Platform::SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t milliseconds) {
  return ::SetTimer(AsHwnd(window), id, milliseconds, nullptr) != 0;
}

bool Win32Platform::KillTimer(WindowHandle window, std::uintptr_t id) {
  return ::KillTimer(AsHwnd(window), id) != FALSE;
}

bool Win32Platform::DestroyWindow(WindowHandle window) { return ::DestroyWindow(AsHwnd(window)) != FALSE; }

int Win32Platform::MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                              std::uint32_t type) {
  return ::MessageBoxA(AsHwnd(owner), text.c_str(), caption.c_str(), type);
}

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

bool Win32Platform::EnumWindows(EnumWindowsCallback callback, std::intptr_t userValue) {
  EnumContext context{callback, userValue};
  return ::EnumWindows(EnumTrampoline, reinterpret_cast<LPARAM>(&context)) != FALSE;
}

QueuedMessage Win32Platform::DispatchNextMessage(int* quitCode) {
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

void Win32Platform::PostQuitMessage(int code) { ::PostQuitMessage(code); }

std::string Win32Platform::GetWindowText(WindowHandle window, int maxCount) {
  char buffer[256] = {};
  if (maxCount > static_cast<int>(sizeof(buffer))) maxCount = sizeof(buffer);
  ::GetWindowTextA(AsHwnd(window), buffer, maxCount);
  buffer[sizeof(buffer) - 1] = '\0';
  return buffer;
}

}  // namespace qm
