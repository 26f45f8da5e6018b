#include "tests/fake/FakePlatform.h"

#include <algorithm>
#include <cstring>

#include "platform/CodePages.h"
#include "platform/host/HostPlatform.h"

namespace qm::test {

namespace {
std::string Quote(const std::string& text) { return "\"" + text + "\""; }
}  // namespace

int FakePlatform::CountCalls(const std::string& name) const {
  const std::string prefix = name + "(";
  return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const std::string& line) {
    return line.compare(0, prefix.size(), prefix) == 0;
  }));
}

Handle FakePlatform::NewHandle(OpenFile file) {
  Handle handle = nextHandle_++;
  handles_[handle] = std::move(file);
  return handle;
}

int FakePlatform::GetSystemMetrics(int index) {
  Record("GetSystemMetrics(" + std::to_string(index) + ")");
  if (index == win::kSmCxScreen) return screenWidth;
  if (index == win::kSmCyScreen) return screenHeight;
  return 0;
}

bool FakePlatform::IsUserAnAdmin() {
  Record("IsUserAnAdmin()");
  return admin;
}

bool FakePlatform::ShellExecuteEx(const ShellExecuteRequest& request) {
  widePaths.push_back(request.file);
  Record("ShellExecuteEx(" + Quote(request.verb) + ", " + Quote(Utf8Of(request.file)) + ")");
  shellRequests.push_back(request);
  lastError_ = shellExecuteError;
  return shellExecuteError == 0;
}

bool FakePlatform::GetVersionEx(OsVersion* out) {
  Record("GetVersionEx()");
  if (!version) return false;
  *out = *version;
  return true;
}

bool FakePlatform::IsOpen(const std::string& path) const {
  return std::any_of(handles_.begin(), handles_.end(), [&](const auto& open) { return open.second.path == path; });
}

std::uint32_t FakePlatform::GetModuleFileName(WidePath* path) {
  Record("GetModuleFileName()");
  // The system's buffer of 260 units; a path that fills it is cut there,
  // without a zero, and reported with the buffer's size.
  const std::u16string units = WidePathFromUtf8(modulePath).Units();
  *path = WidePath(units.substr(0, win::kMaxPath));
  return units.size() >= win::kMaxPath ? win::kMaxPath : static_cast<std::uint32_t>(units.size());
}

std::uint32_t FakePlatform::GetLastError() { return lastError_; }

std::u16string FakePlatform::GetCommandLine() {
  Record("GetCommandLine()");
  return WidePathFromUtf8(commandLine).Units();
}

std::uint32_t FakePlatform::GetDriveType(const WidePath& root) {
  Record("GetDriveType(" + Quote(Utf8Of(root)) + ")");
  auto found = driveTypes.find(Utf8Of(root));
  return found == driveTypes.end() ? 3 : found->second;  // DRIVE_FIXED
}

std::uint32_t FakePlatform::WNetGetConnection(const std::u16string& localName, std::u16string* remoteName) {
  const std::string local = Utf8Of(WidePath(localName));
  Record("WNetGetConnection(" + Quote(local) + ")");
  if (mprMissing) return win::kErrorModNotFound;
  auto found = connections.find(local);
  if (found == connections.end()) return 2250;  // ERROR_NOT_CONNECTED
  *remoteName = WidePathFromUtf8(found->second).Units();
  return win::kNoError;
}

bool FakePlatform::QueryDosDevice(const std::u16string& deviceName, std::u16string* target) {
  const std::string name = Utf8Of(WidePath(deviceName));
  Record("QueryDosDevice(" + Quote(name) + ")");
  auto found = dosDevices.find(name);
  if (found == dosDevices.end()) {
    lastError_ = win::kErrorFileNotFound;
    return false;
  }
  *target = WidePathFromUtf8(found->second).Units();
  return true;
}

