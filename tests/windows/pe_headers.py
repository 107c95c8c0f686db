#!/usr/bin/env python3
"""Checks a Windows build's PE headers: the format (PE32 or PE32+) and machine expected for its
target, a console program, and imports from system DLLs only, so that the .exe runs on a bare
Windows without the compiler's runtime DLLs beside it.

Usage: pe_headers.py i686|x86_64 path/to/triangle-editor.exe
"""
import struct
import sys

# Per target: optional header magic, COFF machine, and the names tools print for them.
TARGETS = {
    "i686": (0x10B, 0x014C, "PE32", "Intel 80386"),
    "x86_64": (0x20B, 0x8664, "PE32+", "x86-64"),
}
SUBSYSTEM_CONSOLE = 3
FILE_EXECUTABLE_IMAGE = 0x0002
FILE_DLL = 0x2000

# DLLs that every Windows since XP ships in its system directory.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "opengl32.dll", "msvcrt.dll",
               "shell32.dll", "advapi32.dll", "imm32.dll", "ole32.dll", "winmm.dll"}
# What the editor cannot run without: if these are missing, the import table was misread.
NEEDED_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "opengl32.dll"}


def parse_pe(data):
    """Returns (magic, machine, characteristics, subsystem, imported DLL names)."""
    if data[:2] != b"MZ":
        raise ValueError("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    machine, section_count, _, _, _, optional_size, characteristics = struct.unpack_from(
        "<HHIIIHH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    import_rva = struct.unpack_from("<I", data, directories + 8)[0]

    sections = []
    for index in range(section_count):
        _, virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from(
            "<8sIIII", data, optional + optional_size + 40 * index)
        sections.append((virtual_address, max(virtual_size, raw_size), raw_offset))

    def offset(rva):
        for virtual_address, size, raw_offset in sections:
            if virtual_address <= rva < virtual_address + size:
                return rva - virtual_address + raw_offset
        raise ValueError(f"RVA {rva:#x} is in no section")

    names = []
    descriptor = offset(import_rva) if import_rva else None
    while descriptor is not None:
        fields = struct.unpack_from("<5I", data, descriptor)
        if not any(fields):
            break
        start = offset(fields[3])
        names.append(data[start:data.index(b"\0", start)].decode("ascii"))
        descriptor += 20
    return magic, machine, characteristics, subsystem, names


def main():
    arch, path = sys.argv[1], sys.argv[2]
    magic, machine, characteristics, subsystem, dlls = parse_pe(open(path, "rb").read())
    want_magic, want_machine, format_name, machine_name = TARGETS[arch]
    imported = {name.lower() for name in dlls}
    print(f"{path}: magic {magic:#x}, machine {machine:#x}, subsystem {subsystem}, "
          f"imports {', '.join(dlls)}")

    failures = []
    if magic != want_magic:
        failures.append(f"not {format_name} (optional header magic {magic:#x})")
    if machine != want_machine:
        failures.append(f"not {machine_name} (machine {machine:#x})")
    if not characteristics & FILE_EXECUTABLE_IMAGE or characteristics & FILE_DLL:
        failures.append(f"not an executable image (characteristics {characteristics:#x})")
    if subsystem != SUBSYSTEM_CONSOLE:
        failures.append(f"not a console program (subsystem {subsystem})")
    if imported - SYSTEM_DLLS:
        failures.append(f"imports DLLs Windows does not ship: {sorted(imported - SYSTEM_DLLS)}")
    if NEEDED_DLLS - imported:
        failures.append(f"does not import {sorted(NEEDED_DLLS - imported)}")
    for failure in failures:
        print(f"FAIL: {failure}")
    if not failures:
        print(f"ok: {format_name} {machine_name} console executable, system DLLs only")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
