#include "platform/SubstLetters.h"

#include "platform/Platform.h"

namespace qm {

namespace {

// The target a subst letter `drive` names, without its \??\; false for a
// drive that is none (or no drive at all).
bool SubstTarget(const std::u16string& drive, std::u16string* target) {
  if (drive.empty() || !Drives().QueryDosDevice(drive, target) || target->compare(0, 4, u"\\??\\") != 0) return false;
  target->erase(0, 4);
  return true;
}

constexpr char16_t kLongPrefix[] = u"\\\\?\\";  // the long-path prefix, as in \\?\C:\x

// `units` again under the \\?\ prefix it was taken from: \\?\C:\..., or
// \\?\UNC\server\share\... for what a letter made a UNC path.
std::u16string WithLongPrefix(const std::u16string& units) {
  if (units.compare(0, 2, u"\\\\") == 0) return kLongPrefix + (u"UNC" + units.substr(1));
  return kLongPrefix + units;
}

}  // namespace

WidePath WithoutSubstLetters(const WidePath& path, bool* complete) {
  std::u16string units = path.Units();
  if (units.compare(0, 4, kLongPrefix) == 0 && !WidePath(units.substr(4)).Drive().empty()) {
    const WidePath resolved = WithoutSubstLetters(WidePath(units.substr(4)), complete);
    return WidePath(WithLongPrefix(resolved.Units()));
  }
  std::u16string target;
  // One step per letter at most: a subst letter may stand for a path on another.
  for (int step = 0; step < 26; ++step) {
    if (!SubstTarget(WidePath(units).Drive(), &target)) {
      if (complete != nullptr) *complete = true;
      return WidePath(units);
    }
    if (target.compare(0, 4, u"UNC\\") == 0 && target.size() > 4) {
      target.replace(0, 3, u"\\");  // UNC\server\share: \\server\share
    } else if (WidePath(target + u"\\").Drive().empty()) {
      break;  // a target that is no path (a volume, a device) is left to the system
    }
    if (target.back() == u'\\') target.pop_back();  // a drive's root, "C:\"
    units = target + units.substr(2);
  }
  if (complete != nullptr) *complete = false;
  return WidePath(units);
}

}  // namespace qm
