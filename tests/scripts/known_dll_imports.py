#!/usr/bin/env python3
"""The libraries the built programs import: only Windows' known DLLs (which the loader takes
from the system folder whatever lies beside the program) and the few the system binds otherwise.
Any other import would be looked for in the program's folder first, before any of the program's
own code runs: a setup started from a downloads folder would load what someone left there.

usage: known_dll_imports.py OBJDUMP FOLDER PROGRAM... [--refused PROGRAM...]

Each PROGRAM in FOLDER must import allowed libraries only and delay-load none; each program after
--refused must be found at fault (it shows that the check can fail). Prints what each program
imports."""
import re
import subprocess
import sys

# Lower-case file name: why the loader cannot be made to take it from the program's folder.
ALLOWED = {
    # Known DLLs of Windows 7 and every later version (Session Manager\KnownDLLs).
    'advapi32.dll': 'known DLL',
    'comdlg32.dll': 'known DLL',
    'gdi32.dll': 'known DLL',
    'imm32.dll': 'known DLL',
    'kernel32.dll': 'known DLL',
    'msvcrt.dll': 'known DLL',
    'ole32.dll': 'known DLL',
    'oleaut32.dll': 'known DLL',
    'psapi.dll': 'known DLL',
    'setupapi.dll': 'known DLL',
    'shell32.dll': 'known DLL',
    'shlwapi.dll': 'known DLL',
    'user32.dll': 'known DLL',
    'ws2_32.dll': 'known DLL',
    # Not a known DLL, but mapped into every process before the program's imports are resolved.
    'ntdll.dll': 'loaded into every process by the system',
    # Bound by the programs' manifests to the side-by-side assembly Microsoft.Windows.Common-Controls
    # 6.0: the loader takes it from the system's assembly store, not from the program's folder.
    'comctl32.dll': 'side-by-side assembly named in the manifest',
}


def imports(objdump, program):
    """The imported and the delay-loaded libraries of `program`, as objdump -p lists them."""
    text = subprocess.run([objdump, '-p', program], check=True, capture_output=True, text=True).stdout
    imported, delayed = [], []
    section = None
    for line in text.splitlines():
        if line.startswith('The Import Tables'):
            section = imported
        elif re.match(r'^The Delay Import', line):
            section = delayed
        elif line and not line[0].isspace():
            section = None
        match = re.match(r'^\s*DLL Name:\s*(\S+)', line)
        if match and section is not None:
            section.append(match.group(1))
    # A delay import directory that objdump does not list still counts.
    entry = re.search(r'^Entry d\s+([0-9a-fA-F]+)\s+([0-9a-fA-F]+)\s+Delay Import', text, re.M)
    if entry and int(entry.group(1), 16) != 0 and not delayed:
        delayed.append('(delay import directory)')
    return imported, delayed


def faults(objdump, program):
    imported, delayed = imports(objdump, program)
    print(f'{program}: imports {", ".join(imported) or "nothing"}'
          + (f'; delay-loads {", ".join(delayed)}' if delayed else ''))
    with open(program, 'rb') as f:
        manifest_binds_controls = b'Microsoft.Windows.Common-Controls' in f.read()
    found = [f'{program}: imports {name}, which is not a known DLL'
             for name in imported if name.lower() not in ALLOWED]
    if not manifest_binds_controls:
        found += [f'{program}: imports {name} without the manifest that binds it'
                  for name in imported if name.lower() == 'comctl32.dll']
    found += [f'{program}: delay-loads {name}' for name in delayed]
    return found


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    objdump, folder, names = argv[0], argv[1], argv[2:]
    refused = names[names.index('--refused') + 1:] if '--refused' in names else []
    checked = names[:names.index('--refused')] if '--refused' in names else names
    failed = False
    for name in checked:
        for fault in faults(objdump, f'{folder}/{name}'):
            print(fault, file=sys.stderr)
            failed = True
    for name in refused:
        if not faults(objdump, f'{folder}/{name}'):
            print(f'{folder}/{name}: imports only allowed libraries, but the check must refuse it',
                  file=sys.stderr)
            failed = True
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
