#include "tools/common/ToolPlatform.h"

#ifdef _WIN32
#include "platform/win32/Win32Platform.h"
#include "platform/win32/WinApi.h"
#else
#include "platform/host/HostPlatform.h"
#endif

namespace qm {

namespace {
#ifdef _WIN32
Win32Platform gToolPlatform;
#else
HostPlatform gToolPlatform;
#endif
}  // namespace

Platform& UseToolPlatform() {
  SetPlatform(&gToolPlatform);
  return gToolPlatform;
}

void SetToolCodePage([[maybe_unused]] int codePage) {
#ifndef _WIN32
  gToolPlatform.codePage = codePage;
#endif
}

#ifdef _WIN32

namespace {
std::string AnsiText(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.pop_back();  // the zero
  return out;
}
}  // namespace

std::vector<ToolArgument> ToolArguments(int, char**) {
  std::vector<ToolArgument> arguments;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) {
    arguments.push_back({AnsiText(wide[i]), WidePath(reinterpret_cast<const char16_t*>(wide[i]))});
  }
  ::LocalFree(wide);
  return arguments;
}

std::filesystem::path FileSystemPath(const WidePath& path) {
  return std::filesystem::path(reinterpret_cast<const wchar_t*>(path.Units().c_str()));
}

std::FILE* OpenStream(const WidePath& path, const char* mode) {
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return ::_wfopen(reinterpret_cast<const wchar_t*>(path.Units().c_str()), wideMode.c_str());
}

#else

std::vector<ToolArgument> ToolArguments(int argc, char** argv) {
  std::vector<ToolArgument> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back({argv[i], WidePathFromUtf8(argv[i])});
  return arguments;
}

std::filesystem::path FileSystemPath(const WidePath& path) { return std::filesystem::path(Utf8Of(path)); }

std::FILE* OpenStream(const WidePath& path, const char* mode) { return std::fopen(Utf8Of(path).c_str(), mode); }

#endif

}  // namespace qm
