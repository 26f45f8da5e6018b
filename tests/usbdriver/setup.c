/* qmusbsim-setup: puts the test USB stack into a Wine prefix.
 *
 *   qmusbsim-setup install INF   registers the root-enumerated devices (once
 *                                per prefix) and installs the driver for them
 *   qmusbsim-setup reload        waits for the driver, then has it read its
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

/* One root-enumerated device whose hardware id ends in its slot. */
static int RegisterDevice(unsigned slot) {
  wchar_t instance[64], hardwareId[64];
  HDEVINFO set = SetupDiCreateDeviceInfoList(&kUsbClass, NULL);
  SP_DEVINFO_DATA device;
  DWORD error = 0;
  if (set == INVALID_HANDLE_VALUE) return Fail("no device list", GetLastError());
  memset(&device, 0, sizeof(device));
  device.cbSize = sizeof(device);
  swprintf(instance, 64, L"ROOT\\QMUSBSIM\\%04u", slot);
  memset(hardwareId, 0, sizeof(hardwareId));
  swprintf(hardwareId, 62, L"root\\qmusbsim%u", slot);  /* a list: two zeros end it */
  if (!SetupDiCreateDeviceInfoW(set, instance, &kUsbClass, NULL, NULL, 0, &device)) {
    error = GetLastError();
    SetupDiDestroyDeviceInfoList(set);
    return error == ERROR_DEVINST_ALREADY_EXISTS ? 0 : Fail("the device cannot be created", error);
  }
  if (!SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, (const BYTE*)hardwareId,
                                         (DWORD)((wcslen(hardwareId) + 2) * sizeof(wchar_t))) ||
      !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) {
    error = GetLastError();
  }
  SetupDiDestroyDeviceInfoList(set);
  return error == 0 ? 0 : Fail("the device cannot be registered", error);
}

/* Installed devices come up by themselves as a session starts; this one
 * has already started, so the driver is started here. */
static int StartDriver(void) {
  SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager != NULL ? OpenServiceW(manager, L"qmusbsim", SERVICE_START) : NULL;
  DWORD error = service == NULL ? GetLastError() : ERROR_SERVICE_DATABASE_LOCKED;
  int tries;
  /* The installation may still hold the service database for a moment. */
  for (tries = 0; tries < 100 && service != NULL && error == ERROR_SERVICE_DATABASE_LOCKED; ++tries) {
    error = StartServiceW(service, 0, NULL) ? 0 : GetLastError();
    if (error == ERROR_SERVICE_DATABASE_LOCKED) Sleep(100);
  }
  if (service != NULL) CloseServiceHandle(service);
  if (manager != NULL) CloseServiceHandle(manager);
  if (error != 0 && error != ERROR_SERVICE_ALREADY_RUNNING) return Fail("the driver cannot be started", error);
  return 0;
}

static int Install(const wchar_t* inf) {
  unsigned slot;
  for (slot = 0; slot < QM_MAX_INTERFACES; ++slot) {
    wchar_t hardwareId[64];
    BOOL reboot = FALSE;
    if (RegisterDevice(slot) != 0) return 1;
    swprintf(hardwareId, 64, L"root\\qmusbsim%u", slot);
    if (!UpdateDriverForPlugAndPlayDevicesW(NULL, hardwareId, inf, INSTALLFLAG_FORCE, &reboot)) {
      return Fail("the driver cannot be installed", GetLastError());
    }
  }
  return StartDriver();
}

static int Reload(void) {
  HANDLE control = INVALID_HANDLE_VALUE;
  DWORD returned = 0, error = 0;
  LONG status = 0;
  int tries;
  /* The driver loads with the first of its devices, as a session starts. */
  for (tries = 0; tries < 300 && control == INVALID_HANDLE_VALUE; ++tries) {
    control = CreateFileW(L"\\\\.\\" QM_CONTROL_NAME, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (control == INVALID_HANDLE_VALUE) Sleep(100);
  }
  if (control == INVALID_HANDLE_VALUE) return Fail("the test USB driver did not load within 30 s", GetLastError());
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