bool FakePlatform::GenRandom(void* buffer, std::uint32_t size) {
  // Predictable, so tests can name the result; never the same twice in a run.
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  for (std::uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(nextRandom_ + i);
  ++nextRandom_;
  return true;
}

bool FakePlatform::IsDbcsLeadByte(std::uint8_t byte) {
  return IsLeadByteOfCodePage(codePage, byte);
}

Handle FakePlatform::CreateFile(const std::string& path, const FileOpenRequest& request) {
  Record("CreateFile(" + Quote(path) + ", " + std::to_string(request.access) + ", " +
         std::to_string(request.share) + ", " + std::to_string(request.disposition) + ", " +
         std::to_string(request.flagsAndAttributes) + ")");
  auto found = files.find(path);
  const bool forWrite = (request.access & win::kGenericWrite) != 0;
  if (found != files.end() && found->second.deletePending) {
    lastError_ = win::kErrorAccessDenied;  // as Windows answers for a name whose delete is pending
    return kInvalidHandle;
  }
  if (request.disposition == win::kOpenExisting) {
    if (found == files.end()) {
      lastError_ = win::kErrorFileNotFound;
      return kInvalidHandle;
    }
  } else if (request.disposition == win::kCreateNew) {
    if (found != files.end()) {
      lastError_ = win::kErrorFileExists;
      return kInvalidHandle;
    }
    found = files.emplace(path, FakeFile()).first;
  } else if (request.disposition == win::kCreateAlways) {
    if (found != files.end() && found->second.openFails) {
      lastError_ = win::kErrorSharingViolation;
      return kInvalidHandle;
    }
    FakeFile& file = files[path];
    file.data.clear();  // truncated and reused
    found = files.find(path);
  }
  if (found == files.end() || found->second.openFails) {
    lastError_ = win::kErrorSharingViolation;
    return kInvalidHandle;
  }
  return NewHandle({path, forWrite, false, 0});
}

Handle FakePlatform::CreateFileW(const WidePath& path, const FileOpenRequest& request) {
  widePaths.push_back(path);
  return CreateFile(Utf8Of(path), request);
}

bool FakePlatform::SetFileAttributes(const WidePath& widePath, std::uint32_t attributes) {
  widePaths.push_back(widePath);
  const std::string path = Utf8Of(widePath);
  Record("SetFileAttributes(" + Quote(path) + ", " + std::to_string(attributes) + ")");
  auto found = files.find(path);
  if (found == files.end()) return false;
  found->second.attributes = attributes;
  return true;
}

bool FakePlatform::GetFileSizeEx(Handle file, std::int64_t* size) {
  Record("GetFileSizeEx()");
  auto open = handles_.find(file);
  if (open == handles_.end()) {
    lastError_ = win::kErrorInvalidHandle;
    return false;
  }
  const FakeFile& data = files[open->second.path];
  *size = data.reportedSize >= 0 ? data.reportedSize : static_cast<std::int64_t>(data.data.size());
  return true;
}

std::int64_t FakePlatform::PartOf(const FakeFile& file, std::size_t position, std::uint32_t size) {
  std::int64_t count = size;
  if (file.partSize >= 0) count = std::min(count, file.partSize);
  if (file.failsAt >= 0 && static_cast<std::int64_t>(position) + count > file.failsAt) return -1;
  return count;
}

bool FakePlatform::ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) {
  Record("ReadFile(" + std::to_string(size) + ")");
  *bytesRead = 0;
  auto open = handles_.find(file);
  if (open == handles_.end()) return false;
  const FakeFile& data = files[open->second.path];
  std::size_t& position = open->second.position;
  std::size_t end = data.data.size();
  if (data.readEndsAt >= 0) end = std::min(end, static_cast<std::size_t>(data.readEndsAt));
  const std::int64_t part = PartOf(data, position, size);
  if (data.readFails || part < 0) return false;
  const std::size_t count = std::min(static_cast<std::size_t>(part), end - std::min(end, position));
  if (count > 0) std::memcpy(buffer, data.data.data() + position, count);
  position += count;
  *bytesRead = static_cast<std::uint32_t>(count);
  return true;
}

bool FakePlatform::WriteFile(Handle file, const void* data, std::uint32_t size,
                             std::uint32_t* bytesWritten) {
  Record("WriteFile(" + std::to_string(size) + ")");
  *bytesWritten = 0;
  auto open = handles_.find(file);
  if (open == handles_.end() || !open->second.forWrite) return false;
  FakeFile& target = files[open->second.path];
  const std::int64_t part = PartOf(target, target.data.size(), size);
  if (part < 0) return false;
  const bool fits = diskFree < 0 || part <= diskFree;
  const auto count = static_cast<std::uint32_t>(fits ? part : diskFree);
  target.data.append(static_cast<const char*>(data), count);
  if (diskFree >= 0) diskFree -= count;
  *bytesWritten = count;
  return fits;
}

bool FakePlatform::CloseHandle(Handle handle) {
  Record("CloseHandle()");
  auto open = handles_.find(handle);
  if (open == handles_.end()) return false;
  const OpenFile closed = open->second;
  handles_.erase(open);
  if (!closed.isProcess && onCloseFile) onCloseFile(closed.path);
  return true;
}

