/* qmusbsim.sys: a test USB stack for Wine. It serves the answers that the
 * simulated stack worked out for one described machine (AnswerFormat.h) to
 * whatever opens the described names, through the system's own object
 * manager, setupapi and I/O manager: \\.\HCDn and hub names as symbolic
 * links to devices of its own, and each listed host controller as the
 * device interface of one of its root-enumerated devices (Wine's device
 * interfaces cannot carry reference strings, so each needs a device).
 *
 * A test component: never shipped, never installed by anything a user runs.
 * Freestanding: ntoskrnl.exe is its only import. */
#include <ddk/wdm.h>

#include "AnswerTable.h"

/* The compiler may call these for copies and clears of structures. */
void* memcpy(void* to, const void* from, size_t count) {
  unsigned char* t = (unsigned char*)to;
  const unsigned char* f = (const unsigned char*)from;
  while (count--) *t++ = *f++;
  return to;
}
void* memset(void* to, int value, size_t count) {
  unsigned char* t = (unsigned char*)to;
  while (count--) *t++ = (unsigned char)value;
  return to;
}

static const GUID kHostControllerInterface = {
    0x3ABF6F2D, 0x71C4, 0x462A, {0x8A, 0x92, 0x1E, 0x68, 0x61, 0xE6, 0xAF, 0x27}};

#define QM_TAG 0x4D55514Du /* "QUM M" */
#define QM_MAX_FILE (64u << 20)

enum { kControl = 1, kName = 2, kSlot = 3 };

typedef struct {
  ULONG kind;
  ULONG index;            /* the name's place, or the interface slot */
  PDEVICE_OBJECT lower;   /* a slot's device below it */
  UNICODE_STRING link;    /* a slot's interface */
  BOOLEAN started, enabled;
} Extension;

static PDRIVER_OBJECT gDriver;
static KMUTEX gLock;
static QmTable gTable;     /* gTable.file is ours, from the pool */
static ULONG gGeneration = 1;       /* of the table; an open handle carries it */
static PDEVICE_OBJECT gNameDevices[QM_MAX_NAMES];
static ULONG gLinkedNames;          /* names of gTable with a symbolic link */
static PDEVICE_OBJECT gSlots[QM_MAX_INTERFACES];
static HANDLE gTrace;

static void Lock(void) { KeWaitForSingleObject(&gLock, Executive, KernelMode, FALSE, NULL); }
static void Unlock(void) { KeReleaseMutex(&gLock, FALSE); }

/* --- reading the answer file --- */

