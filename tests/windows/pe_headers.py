#!/usr/bin/env python3
"""Checks a Windows build's PE headers as objdump reads them: its target's format (PE32 or PE32+)
and machine, a console program, and imports from system DLLs only, so that it runs on a bare
Windows without the compiler's runtime DLLs beside it. Usage: pe_headers.py i686|x86_64 EXE"""
import re
import subprocess
import sys

# Per target: objdump's file format (naming the machine), the optional header's magic, its name.
TARGETS = {"i686": ("pei-i386", 0x10B, "PE32"), "x86_64": ("pei-x86-64", 0x20B, "PE32+")}
SUBSYSTEM_CONSOLE = 3
FILE_EXECUTABLE_IMAGE = 0x0002
FILE_DLL = 0x2000

# DLLs that every Windows since XP ships in its system directory.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "opengl32.dll", "msvcrt.dll",
               "shell32.dll", "advapi32.dll", "imm32.dll", "ole32.dll", "winmm.dll"}
# What the editor cannot run without: if these are missing, the import table was misread.
NEEDED_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "opengl32.dll"}


def pe_headers(path):
    """(file format, magic, characteristics, subsystem, imported DLL names)."""
    text = subprocess.run(["objdump", "-p", path], capture_output=True, text=True,
                          check=True).stdout

    def field(name):
        return int(re.search(rf"^{name}\s+(?:0x)?([0-9a-f]+)", text, re.M).group(1), 16)
    return (re.search(r"file format (\S+)", text).group(1), field("Magic"),
            field("Characteristics"), field("Subsystem"), re.findall(r"DLL Name: (\S+)", text))


def main():
    arch, path = sys.argv[1], sys.argv[2]
    file_format, magic, characteristics, subsystem, dlls = pe_headers(path)
    want_format, want_magic, magic_name = TARGETS[arch]
    imported = {name.lower() for name in dlls}
    print(f"{path}: {file_format}, magic {magic:#x}, characteristics {characteristics:#x}, "
          f"subsystem {subsystem}, imports {', '.join(dlls)}")

    failures = [message for failed, message in [
        (file_format != want_format, f"not {want_format} but {file_format}"),
        (magic != want_magic, f"not {magic_name} (optional header magic {magic:#x})"),
        (not characteristics & FILE_EXECUTABLE_IMAGE or characteristics & FILE_DLL,
         f"not an executable image (characteristics {characteristics:#x})"),
        (subsystem != SUBSYSTEM_CONSOLE, f"not a console program (subsystem {subsystem})"),
        (imported - SYSTEM_DLLS,
         f"imports DLLs Windows does not ship: {sorted(imported - SYSTEM_DLLS)}"),
        (NEEDED_DLLS - imported, f"does not import {sorted(NEEDED_DLLS - imported)}")] if failed]
    for failure in failures:
        print(f"FAIL: {failure}")
    if not failures:
        print(f"ok: {want_format} {magic_name} console executable, system DLLs only")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
