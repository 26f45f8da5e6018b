#!/usr/bin/env python3
"""Checks a shipped Windows executable without running it.

check_pe.py EXE [--launcher] [--max-size BYTES]

- it imports only Windows system DLLs, and no function that Windows XP SP3
  lacks (the Vista-and-later functions such builds tend to pull in);
- the PE time stamp is zero and the subsystem version at most 5.01;
- it carries ASLR (DYNAMIC_BASE, with a relocation section), DEP (NX_COMPAT)
  and NO_SEH, and no section is both writable and executable;
- with --launcher: the manifest asks for asInvoker without uiAccess, icon
  group 101 holds five 32-bit images of 128, 96, 64, 48 and 32 pixels, and
  the version resource names the product Quillmark;
- with --max-size: the file is no larger than that.
Prints one line per failed check and exits 1 when there is one.
"""
import struct
import sys

SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'shell32.dll', 'msvcrt.dll', 'advapi32.dll', 'gdi32.dll'}
NOT_ON_XP = {
    'GetTickCount64', 'InitializeSRWLock', 'AcquireSRWLockExclusive', 'AcquireSRWLockShared',
    'ReleaseSRWLockExclusive', 'ReleaseSRWLockShared', 'InitializeConditionVariable',
    'SleepConditionVariableCS', 'SleepConditionVariableSRW', 'WakeConditionVariable',
    'WakeAllConditionVariable', 'InitOnceExecuteOnce', 'InitializeCriticalSectionEx',
    'FlsAlloc', 'FlsFree', 'FlsGetValue', 'FlsSetValue', 'GetErrorMode', 'SetDefaultDllDirectories',
    'AddDllDirectory', 'CreateSymbolicLinkA', 'CreateSymbolicLinkW', 'GetFinalPathNameByHandleW',
    'CompareStringEx', 'LCMapStringEx', 'GetLocaleInfoEx', 'GetUserDefaultLocaleName',
    'CreateEventExW', 'CreateSemaphoreExW', 'CreateMutexExW', 'GetSystemTimePreciseAsFileTime',
    'GetCurrentProcessorNumber', 'QueryFullProcessImageNameA', 'QueryFullProcessImageNameW',
    'GetFileInformationByHandleEx', 'SetFileInformationByHandle', 'CancelIoEx',
}


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        if data[pe:pe + 4] != b'PE\0\0':
            raise ValueError('not a PE file')
        self.timestamp = struct.unpack_from('<I', data, pe + 8)[0]
        sections, optional_size = struct.unpack_from('<H', data, pe + 6)[0], struct.unpack_from('<H', data, pe + 20)[0]
        opt = pe + 24
        magic = struct.unpack_from('<H', data, opt)[0]
        self.subsystem_version = struct.unpack_from('<HH', data, opt + 48)
        self.subsystem = struct.unpack_from('<H', data, opt + 68)[0]
        self.dll_characteristics = struct.unpack_from('<H', data, opt + 70)[0]
        directories = opt + (96 if magic == 0x10B else 112)
        self.dirs = [struct.unpack_from('<II', data, directories + 8 * i) for i in range(16)]
        self.pe64 = magic == 0x20B
        self.sections = []
        self.section_flags = {}
        table = opt + optional_size
        for i in range(sections):
            name = data[table + 40 * i:table + 40 * i + 8].rstrip(b'\0').decode('latin-1')
            va_size, va, raw_size, raw = struct.unpack_from('<IIII', data, table + 40 * i + 8)
            self.sections.append((va, max(va_size, raw_size), raw))
            self.section_flags[name] = struct.unpack_from('<I', data, table + 40 * i + 36)[0]

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError('address outside the sections')

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b'\0', start)].decode('latin-1')

    def imports(self):
        rva = self.dirs[1][0]
        result = {}
        while rva:
            lookup, _, _, name, first = struct.unpack_from('<IIIII', self.data, self.offset(rva))
            if name == 0:
                break
            functions = result.setdefault(self.cstring(name).lower(), [])
            entry = self.offset(lookup or first)
            width, flag = (8, 1 << 63) if self.pe64 else (4, 1 << 31)
            while True:
                value = int.from_bytes(self.data[entry:entry + width], 'little')
                if value == 0:
                    break
                functions.append(f'#{value & 0xFFFF}' if value & flag else self.cstring((value & 0x7FFFFFFF) + 2))
                entry += width
            rva += 20
        return result

    def resources(self):
        """{(type, name): bytes} for the first language of each resource."""
        base = self.offset(self.dirs[2][0])
        out = {}

        def entries(offset):
            named, ids = struct.unpack_from('<HH', self.data, base + offset + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from('<II', self.data, base + offset + 16 + 8 * i)
                yield ident, target

        for type_id, type_dir in entries(0):
            for name_id, name_dir in entries(type_dir & 0x7FFFFFFF):
                for _, leaf in entries(name_dir & 0x7FFFFFFF):
                    rva, size = struct.unpack_from('<II', self.data, base + leaf)
                    out[(type_id, name_id)] = self.data[self.offset(rva):self.offset(rva) + size]
                    break
        return out


MITIGATIONS = {0x40: 'DYNAMIC_BASE', 0x100: 'NX_COMPAT', 0x400: 'NO_SEH'}
SECTION_WRITE, SECTION_EXECUTE = 0x80000000, 0x20000000


def mitigation_problems(pe):
    problems = [f'lacks {name}' for flag, name in MITIGATIONS.items() if not pe.dll_characteristics & flag]
    if '.reloc' not in pe.section_flags or pe.dirs[5][1] == 0:
        problems.append('has no relocations, so ASLR cannot move it')
    for name, flags in pe.section_flags.items():
        if flags & SECTION_WRITE and flags & SECTION_EXECUTE:
            problems.append(f'section {name} is both writable and executable')
    return problems


def check(path, launcher, max_size=None):
    problems = []
    data = open(path, 'rb').read()
    if max_size is not None and len(data) > max_size:
        problems.append(f'{len(data)} bytes, more than {max_size}')
    pe = Pe(data)
    if pe.timestamp != 0:
        problems.append(f'PE time stamp is {pe.timestamp:#x}, not 0')
    if pe.subsystem_version > (5, 1) and not pe.pe64:
        problems.append(f'subsystem version {pe.subsystem_version} is above 5.01')
    problems += mitigation_problems(pe)
    for dll, functions in pe.imports().items():
        if dll not in SYSTEM_DLLS:
            problems.append(f'imports {dll}, which is not a Windows system DLL')
        for function in functions:
            if function in NOT_ON_XP:
                problems.append(f'imports {dll}!{function}, which Windows XP lacks')
    if launcher:
        if pe.subsystem != 2:
            problems.append('not a GUI program')
        resources = pe.resources()
        manifest = resources.get((24, 1), b'').decode('utf-8', 'replace')
        if 'level="asInvoker"' not in manifest or 'uiAccess="false"' not in manifest:
            problems.append('manifest does not ask for asInvoker without uiAccess')
        group = resources.get((14, 101))
        if group is None:
            problems.append('no icon group 101')
        else:
            count = struct.unpack_from('<H', group, 4)[0]
            sizes = []
            for i in range(count):
                width, _, _, _, _, bits = struct.unpack_from('<BBBBHH', group, 6 + 14 * i)
                sizes.append((width or 256, bits))
            if sizes != [(128, 32), (96, 32), (64, 32), (48, 32), (32, 32)]:
                problems.append(f'icon group 101 holds {sizes}')
        version = resources.get((16, 1), b'')
        if 'Quillmark'.encode('utf-16-le') not in version or 'ProductName'.encode('utf-16-le') not in version:
            problems.append('version resource does not name the product Quillmark')
    return problems


def main():
    path = sys.argv[1]
    options = sys.argv[2:]
    max_size = int(options[options.index('--max-size') + 1]) if '--max-size' in options else None
    problems = check(path, '--launcher' in options, max_size)
    for problem in problems:
        print(f'{path}: {problem}')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
