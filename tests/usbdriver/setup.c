/* qmusbsim-setup: puts the test USB stack into a Wine prefix.
 *
 *   qmusbsim-setup install INF   registers the root-enumerated devices (once
 *                                per prefix) and installs the driver for them
 *   qmusbsim-setup reload        waits for the driver's answer (starting it
 *                                when no one has), then has it read its
 *                                answer file again
 *
 * Exit 0, or 1 with one line on the error output. A test component. */
#include <windows.h>
#include <setupapi.h>
#include <newdev.h>
#include <stdio.h>

#include "AnswerFormat.h"

static const GUID kUsbClass = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

static int Fail(const char* what, DWORD error) {
  fprintf(stderr, "qmusbsim-setup: %s (error %lu)\n", what, (unsigned long)error);
  return 1;
}

/* One root-enumerated device: its hardware ids are root\qmusbsimK (the
 * driver reads its slot K from the digits) and root\qmusbsim (the INF's). */
static int RegisterDevice(unsigned slot) {
  wchar_t instance[64], hardwareIds[64];
  HDEVINFO set = SetupDiCreateDeviceInfoList(&kUsbClass, NULL);
  SP_DEVINFO_DATA device;
  DWORD error = 0;
  int length;
  if (set == INVALID_HANDLE_VALUE) return Fail("no device list", GetLastError());
  memset(&device, 0, sizeof(device));
  device.cbSize = sizeof(device);
  swprintf(instance, 64, L"ROOT\\QMUSBSIM\\%04u", slot);
  memset(hardwareIds, 0, sizeof(hardwareIds));
  length = swprintf(hardwareIds, 60, L"root\\qmusbsim%u", slot);
  wcscpy(hardwareIds + length + 1, L"root\\qmusbsim");  /* a list: two zeros end it */
  if (!SetupDiCreateDeviceInfoW(set, instance, &kUsbClass, NULL, NULL, 0, &device)) {
    error = GetLastError();
    SetupDiDestroyDeviceInfoList(set);
    return error == ERROR_DEVINST_ALREADY_EXISTS ? 0 : Fail("the device cannot be created", error);
  }
  if (!SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, (const BYTE*)hardwareIds,
                                         (DWORD)((length + 1 + wcslen(L"root\\qmusbsim") + 2) * sizeof(wchar_t))) ||
      !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) {
    error = GetLastError();
  }
  SetupDiDestroyDeviceInfoList(set);
  return error == 0 ? 0 : Fail("the device cannot be registered", error);
}

/* Every slot's device, and the driver for all of them at once. */
static int Install(const wchar_t* inf) {
  unsigned slot;
  BOOL reboot = FALSE;
  for (slot = 0; slot < QM_MAX_INTERFACES; ++slot) {
    if (RegisterDevice(slot) != 0) return 1;
  }
  if (!UpdateDriverForPlugAndPlayDevicesW(NULL, L"root\\qmusbsim", inf, INSTALLFLAG_FORCE, &reboot)) {
    return Fail("the driver cannot be installed", GetLastError());
  }
  return 0;
}

/* A start that the service manager gave up on (it ends the driver's host
 * when the host does not answer in time, as on a busy machine) is tried
 * again, this many times in all. */
#define QM_START_TRIES 10
/* While the service manager is busy (another start, a start or stop
 * pending) the helper looks again this often, and gives up only after this
 * long: a machine that is not coming at all. */
#define QM_POLL_MS 50
#define QM_GIVE_UP_MS 600000

/* The driver's control device, once the driver answers; started here when
 * no one has started it (a new Wine session starts installed devices by
 * itself, perhaps not yet, perhaps in vain on a busy machine). */
static HANDLE ControlOfTheDriver(void) {
  SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager != NULL ? OpenServiceW(manager, L"qmusbsim", SERVICE_START | SERVICE_QUERY_STATUS) : NULL;
  HANDLE control = INVALID_HANDLE_VALUE;
  DWORD error = service == NULL ? GetLastError() : 0;
  const DWORD begun = GetTickCount();
  int tries = 0;
  while (service != NULL && error == 0) {
    SERVICE_STATUS status;
    control = CreateFileW(L"\\\\.\\" QM_CONTROL_NAME, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (control != INVALID_HANDLE_VALUE) break;
    if (!QueryServiceStatus(service, &status)) {
      error = GetLastError();
    } else if (GetTickCount() - begun >= QM_GIVE_UP_MS) {
      error = ERROR_TIMEOUT;
    } else if (status.dwCurrentState == SERVICE_STOPPED && tries == QM_START_TRIES) {
      error = ERROR_SERVICE_REQUEST_TIMEOUT;
    } else if (status.dwCurrentState == SERVICE_STOPPED) {
      const DWORD started = StartServiceW(service, 0, NULL) ? 0 : GetLastError();
      if (started == 0 || started == ERROR_SERVICE_REQUEST_TIMEOUT) {
        ++tries;
      } else if (started == ERROR_SERVICE_DATABASE_LOCKED || started == ERROR_SERVICE_ALREADY_RUNNING) {
        Sleep(QM_POLL_MS);  /* another start is under way */
      } else {
        error = started;
      }
    } else {
      Sleep(QM_POLL_MS);  /* start pending, or running while its device appears */
    }
  }
  if (service != NULL) CloseServiceHandle(service);
  if (manager != NULL) CloseServiceHandle(manager);
  if (control == INVALID_HANDLE_VALUE) Fail("the test USB driver cannot be started", error);
  return control;
}

static int Reload(void) {
  HANDLE control = ControlOfTheDriver();
  DWORD returned = 0, error = 0;
  LONG status = 0;
  if (control == INVALID_HANDLE_VALUE) return 1;
  if (!DeviceIoControl(control, QM_IOCTL_RELOAD, NULL, 0, &status, sizeof(status), &returned, NULL)) {
    error = GetLastError();
  }
  CloseHandle(control);
  if (error != 0) return Fail("the test USB driver refused the reload", error);
  if (status != 0) {
    fprintf(stderr, "qmusbsim-setup: the test USB driver could not serve its answer file (status 0x%08lx)\n",
            (unsigned long)status);
    return 1;
  }
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && wcscmp(argv[1], L"install") == 0) return Install(argv[2]);
  if (argc == 2 && wcscmp(argv[1], L"reload") == 0) return Reload();
  fprintf(stderr, "usage: qmusbsim-setup install INF | reload\n");
  return 2;
}
