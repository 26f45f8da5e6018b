// msgbox-watcher OUT [SECONDS]: waits for a message box captioned
// "Quillmark", writes its text to OUT, and presses OK. Writes nothing and
// exits 1 when none appears in time (default 30 s).
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 30;
  for (int tick = 0; tick < seconds * 50; ++tick) {
    HWND box = FindWindowA("#32770", "Quillmark");
    if (box != nullptr) {
      char text[512] = {};
      // A message box shows its text in the static control 0xFFFF.
      GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
      FILE* out = std::fopen(argv[1], "wb");
      if (out == nullptr) return 1;
      std::fputs(text, out);
      std::fclose(out);
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      return 0;
    }
    Sleep(20);
  }
  return 1;
}
