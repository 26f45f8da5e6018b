// The seam on the build machine, for the native command-line tools: the two
// roles they use, files through POSIX and the ANSI code page, which is a
// setting (platform/CodePages.h). What a tool never asks of the files fails
// with ERROR_NOT_SUPPORTED.
#pragma once

#include "platform/Platform.h"

namespace qm {

// The host's roles (files and the ANSI code page; the others stay empty),
// from one object that lives until the process ends.
Platform HostRoles();

// The ANSI code page the host reads text in (1252 at first).
void SetHostCodePage(int codePage);

// WideToMultiByte's contract with Latin-1 standing in for the ANSI code
// page (characters above U+00FF become '?'); 0 when out is too small.
int Latin1FromUtf16(const char16_t* text, char* out, int outSize);

}  // namespace qm