static NTSTATUS ReadAnswers(QmTable* t) {
  UNICODE_STRING path;
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK io;
  FILE_STANDARD_INFORMATION info;
  HANDLE handle;
  unsigned char* file = NULL;
  NTSTATUS status;
  ULONG done = 0;

  RtlInitUnicodeString(&path, QM_ANSWERS_PATH);
  InitializeObjectAttributes(&attributes, &path, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
  status = ZwCreateFile(&handle, GENERIC_READ | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL,
                        FILE_SHARE_READ, FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0);
  if (!NT_SUCCESS(status)) return status;
  status = ZwQueryInformationFile(handle, &io, &info, sizeof(info), FileStandardInformation);
  if (NT_SUCCESS(status) && (info.EndOfFile.QuadPart <= 0 || info.EndOfFile.QuadPart > QM_MAX_FILE)) {
    status = STATUS_FILE_TOO_LARGE;
  }
  if (NT_SUCCESS(status)) {
    t->size = (ULONG)info.EndOfFile.QuadPart;
    file = (unsigned char*)ExAllocatePoolWithTag(PagedPool, t->size, QM_TAG);
    if (file == NULL) status = STATUS_NO_MEMORY;
    t->file = file;
  }
  while (NT_SUCCESS(status) && done < t->size) {
    status = ZwReadFile(handle, NULL, NULL, NULL, &io, file + done, t->size - done, NULL, NULL);
    if (NT_SUCCESS(status) && io.Information == 0) status = STATUS_END_OF_FILE;
    if (NT_SUCCESS(status)) done += (ULONG)io.Information;
  }
  ZwClose(handle);
  if (NT_SUCCESS(status) && !QmCheckTable(t)) status = STATUS_FILE_CORRUPT_ERROR;
  if (!NT_SUCCESS(status) && file != NULL) {
    ExFreePoolWithTag(file, QM_TAG);
    t->file = NULL;
  }
  return status;
}

static const WCHAR* NameText(ULONG i) { return (const WCHAR*)QmNameText(&gTable, i); }

/* --- the trace: one line per open, request and close --- */

typedef struct {
  char text[600];
  ULONG length;
} Line;

static void Add(Line* line, const char* text) {
  while (*text && line->length < sizeof(line->text) - 2) line->text[line->length++] = *text++;
}
static void AddNumber(Line* line, ULONG value, ULONG base) {
  char digits[12];
  int count = 0;
  do {
    digits[count++] = "0123456789abcdef"[value % base];
    value /= base;
  } while (value != 0);
  if (base == 16) Add(line, "0x");
  while (count > 0 && line->length < sizeof(line->text) - 2) line->text[line->length++] = digits[--count];
}
static void AddLabel(Line* line, const Extension* ext) {
  ULONG i;
  if (ext->kind == kSlot) {
    Add(line, "interface ");
    AddNumber(line, ext->index, 10);
    return;
  }
  if (ext->index >= gTable.header->nameCount) return;
  Add(line, "\\\\.\\");
  for (i = 0; i < gTable.names[ext->index]->units && line->length < sizeof(line->text) - 2; ++i) {
    line->text[line->length++] = (char)NameText(ext->index)[i];
  }
}

static void WriteLine(Line* line) {
  IO_STATUS_BLOCK io;
  if (gTrace == NULL) return;
  line->text[line->length++] = '\n';
  ZwWriteFile(gTrace, NULL, NULL, NULL, &io, line->text, line->length, NULL, NULL);
}

static void OpenTrace(void) {
  UNICODE_STRING path;
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK io;
  if (gTrace != NULL) ZwClose(gTrace);
  gTrace = NULL;
  if (gTable.header == NULL || gTable.header->traceUnits == 0) return;
  path.Buffer = (PWCH)gTable.tracePath;
  path.Length = path.MaximumLength = (USHORT)(gTable.header->traceUnits * 2);
  InitializeObjectAttributes(&attributes, &path, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
  if (!NT_SUCCESS(ZwCreateFile(&gTrace, FILE_APPEND_DATA | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OVERWRITE_IF,
                               FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0))) {
    gTrace = NULL;
  }
}

/* --- serving the table: names, devices, interfaces --- */

static void SetName(UNICODE_STRING* out, WCHAR* storage, ULONG room, const WCHAR* prefix, const WCHAR* text,
                    ULONG units, ULONG number) {
  ULONG length = 0;
  while (*prefix && length < room - 1) storage[length++] = *prefix++;
  if (text != NULL) {
    ULONG i;
    for (i = 0; i < units && length < room - 1; ++i) storage[length++] = text[i];
  } else {
    WCHAR digits[12];
    int count = 0;
    do {
      digits[count++] = (WCHAR)(L'0' + number % 10);
      number /= 10;
    } while (number != 0);
    while (count > 0 && length < room - 1) storage[length++] = digits[--count];
  }
  storage[length] = 0;
  out->Buffer = storage;
  out->Length = (USHORT)(length * 2);
  out->MaximumLength = (USHORT)(room * 2);
}

static void UnlinkNames(void) {
  ULONG i;
  for (i = 0; i < gLinkedNames; ++i) {
    WCHAR storage[QM_MAX_NAME_UNITS + 16];
    UNICODE_STRING link;
    SetName(&link, storage, QM_MAX_NAME_UNITS + 16, L"\\DosDevices\\", NameText(i), gTable.names[i]->units, 0);
    IoDeleteSymbolicLink(&link);
  }
  gLinkedNames = 0;
}

/* How a name is linked for its open to answer as described: to its device,
 * whose create answers the open status; not at all when the name is not to
 * be found; into a folder that does not exist when its path is not. So the
 * system itself fails those two opens, as it does on Windows. */
static NTSTATUS LinkName(ULONG i, const UNICODE_STRING* device) {
  WCHAR storage[QM_MAX_NAME_UNITS + 16];
  UNICODE_STRING link, nowhere;
  SetName(&link, storage, QM_MAX_NAME_UNITS + 16, L"\\DosDevices\\", NameText(i), gTable.names[i]->units, 0);
  switch (gTable.names[i]->openStatus) {
    case STATUS_OBJECT_NAME_NOT_FOUND:
      return STATUS_SUCCESS;
    case STATUS_OBJECT_PATH_NOT_FOUND:
      RtlInitUnicodeString(&nowhere, L"\\Device\\QmUsbSimNowhere\\Hub");
      return IoCreateSymbolicLink(&link, &nowhere);
    default:
      return IoCreateSymbolicLink(&link, (PUNICODE_STRING)device);
  }
}

static NTSTATUS LinkNames(void) {
  ULONG i;
  for (i = 0; i < gTable.header->nameCount; ++i) {
    WCHAR deviceStorage[64];
    UNICODE_STRING device;
    NTSTATUS status;
    SetName(&device, deviceStorage, 64, L"\\Device\\QmUsbSimName", NULL, 0, i);
    if (gNameDevices[i] == NULL) {
      /* Devices stay for the driver's life: a handle may still be open on one. */
      status = IoCreateDevice(gDriver, sizeof(Extension), &device, FILE_DEVICE_UNKNOWN, 0, FALSE, &gNameDevices[i]);
      if (!NT_SUCCESS(status)) return status;
      memset(gNameDevices[i]->DeviceExtension, 0, sizeof(Extension));
      ((Extension*)gNameDevices[i]->DeviceExtension)->kind = kName;
      ((Extension*)gNameDevices[i]->DeviceExtension)->index = i;
      gNameDevices[i]->Flags &= ~DO_DEVICE_INITIALIZING;
    }
    status = LinkName(i, &device);
    if (!NT_SUCCESS(status)) return status;
    gLinkedNames = i + 1;
  }
  return STATUS_SUCCESS;
}

/* Lists the interfaces of the slots the table has, and no others. */
static void ListInterfaces(void) {
  ULONG slot;
  const ULONG wanted = gTable.header != NULL ? gTable.header->interfaceCount : 0;
  for (slot = 0; slot < QM_MAX_INTERFACES; ++slot) {
    Extension* ext;
    BOOLEAN listed;
    if (gSlots[slot] == NULL) continue;
    ext = (Extension*)gSlots[slot]->DeviceExtension;
    listed = ext->started && slot < wanted;
    if (listed != ext->enabled && NT_SUCCESS(IoSetDeviceInterfaceState(&ext->link, listed))) ext->enabled = listed;
  }
}

/* Reads the answer file again and serves it; the old table goes. */
static NTSTATUS Reload(void) {
  QmTable fresh;
  NTSTATUS status;
  memset(&fresh, 0, sizeof(fresh));
  status = ReadAnswers(&fresh);
  Lock();
  if (NT_SUCCESS(status)) {
    if (gTable.header != NULL) UnlinkNames();
    if (gTable.file != NULL) ExFreePoolWithTag((PVOID)gTable.file, QM_TAG);
    gTable = fresh;
    ++gGeneration;
    status = LinkNames();
    OpenTrace();
    ListInterfaces();
  }
  Unlock();
  return status;
}

/* --- requests --- */

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

/* The node an open reaches and its open status, under the lock. */
static ULONG NodeOfOpen(const Extension* ext, NTSTATUS* status) {
  *status = STATUS_OBJECT_NAME_NOT_FOUND;
  if (gTable.header == NULL) return QM_ANSWER_ANY;
  if (ext->kind == kName && ext->index < gTable.header->nameCount) {
    *status = (NTSTATUS)gTable.names[ext->index]->openStatus;
    return gTable.names[ext->index]->node;
  }
  if (ext->kind == kSlot && ext->index < gTable.header->interfaceCount) {
    *status = (NTSTATUS)gTable.interfaces[ext->index].openStatus;
    return gTable.interfaces[ext->index].node;
  }
  return QM_ANSWER_ANY;
}

/* What an open file object carries: the node it reaches (FsContext, the
 * node + 1) and the generation of the table it was opened on (FsContext2).
 * Wine's I/O manager hands out a handle even when the create fails, so a
 * refused open carries its refusal instead (FsContext, the status; the
 * generation with QM_REFUSED set), and every request on it fails so. */
#define QM_REFUSED 0x80000000u

static void MarkOpen(PFILE_OBJECT file, ULONG node, NTSTATUS status) {
  const BOOLEAN refused = !NT_SUCCESS(status);
  file->FsContext = (PVOID)(ULONG_PTR)(refused ? (ULONG)status : node + 1);
  file->FsContext2 = (PVOID)(ULONG_PTR)(gGeneration | (refused ? QM_REFUSED : 0));
}

/* Whether `file` was opened on the table now served. */
static BOOLEAN OpenedNow(PFILE_OBJECT file) {
  return gTable.header != NULL && file->FsContext != NULL &&
         ((ULONG)(ULONG_PTR)file->FsContext2 & ~QM_REFUSED) == gGeneration;
}

static NTSTATUS NTAPI Create(PDEVICE_OBJECT device, PIRP irp) {
  Extension* ext = (Extension*)device->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  NTSTATUS status = STATUS_SUCCESS;
  ULONG node;
  Line line = {{0}, 0};
  if (ext->kind == kControl) return Complete(irp, STATUS_SUCCESS, 0);
  Lock();
  node = NodeOfOpen(ext, &status);
  if (NT_SUCCESS(status) && node == QM_ANSWER_ANY) status = STATUS_OBJECT_NAME_NOT_FOUND;
  MarkOpen(stack->FileObject, node, status);
  if (gTable.header != NULL) {
    Add(&line, "open ");
    AddLabel(&line, ext);
    Add(&line, " status ");
    AddNumber(&line, (ULONG)status, 16);
    WriteLine(&line);
  }
  Unlock();
  return Complete(irp, status, 0);
}

static NTSTATUS NTAPI Close(PDEVICE_OBJECT device, PIRP irp) {
  Extension* ext = (Extension*)device->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->MajorFunction == IRP_MJ_CLOSE && ext->kind != kControl) {
    Line line = {{0}, 0};
    Lock();
    if (OpenedNow(stack->FileObject)) {
      Add(&line, "close ");
      AddLabel(&line, ext);
      WriteLine(&line);
    }
    Unlock();
  }
  return Complete(irp, STATUS_SUCCESS, 0);
}

/* Serves one request of an open that reached a node. */
static NTSTATUS Answer(ULONG node, PIO_STACK_LOCATION stack, PIRP irp, ULONG_PTR* information) {
  const ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
  uint32_t filled = 0;
  const NTSTATUS status =
      (NTSTATUS)QmAnswerRequest(&gTable, node, stack->Parameters.DeviceIoControl.IoControlCode,
                                (unsigned char*)irp->AssociatedIrp.SystemBuffer, in, out, &filled);
  *information = filled;
  return status;
}

static NTSTATUS NTAPI DeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  Extension* ext = (Extension*)device->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  PFILE_OBJECT file = stack->FileObject;
  ULONG_PTR information = 0;
  NTSTATUS status;
  Line line = {{0}, 0};
  if (ext->kind == kControl) {
    NTSTATUS loaded;
    if (stack->Parameters.DeviceIoControl.IoControlCode != QM_IOCTL_RELOAD ||
        stack->Parameters.DeviceIoControl.OutputBufferLength < 4) {
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    loaded = Reload();
    memcpy(irp->AssociatedIrp.SystemBuffer, &loaded, 4);
    return Complete(irp, STATUS_SUCCESS, 4);
  }
  Lock();
  if (!OpenedNow(file)) {
    status = STATUS_INVALID_HANDLE;  /* opened on another machine */
  } else {
    if ((ULONG)(ULONG_PTR)file->FsContext2 & QM_REFUSED) {
      status = (NTSTATUS)(ULONG)(ULONG_PTR)file->FsContext;  /* the open was refused */
    } else {
      status = Answer((ULONG)(ULONG_PTR)file->FsContext - 1, stack, irp, &information);
    }
    Add(&line, "ioctl ");
    AddLabel(&line, ext);
    Add(&line, " code ");
    AddNumber(&line, stack->Parameters.DeviceIoControl.IoControlCode, 16);
    Add(&line, " size ");
    AddNumber(&line, stack->Parameters.DeviceIoControl.OutputBufferLength, 10);
    Add(&line, " status ");
    AddNumber(&line, (ULONG)status, 16);
    Add(&line, " returned ");
    AddNumber(&line, (ULONG)information, 10);
    WriteLine(&line);
  }
  Unlock();
  return Complete(irp, status, information);
}

/* --- Plug and Play: the root-enumerated devices, one per interface slot --- */

static NTSTATUS NTAPI Signal(PDEVICE_OBJECT device, PIRP irp, PVOID event) {
  (void)device;
  (void)irp;
  KeSetEvent((PKEVENT)event, IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

static NTSTATUS ForwardAndWait(Extension* ext, PIRP irp) {
  KEVENT event;
  NTSTATUS status;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, Signal, &event, TRUE, TRUE, TRUE);
  status = IoCallDriver(ext->lower, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL);
    status = irp->IoStatus.Status;
  }
  return status;
}

static NTSTATUS NTAPI Pnp(PDEVICE_OBJECT device, PIRP irp) {
  Extension* ext = (Extension*)device->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  NTSTATUS status;
  if (ext->kind != kSlot) return Complete(irp, STATUS_NOT_SUPPORTED, 0);
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      status = ForwardAndWait(ext, irp);
      if (NT_SUCCESS(status)) {
        Lock();
        ext->started = TRUE;
        ListInterfaces();
        Unlock();
      }
      return Complete(irp, status, 0);
    case IRP_MN_REMOVE_DEVICE:
      Lock();
      ext->started = FALSE;
      ListInterfaces();
      gSlots[ext->index] = NULL;
      Unlock();
      IoSkipCurrentIrpStackLocation(irp);
      status = IoCallDriver(ext->lower, irp);
      IoDetachDevice(ext->lower);
      RtlFreeUnicodeString(&ext->link);
      IoDeleteDevice(device);
      return status;
    default:
      IoSkipCurrentIrpStackLocation(irp);
      return IoCallDriver(ext->lower, irp);
  }
}

