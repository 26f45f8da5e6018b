// The constants of platform/Win32Constants.h, checked against <windows.h>.
#include "platform/Win32Constants.h"

#include "platform/win32/WinApi.h"

namespace qm::win {

static_assert(kGenericRead == GENERIC_READ && kGenericWrite == GENERIC_WRITE, "access");
static_assert(kFileShareRead == FILE_SHARE_READ && kFileShareWrite == FILE_SHARE_WRITE, "sharing");
static_assert(kCreateNew == CREATE_NEW && kCreateAlways == CREATE_ALWAYS && kOpenExisting == OPEN_EXISTING,
              "dispositions");
static_assert(kFileAttributeNormal == FILE_ATTRIBUTE_NORMAL && kMaxPath == MAX_PATH &&
                  kFileAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY && kFileAttributeReadOnly == FILE_ATTRIBUTE_READONLY &&
                  kInvalidFileAttributes == INVALID_FILE_ATTRIBUTES &&
                  kMoveFileDelayUntilReboot == MOVEFILE_DELAY_UNTIL_REBOOT && kDriveRemote == DRIVE_REMOTE,
              "files");
static_assert(kMoveFileReplaceExisting == MOVEFILE_REPLACE_EXISTING && kMoveFileWriteThrough == MOVEFILE_WRITE_THROUGH &&
                  kReplaceFileIgnoreMergeErrors == REPLACEFILE_IGNORE_MERGE_ERRORS,
              "moves and replaces");
static_assert(kInfinite == INFINITE && kWaitObject0 == WAIT_OBJECT_0 && kWaitTimeout == WAIT_TIMEOUT, "waits");
static_assert(kNormalPriorityClass == NORMAL_PRIORITY_CLASS, "priority");
static_assert(kSeeMaskNoCloseProcess == SEE_MASK_NOCLOSEPROCESS && kSeeMaskFlagNoUi == SEE_MASK_FLAG_NO_UI &&
                  kSeeMaskNoAsync == SEE_MASK_NOASYNC,
              "shell");
static_assert(kSwHide == SW_HIDE && kSmCxScreen == SM_CXSCREEN && kSmCyScreen == SM_CYSCREEN, "desktop");
static_assert(kMbOk == MB_OK && kMbIconHand == MB_ICONHAND && kMbSetForeground == MB_SETFOREGROUND &&
                  kMbTopMost == MB_TOPMOST,
              "message boxes");
static_assert(kWmPaint == WM_PAINT && kWmTimer == WM_TIMER && kWmMouseMove == WM_MOUSEMOVE &&
                  kWmLButtonDown == WM_LBUTTONDOWN,
              "messages");
static_assert(kCpAcp == CP_ACP && kCpThreadAcp == CP_THREAD_ACP, "code pages");
static_assert(kNoError == NO_ERROR && kErrorPathNotFound == ERROR_PATH_NOT_FOUND &&
                  kErrorModNotFound == ERROR_MOD_NOT_FOUND && kErrorAlreadyExists == ERROR_ALREADY_EXISTS && kErrorMoreData == ERROR_MORE_DATA,
              "more error codes");
static_assert(kErrorUnableToRemoveReplaced == ERROR_UNABLE_TO_REMOVE_REPLACED &&
                  kErrorUnableToMoveReplacement == ERROR_UNABLE_TO_MOVE_REPLACEMENT &&
                  kErrorUnableToMoveReplacement2 == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 && kErrorCancelled == ERROR_CANCELLED,
              "replace and shell error codes");
static_assert(kErrorInvalidFunction == ERROR_INVALID_FUNCTION && kErrorFileNotFound == ERROR_FILE_NOT_FOUND &&
                  kErrorAccessDenied == ERROR_ACCESS_DENIED && kErrorInvalidHandle == ERROR_INVALID_HANDLE &&
                  kErrorGenFailure == ERROR_GEN_FAILURE && kErrorSharingViolation == ERROR_SHARING_VIOLATION &&
                  kErrorNotSupported == ERROR_NOT_SUPPORTED && kErrorFileExists == ERROR_FILE_EXISTS &&
                  kErrorInvalidParameter == ERROR_INVALID_PARAMETER &&
                  kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER && kErrorNoMoreItems == ERROR_NO_MORE_ITEMS,
              "error codes");

}  // namespace qm::win
