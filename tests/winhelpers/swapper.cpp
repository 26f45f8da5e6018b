// swapper TARGET DECOY OUT: plays another program of the user that tries
// to swap the launcher's tool file before the tool starts.
//
// From the moment TARGET appears until a process runs under TARGET's file
// name (or 60 s), it keeps trying to overwrite TARGET with DECOY's bytes and
// to rename a copy of DECOY onto it. Then it writes "attempts N swapped M"
// to OUT.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool Running(const char* fileName) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  bool found = false;
  for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry)) {
    found = lstrcmpiA(entry.szExeFile, fileName) == 0;
  }
  CloseHandle(snapshot);
  return found;
}

std::vector<char> ReadAll(const char* path) {
  std::vector<char> bytes;
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return bytes;
  char chunk[65536];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof(chunk), file)) > 0;) bytes.insert(bytes.end(), chunk, chunk + got);
  std::fclose(file);
  return bytes;
}

bool Overwrite(const char* target, const std::vector<char>& bytes) {
  HANDLE file = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && SetEndOfFile(file);
  CloseHandle(file);
  return ok;
}

bool RenameOnto(const char* target, const char* decoy) {
  const std::string copy = std::string(decoy) + ".copy";
  if (!CopyFileA(decoy, copy.c_str(), FALSE)) return false;
  if (MoveFileExA(copy.c_str(), target, MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileA(copy.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const char* target = argv[1];
  const char* slash = std::strrchr(target, '\\');
  const char* fileName = slash != nullptr ? slash + 1 : target;
  const std::vector<char> decoy = ReadAll(argv[2]);
  int attempts = 0;
  int swapped = 0;
  for (DWORD started = GetTickCount(); GetTickCount() - started < 60000 && !Running(fileName);) {
    if (!Exists(target)) {
      Sleep(1);
      continue;
    }
    ++attempts;
    if (Overwrite(target, decoy)) ++swapped;
    if (RenameOnto(target, argv[2])) ++swapped;
  }
  FILE* out = std::fopen(argv[3], "w");
  if (out == nullptr) return 1;
  std::fprintf(out, "attempts %d swapped %d\n", attempts, swapped);
  std::fclose(out);
  return 0;
}
