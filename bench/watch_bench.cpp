// watch-bench [OUT]: the cost of one watch tick's enumeration with 500 top-level windows on the
// desktop, on the real window system (run under Wine by bench/wine_bench.py).
// The target title is on no window, so every pass visits every window.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/LauncherState.h"
#include "app/Watch.h"
#include "platform/win32/Win32Platform.h"

static BOOL CALLBACK CountWindow(HWND, LPARAM count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

int main(int argc, char** argv) {
  FILE* out = argc > 1 ? std::fopen(argv[1], "w") : stdout;
  if (out == nullptr) return 1;
  qm::SetPlatform(qm::Win32Roles());
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "QuillmarkBenchWindow";
  RegisterClassA(&windowClass);
  for (int i = 0; i < 500; ++i) {
    const std::string title = "Bench window " + std::to_string(i) + " with a title of ordinary length";
    CreateWindowExA(0, "QuillmarkBenchWindow", title.c_str(), WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                    windowClass.hInstance, nullptr);
  }
  const std::string target = "Elm Repair";
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  const int passes = 200;
  int windows = 0;
  EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&windows));
  QueryPerformanceCounter(&start);
  for (int pass = 0; pass < passes; ++pass) {
    qm::Desktop().EnumWindows(qm::FindTitleProc, reinterpret_cast<std::intptr_t>(&target));
  }
  QueryPerformanceCounter(&end);
  const double perPass = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart / passes;
  std::fprintf(out, "watch tick: one pass over %d top-level windows: %.3f ms (%.2f us per window); seen %d\n", windows,
              perPass * 1e3, perPass * 1e6 / windows, qm::LauncherState.windowSeen ? 1 : 0);
  if (out != stdout) std::fclose(out);
  return 0;
}
