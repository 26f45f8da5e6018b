// What a path on a subst letter stands for. A subst letter, like every DOS
// device name, belongs to the logon session that made it: an elevated copy
// runs in another, and the deletions Windows makes at its next start run
// before anyone has logged on.
#pragma once

#include "platform/WidePath.h"

namespace qm {

// `path` with each subst letter replaced by what it stands for, letter
// after letter (at most 26): QueryDosDeviceW names a subst letter's target
// \??\C:\work (or \??\UNC\server\share); a drive's own is a device, such
// as \Device\HarddiskVolume2, and ends the search. *complete (if given) is
// false when a subst letter is left that the path cannot be taken through:
// one whose target is a volume or a device, or a chain of 26 letters. A
// path written \\?\X:\... is resolved alike and keeps its prefix
// (\\?\UNC\... where the letter stands for a share).
WidePath WithoutSubstLetters(const WidePath& path, bool* complete = nullptr);

}  // namespace qm
