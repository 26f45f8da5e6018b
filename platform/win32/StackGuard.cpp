// The stack protector's guard and its failure handlers, in place of the
// toolchain runtime's. That runtime seeds the guard through
// CryptAcquireContextA, which loads a crypto provider DLL by a bare name
// before the launcher has restricted its DLL search: an elevated launcher
// could load a DLL planted beside it. Here the guard is seeded the way
// Microsoft's C runtime seeds its cookie, from kernel32 alone: system time,
// process and thread ids, tick count and performance counter. Linked into
// every Windows program of the project, so the runtime's own version is
// never pulled in (the fortified calls' __chk_fail is here too).
#include <windows.h>

#include <cstdint>

extern "C" {

// Any value but zero until seeded; the seeding runs before every other
// static initialiser of the program.
std::uintptr_t __stack_chk_guard = 0xBB40E64Eu;

__attribute__((noreturn)) void __stack_chk_fail(void) {
  // The stack is not to be trusted: no message, no unwinding, no handlers.
  TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  __builtin_trap();
}

__attribute__((noreturn)) void __stack_chk_fail_local(void) { __stack_chk_fail(); }

// A fortified string or memory call found its destination too small.
__attribute__((noreturn)) void __chk_fail(void) { __stack_chk_fail(); }

}  // extern "C"

namespace {

// Runs with the guard unchecked: it changes the guard its own frame would be
// checked against.
__attribute__((constructor(101), no_stack_protector)) void SeedStackGuard() {
  FILETIME time = {};
  GetSystemTimeAsFileTime(&time);
  LARGE_INTEGER counter = {};
  QueryPerformanceCounter(&counter);
  std::uintptr_t seed = time.dwLowDateTime ^ time.dwHighDateTime;
  seed ^= GetCurrentProcessId();
  seed ^= GetCurrentThreadId();
  seed ^= GetTickCount();
  seed ^= static_cast<std::uintptr_t>(counter.LowPart) ^ static_cast<std::uintptr_t>(counter.HighPart);
  // Never zero, and unlike the unseeded value.
  if (seed == 0 || seed == 0xBB40E64Eu) seed = 0xBB40E64Fu;
  __stack_chk_guard = seed;
}

}  // namespace
