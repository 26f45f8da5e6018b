// desktop-probe OUT STOPFILE: watches the desktop while a test runs and
// writes what it saw of the launcher's frame window to OUT.
//
// Every few milliseconds it looks at every top-level window titled like the
// launcher's frame and notes whether one was ever visible; every 100 ms it
// sends such a window a message (WM_NULL, SendMessageTimeout, 1 s) and notes
// whether it was answered or timed out. It stops when STOPFILE exists (or after 60 s) and
// writes "seen N visible M answered A unanswered U".
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

const char kFrameTitle[] = "Repeat To Write Files Function Test";

struct Tally {
  int seen = 0;
  int visible = 0;
  int answered = 0;
  int unanswered = 0;
  bool send = false;  // this round sends
};

BOOL CALLBACK Look(HWND window, LPARAM context) {
  auto* tally = reinterpret_cast<Tally*>(context);
  char title[256] = {};
  GetWindowTextA(window, title, sizeof(title));
  if (std::strcmp(title, kFrameTitle) == 0) {
    ++tally->seen;
    if (IsWindowVisible(window)) ++tally->visible;
    DWORD_PTR result = 0;
    if (tally->send) {
      // A window destroyed meanwhile fails otherwise: only a time-out counts.
      if (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result) != 0) {
        ++tally->answered;
      } else if (GetLastError() == ERROR_TIMEOUT) {
        ++tally->unanswered;
      }
    }
  }
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  Tally tally;
  for (int tick = 0; tick < 12000; ++tick) {
    tally.send = tick % 20 == 0;
    EnumWindows(Look, reinterpret_cast<LPARAM>(&tally));
    if (GetFileAttributesA(argv[2]) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(5);
  }
  FILE* out = std::fopen(argv[1], "w");
  if (out == nullptr) return 1;
  std::fprintf(out, "seen %d visible %d answered %d unanswered %d\n", tally.seen, tally.visible, tally.answered,
               tally.unanswered);
  std::fclose(out);
  return 0;
}