bool FakePlatform::DeleteFile(const WidePath& widePath) {
  widePaths.push_back(widePath);
  const std::string path = Utf8Of(widePath);
  Record("DeleteFile(" + Quote(path) + ")");
  auto found = files.find(path);
  if (found == files.end()) {
    lastError_ = win::kErrorFileNotFound;
    return false;
  }
  if (found->second.attributes & (win::kFileAttributeDirectory | win::kFileAttributeReadOnly) ||
      found->second.deletePending) {
    lastError_ = win::kErrorAccessDenied;  // DeleteFile removes no folder and no read-only file
    return false;
  }
  if (found->second.deleteFailures > 0) {
    --found->second.deleteFailures;
    lastError_ = win::kErrorSharingViolation;
    return false;
  }
  if (found->second.heldSharingDelete) {
    found->second.deletePending = true;  // gone once the other program lets go
    return true;
  }
  files.erase(found);
  return true;
}

std::uint32_t FakePlatform::GetFileAttributes(const WidePath& widePath) {
  widePaths.push_back(widePath);
  const std::string path = Utf8Of(widePath);
  Record("GetFileAttributes(" + Quote(path) + ")");
  auto found = files.find(path);
  if (found == files.end()) {
    lastError_ = win::kErrorFileNotFound;
    return win::kInvalidFileAttributes;
  }
  return found->second.attributes;
}

bool FakePlatform::MoveFileEx(const WidePath& wideFrom, const WidePath& wideTo, std::uint32_t flags) {
  widePaths.push_back(wideFrom);
  const std::string from = Utf8Of(wideFrom);
  const std::string to = Utf8Of(wideTo);
  Record("MoveFileEx(" + Quote(from) + ", " + Quote(to) + ", " + std::to_string(flags) + ")");
  if (flags == win::kMoveFileDelayUntilReboot && to.empty()) {
    scheduledRemovals.push_back(from);
    return true;
  }
  widePaths.push_back(wideTo);
  auto found = files.find(from);
  if (found == files.end()) {
    lastError_ = win::kErrorFileNotFound;
    return false;
  }
  if (found->second.renameFails || found->second.deletePending || IsOpen(from)) {
    lastError_ = win::kErrorSharingViolation;
    return false;
  }
  if (files.count(to) != 0 && (flags & win::kMoveFileReplaceExisting) == 0) {
    lastError_ = win::kErrorAlreadyExists;
    return false;
  }
  files[to] = found->second;
  files.erase(from);
  return true;
}

bool FakePlatform::ReplaceFile(const WidePath& wideReplaced, const WidePath& wideReplacement,
                               const WidePath& wideBackup, std::uint32_t flags) {
  const std::string replaced = Utf8Of(wideReplaced);
  const std::string replacement = Utf8Of(wideReplacement);
  const std::string backup = Utf8Of(wideBackup);
  Record("ReplaceFile(" + Quote(replaced) + ", " + Quote(replacement) + ", " + Quote(backup) + ", " +
         std::to_string(flags) + ")");
  if (files.count(replaced) == 0 || files.count(replacement) == 0) {
    lastError_ = win::kErrorFileNotFound;
    return false;
  }
  const FakeFile old = files[replaced];
  const std::uint32_t failure = replaceFailure;
  replaceFailure = 0;
  lastError_ = failure;
  switch (failure) {
    case 0: {
      FakeFile merged = files[replacement];
      merged.attributes = old.attributes;  // the replaced file's identity stays
      files[replaced] = merged;
      files.erase(replacement);
      if (!backup.empty()) files[backup] = old;
      return true;
    }
    case win::kErrorUnableToMoveReplacement2:
      // The replaced file is under the backup's name (the code under test always names one).
      files[backup] = old;
      files.erase(replaced);
      return false;
    default:  // 1175, 1176 with a backup, and the rest: nothing moved
      return false;
  }
}

bool FakePlatform::DeviceIoControl(Handle, std::uint32_t code, void*, std::uint32_t size,
                                   std::uint32_t* bytesReturned) {
  Record("DeviceIoControl(" + std::to_string(code) + ", " + std::to_string(size) + ")");
  *bytesReturned = 0;
  lastError_ = win::kErrorInvalidHandle;
  return false;
}

// No device interfaces: the scan's second pass finds nothing here (the
// simulated stack answers these calls where a test needs them).
Handle FakePlatform::SetupDiGetClassDevs(const Guid&) {
  Record("SetupDiGetClassDevs()");
  lastError_ = win::kErrorNotSupported;
  return kInvalidHandle;
}
bool FakePlatform::SetupDiEnumDeviceInterfaces(Handle, const Guid&, std::uint32_t, DeviceInterfaceData*) {
  lastError_ = win::kErrorNoMoreItems;
  return false;
}
bool FakePlatform::SetupDiGetDeviceInterfaceDetail(Handle, const DeviceInterfaceData&, std::string*) { return false; }
bool FakePlatform::SetupDiDestroyDeviceInfoList(Handle) { return false; }

