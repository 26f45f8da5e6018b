// demo-tool: stands in for any repair tool in the end-to-end tests and the
// demo. Its behaviour comes from "demo-tools.txt" beside it, one line per
// file name it may run under, tab-separated:
//
//   Elm_5.exe<TAB>title=Elm Repair<TAB>show_ms=2500
//
//   delay_ms=N     first wait N ms (the launcher waits meanwhile for some tools)
//   title=TEXT     show a top-level window with this title (none: no window)
//   show_ms=N      how long the window stays open (default 2500)
//   handoff=1      hand the window to a detached child process and end at once
//   hold_ms=N      after the window closes, keep the own file open (no delete
//                  sharing) for N ms before ending
//   nudge=close    first post WM_CLOSE to the launcher's hidden frame
//   nudge=quit     first post WM_QUIT (code 5) to the launcher's thread
//
// Every step is appended to "demo-tools.log" beside it as "NAME: step",
// the first being its arguments and its current directory (in UTF-8). A
// file ending in "ENTRY:<name>" (as the tests pack it) logs that name too,
// which shows which container entry this copy came from. Its own files are
// found by their UTF-16 paths, so it runs in any folder the launcher does.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

std::wstring gDirectory;
std::string gName;  // the file name it runs under (ASCII: the launcher's written names)
std::wstring gSelf;

void Log(const std::string& step) {
  const std::string line = gName + ": " + step + "\r\n";
  HANDLE log = CreateFileW((gDirectory + L"\\demo-tools.log").c_str(), FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(log);
}

std::string CurrentDirectory() {
  wchar_t folder[MAX_PATH] = {};
  const DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
  char text[4 * MAX_PATH] = {};
  WideCharToMultiByte(CP_UTF8, 0, folder, static_cast<int>(length), text, sizeof(text) - 1, nullptr, nullptr);
  return text;
}

// The "ENTRY:<name>" tag at the end of the own file, if any.
std::string EntryTag() {
  FILE* file = _wfopen(gSelf.c_str(), L"rb");
  if (file == nullptr) return std::string();
  char tail[128] = {};
  std::string tag;
  if (std::fseek(file, -static_cast<long>(sizeof(tail) - 1), SEEK_END) == 0 &&
      std::fread(tail, 1, sizeof(tail) - 1, file) > 0) {
    const std::string text(tail, sizeof(tail) - 1);
    const std::size_t at = text.rfind("ENTRY:");
    if (at != std::string::npos) tag = text.substr(at + 6).c_str();
  }
  std::fclose(file);
  return tag;
}

std::map<std::string, std::string> Settings() {
  std::map<std::string, std::string> settings;
  FILE* file = _wfopen((gDirectory + L"\\demo-tools.txt").c_str(), L"rb");
  if (file == nullptr) return settings;
  char line[1024];
  while (std::fgets(line, sizeof(line), file) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::size_t tab = text.find('\t');
    if (text.substr(0, tab) != gName) continue;
    while (tab != std::string::npos) {
      const std::size_t next = text.find('\t', tab + 1);
      const std::string pair = text.substr(tab + 1, next == std::string::npos ? std::string::npos : next - tab - 1);
      const std::size_t equals = pair.find('=');
      if (equals != std::string::npos) settings[pair.substr(0, equals)] = pair.substr(equals + 1);
      tab = next;
    }
  }
  std::fclose(file);
  return settings;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER) {
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void ShowWindowFor(const std::string& title, int milliseconds) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "QuillmarkDemoTool";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, "QuillmarkDemoTool", title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300,
                                200, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr) {
    Log("window could not be created");
    return;
  }
  Log("window shown \"" + title + "\"");
  SetTimer(window, 1, static_cast<UINT>(milliseconds), nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  Log("window closed");
}

// Ends the launcher's message loop from outside, as a user's or a system's
// message would.
void NudgeLauncher(const std::string& how) {
  HWND frame = FindWindowA(nullptr, "Repeat To Write Files Function Test");
  const DWORD thread = frame != nullptr ? GetWindowThreadProcessId(frame, nullptr) : 0;
  const bool posted = how == "close" ? frame != nullptr && PostMessageA(frame, WM_CLOSE, 0, 0)
                                     : thread != 0 && PostThreadMessageA(thread, WM_QUIT, 5, 0);
  Log(std::string(posted ? "nudged the launcher: " : "could not nudge the launcher: ") + how);
}

void HandOff() {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  std::wstring commandLine = L"\"" + gSelf + L"\" --child";
  if (CreateProcessW(gSelf.c_str(), &commandLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                     &startup, &process)) {
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    Log("handed off");
  } else {
    Log("hand-off failed");
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  gSelf = path;
  const std::size_t slash = gSelf.find_last_of(L'\\');
  gDirectory = gSelf.substr(0, slash);
  for (wchar_t unit : gSelf.substr(slash + 1)) gName += static_cast<char>(unit);
  const bool child = std::strstr(commandLine, "--child") != nullptr;
  Log(std::string(child ? "child started" : "started") + ", arguments \"" + commandLine + "\"");
  if (!child) Log("entry " + EntryTag());
  if (!child) Log("current directory " + CurrentDirectory());

  std::map<std::string, std::string> settings = Settings();
  if (settings.count("nudge") && !child) NudgeLauncher(settings["nudge"]);
  if (settings.count("delay_ms") && !child) Sleep(static_cast<DWORD>(std::atoi(settings["delay_ms"].c_str())));
  if (settings.count("handoff") && !child) {
    HandOff();
    Log("ended");
    return 0;
  }
  if (settings.count("title")) {
    ShowWindowFor(settings["title"], settings.count("show_ms") ? std::atoi(settings["show_ms"].c_str()) : 2500);
  }
  if (settings.count("hold_ms")) {
    HANDLE self = CreateFileW(gSelf.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    Log(self != INVALID_HANDLE_VALUE ? "holding its file" : "could not hold its file");
    Sleep(static_cast<DWORD>(std::atoi(settings["hold_ms"].c_str())));
    if (self != INVALID_HANDLE_VALUE) CloseHandle(self);
  }
  Log("ended");
  return 0;
}
