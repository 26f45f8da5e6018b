// What an uncaught C++ exception does in our Windows programs: end the
// process at once. The toolchain's default handler prints the exception's
// demangled type to a console a GUI program does not have, and brings the
// whole C++ demangler (about 45 KB) into every executable for it.
#include <windows.h>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
  TerminateProcess(GetCurrentProcess(), 3);
  __builtin_trap();
}

}  // namespace __gnu_cxx