int FakePlatform::WideToMultiByte(std::uint32_t, const char16_t* text, char* out, int outSize) {
  const int written = Latin1FromUtf16(text, out, outSize);
  if (written == 0) lastError_ = win::kErrorInsufficientBuffer;
  return written;
}

bool FakePlatform::CreateProcess(const ProcessRequest& request, ProcessHandles* handles) {
  widePaths.push_back(request.applicationName);
  Record("CreateProcess(" + Quote(Utf8Of(request.applicationName)) + ", " +
         Quote(Utf8Of(WidePath(request.commandLine))) + ")");
  processRequests.push_back(request);
  if (processCreationFails) {
    lastError_ = win::kErrorFileNotFound;
    return false;
  }
  if (onCreateProcess) onCreateProcess(request);
  handles->process = NewHandle({"<process>", false, true});
  handles->thread = NewHandle({"<thread>", false, true});
  return true;
}

std::uint32_t FakePlatform::WaitForSingleObject(Handle, std::uint32_t milliseconds) {
  Record("WaitForSingleObject(" + std::to_string(milliseconds) + ")");
  return processRunning && milliseconds == 0 ? win::kWaitTimeout : win::kWaitObject0;
}

std::uint32_t FakePlatform::MsgWaitForSingleObject(Handle, std::uint32_t milliseconds) {
  Record("MsgWaitForSingleObject(" + std::to_string(milliseconds) + ")");
  return queue.empty() ? win::kWaitObject0 : win::kWaitObject0 + 1;
}

std::uint32_t FakePlatform::GetTickCount() { return tickCount; }

QueuedMessage FakePlatform::DispatchNextMessage(int* quitCode) {
  if (queue.empty()) return QueuedMessage::kNone;
  const FakeMessage message = queue.front();
  queue.pop_front();
  Record(message.quit ? "DispatchNextMessage(quit " + std::to_string(message.quitCode) + ")"
                      : std::string("DispatchNextMessage()"));
  if (!message.quit) return QueuedMessage::kDispatched;
  *quitCode = message.quitCode;
  return QueuedMessage::kQuit;
}

void FakePlatform::PostQuitMessage(int code) { Record("PostQuitMessage(" + std::to_string(code) + ")"); }

WindowHandle FakePlatform::GetForegroundWindow() {
  Record("GetForegroundWindow()");
  return foregroundWindow;
}

void FakePlatform::Sleep(std::uint32_t milliseconds) {
  Record("Sleep(" + std::to_string(milliseconds) + ")");
  sleeps.push_back(milliseconds);
  tickCount += milliseconds;
  if (onSleep) onSleep(milliseconds);
}

bool FakePlatform::SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t milliseconds) {
  Record("SetTimer(" + std::to_string(window) + ", " + std::to_string(id) + ", " +
         std::to_string(milliseconds) + ")");
  return !timerFails;
}

bool FakePlatform::KillTimer(WindowHandle window, std::uintptr_t id) {
  Record("KillTimer(" + std::to_string(window) + ", " + std::to_string(id) + ")");
  return true;
}

bool FakePlatform::DestroyWindow(WindowHandle window) {
  Record("DestroyWindow(" + std::to_string(window) + ")");
  return true;
}

int FakePlatform::MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                             std::uint32_t type) {
  Record("MessageBox(" + Quote(text) + ", " + Quote(caption) + ", " + std::to_string(type) + ")");
  messageBoxes.push_back({owner, text, caption, type});
  return 1;  // IDOK
}

bool FakePlatform::EnumWindows(EnumWindowsCallback callback, std::intptr_t userValue) {
  Record("EnumWindows()");
  // A copy: the desktop may change while a test's callback runs.
  const std::vector<FakeWindow> snapshot = windows;
  for (const FakeWindow& window : snapshot) {
    if (!callback(window.handle, userValue)) return false;
  }
  return true;
}

std::string FakePlatform::GetWindowText(WindowHandle window, int maxCount) {
  for (const FakeWindow& candidate : windows) {
    if (candidate.handle != window) continue;
    if (maxCount <= 0) return std::string();
    return candidate.title.substr(0, static_cast<std::size_t>(maxCount - 1));
  }
  return std::string();
}

}  // namespace qm::test
