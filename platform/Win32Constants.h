// The Win32 constants that portable code passes through the platform seam,
// written here once. They stand for the values of <windows.h>, which the
// portable code does not include; the Windows build checks every one of
// them against it (platform/win32/Win32ConstantsCheck.cpp).
#pragma once

#include <cstdint>

namespace qm::win {

// CreateFileA
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kFileShareRead = 0x1;
constexpr std::uint32_t kFileShareWrite = 0x2;
constexpr std::uint32_t kCreateNew = 1;
constexpr std::uint32_t kCreateAlways = 2;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kFileAttributeReadOnly = 0x1;
constexpr std::uint32_t kFileAttributeDirectory = 0x10;
constexpr std::uint32_t kFileAttributeNormal = 0x80;
constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr std::uint32_t kMoveFileReplaceExisting = 0x1;
constexpr std::uint32_t kMoveFileDelayUntilReboot = 0x4;
constexpr std::uint32_t kMoveFileWriteThrough = 0x8;
constexpr std::uint32_t kReplaceFileIgnoreMergeErrors = 0x2;
constexpr std::uint32_t kDriveRemote = 4;
constexpr std::uint32_t kMaxPath = 260;

// Waiting and processes
constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
constexpr std::uint32_t kWaitObject0 = 0;
constexpr std::uint32_t kWaitTimeout = 0x102;
constexpr std::uint32_t kNormalPriorityClass = 0x20;

// The shell and the desktop
constexpr std::uint32_t kSeeMaskNoCloseProcess = 0x40;
constexpr std::uint32_t kSeeMaskFlagNoUi = 0x400;
constexpr std::uint32_t kSeeMaskNoAsync = 0x100;
constexpr int kSwHide = 0;
constexpr int kSmCxScreen = 0;
constexpr int kSmCyScreen = 1;
constexpr std::uint32_t kMbOk = 0x0;
constexpr std::uint32_t kMbIconHand = 0x10;
constexpr std::uint32_t kMbSetForeground = 0x10000;
constexpr std::uint32_t kMbTopMost = 0x40000;

// Window messages
constexpr unsigned kWmPaint = 0x000F;
constexpr unsigned kWmTimer = 0x0113;
constexpr unsigned kWmMouseMove = 0x0200;
constexpr unsigned kWmLButtonDown = 0x0201;

// Code pages for WideCharToMultiByte
constexpr std::uint32_t kCpAcp = 0;
constexpr std::uint32_t kCpThreadAcp = 3;

// System error codes
constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kNoError = 0;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorNotSupported = 50;
constexpr std::uint32_t kErrorFileExists = 80;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorModNotFound = 126;
constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr std::uint32_t kErrorMoreData = 234;
constexpr std::uint32_t kErrorNoMoreItems = 259;
constexpr std::uint32_t kErrorUnableToRemoveReplaced = 1175;
constexpr std::uint32_t kErrorUnableToMoveReplacement = 1176;
constexpr std::uint32_t kErrorUnableToMoveReplacement2 = 1177;
constexpr std::uint32_t kErrorCancelled = 1223;

}  // namespace qm::win