static NTSTATUS NTAPI Power(PDEVICE_OBJECT device, PIRP irp) {
  Extension* ext = (Extension*)device->DeviceExtension;
  if (ext->kind != kSlot) return Complete(irp, STATUS_NOT_SUPPORTED, 0);
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(ext->lower, irp);
}

/* The slot a device stands for: the digits ending its hardware id
 * ("root\qmusbsim3" is slot 3). */
static ULONG SlotOf(PDEVICE_OBJECT pdo) {
  WCHAR id[64];
  ULONG needed = 0, length = 0, slot = 0, scale = 1;
  memset(id, 0, sizeof(id));
  if (!NT_SUCCESS(IoGetDeviceProperty(pdo, DevicePropertyHardwareID, sizeof(id) - 4, id, &needed))) return QM_ANSWER_ANY;
  while (length < 62 && id[length] != 0) ++length;
  if (length == 0 || id[length - 1] < L'0' || id[length - 1] > L'9') return QM_ANSWER_ANY;
  while (length > 0 && id[length - 1] >= L'0' && id[length - 1] <= L'9') {
    slot += (ULONG)(id[--length] - L'0') * scale;
    scale *= 10;
  }
  return slot;
}

static NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  const ULONG slot = SlotOf(pdo);
  PDEVICE_OBJECT fdo;
  Extension* ext;
  NTSTATUS status;
  if (slot >= QM_MAX_INTERFACES) return STATUS_INVALID_PARAMETER;
  status = IoCreateDevice(driver, sizeof(Extension), NULL, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE, &fdo);
  if (!NT_SUCCESS(status)) return status;
  ext = (Extension*)fdo->DeviceExtension;
  memset(ext, 0, sizeof(*ext));
  ext->kind = kSlot;
  ext->index = slot;
  ext->lower = IoAttachDeviceToDeviceStack(fdo, pdo);
  status = IoRegisterDeviceInterface(pdo, &kHostControllerInterface, NULL, &ext->link);
  if (ext->lower == NULL || !NT_SUCCESS(status)) {
    if (ext->lower != NULL) IoDetachDevice(ext->lower);
    IoDeleteDevice(fdo);
    return NT_SUCCESS(status) ? STATUS_NO_SUCH_DEVICE : status;
  }
  fdo->Flags &= ~DO_DEVICE_INITIALIZING;
  Lock();
  gSlots[slot] = fdo;
  Unlock();
  return STATUS_SUCCESS;
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  UNICODE_STRING link;
  ULONG i;
  (void)driver;
  Lock();
  if (gTable.header != NULL) UnlinkNames();
  for (i = 0; i < QM_MAX_NAMES; ++i) {
    if (gNameDevices[i] != NULL) IoDeleteDevice(gNameDevices[i]);
  }
  if (gTrace != NULL) ZwClose(gTrace);
  if (gTable.file != NULL) ExFreePoolWithTag((PVOID)gTable.file, QM_TAG);
  Unlock();
  RtlInitUnicodeString(&link, L"\\DosDevices\\" QM_CONTROL_NAME);
  IoDeleteSymbolicLink(&link);
  if (driver->DeviceObject != NULL) IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  UNICODE_STRING name, link;
  PDEVICE_OBJECT control;
  NTSTATUS status;
  (void)registryPath;
  gDriver = driver;
  KeInitializeMutex(&gLock, 0);
  driver->MajorFunction[IRP_MJ_CREATE] = Create;
  driver->MajorFunction[IRP_MJ_CLEANUP] = Close;
  driver->MajorFunction[IRP_MJ_CLOSE] = Close;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DeviceControl;
  driver->MajorFunction[IRP_MJ_PNP] = Pnp;
  driver->MajorFunction[IRP_MJ_POWER] = Power;
  driver->DriverExtension->AddDevice = AddDevice;
  driver->DriverUnload = Unload;

  RtlInitUnicodeString(&name, L"\\Device\\" QM_CONTROL_NAME);
  status = IoCreateDevice(driver, sizeof(Extension), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &control);
  if (!NT_SUCCESS(status)) return status;
  memset(control->DeviceExtension, 0, sizeof(Extension));
  ((Extension*)control->DeviceExtension)->kind = kControl;
  control->Flags &= ~DO_DEVICE_INITIALIZING;
  RtlInitUnicodeString(&link, L"\\DosDevices\\" QM_CONTROL_NAME);
  IoCreateSymbolicLink(&link, &name);
  /* A machine described before this session starts is served at once; a
   * missing or broken file leaves nothing served until a reload. */
  Reload();
  return STATUS_SUCCESS;
}
