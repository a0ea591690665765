#!/usr/bin/python3
"""Holds stubs rewritten by pe_rewrite_tool to pefile's reading of them.

    pe_oracle.py TOOL WORK_DIR STUB...

For every stub that exists and every mode (same, grow, shrink) the tool writes the rewritten
program and the resources asked for; pefile must then find a consistent section table, the size
fields and checksum as the loader computes them, .reloc moved unchanged and named by its
directory, each directory level in the loader's order and exactly the resources asked for, each
aligned to 8. Exit 0 all sound, 1 a fault (each printed), 77 when no stub was built.
"""
import os
import shutil
import subprocess
import sys

import pefile

faults = []


def check(ok, what):
    if not ok:
        faults.append(what)


def align(v, a):
    return (v + a - 1) // a * a


def upper(c):
    if ord("a") <= c <= ord("z") or (0xE0 <= c <= 0xFE and c != 0xF7):
        return c - 0x20
    return 0x178 if c == 0xFF else c


def id_key(entry):
    """The loader's order: named first (upper-case UTF-16 units), then numbers."""
    if entry.name is not None:
        return (0, [upper(ord(u)) for u in id_text(entry)], 0)
    return (1, [], entry.id)


def id_text(entry):
    if entry.name is not None:
        return entry.name.string.decode("utf-8")  # pefile hands names over as UTF-8
    return str(entry.id)


def check_order(directory, where):
    entries = directory.entries
    keys = [id_key(e) for e in entries]
    check(keys == sorted(keys) and len(set(map(str, keys))) == len(keys),
          f"{where}: entries not in the loader's order")
    named = sum(1 for e in entries if e.name is not None)
    check(directory.struct.NumberOfNamedEntries == named, f"{where}: named count")
    check(directory.struct.NumberOfIdEntries == len(entries) - named, f"{where}: id count")


def check_sections(pe, size, name):
    oh = pe.OPTIONAL_HEADER
    raw = oh.SizeOfHeaders
    previous = None
    initialized = 0
    for s in pe.sections:
        sname = s.Name.rstrip(b"\0").decode()
        check(s.VirtualAddress % oh.SectionAlignment == 0, f"{name} {sname}: virtual address")
        if previous is not None:
            check(s.VirtualAddress >= previous.VirtualAddress + previous.Misc_VirtualSize,
                  f"{name} {sname}: virtual addresses ascending")
        previous = s
        if s.SizeOfRawData == 0:
            continue
        check(s.PointerToRawData == raw, f"{name} {sname}: raw data not contiguous")
        check(s.PointerToRawData % oh.FileAlignment == 0, f"{name} {sname}: raw offset aligned")
        check(s.SizeOfRawData % oh.FileAlignment == 0, f"{name} {sname}: raw size aligned")
        raw = s.PointerToRawData + s.SizeOfRawData
        if s.Characteristics & 0x40:
            initialized += s.SizeOfRawData
    last = pe.sections[-1]
    check(raw == size, f"{name}: the file ends after the last section")
    check(oh.SizeOfImage == align(last.VirtualAddress + last.Misc_VirtualSize, oh.SectionAlignment),
          f"{name}: SizeOfImage")
    check(oh.SizeOfInitializedData == initialized, f"{name}: SizeOfInitializedData")
    check(pe.generate_checksum() == oh.CheckSum, f"{name}: CheckSum")


def section(pe, wanted):
    for s in pe.sections:
        if s.Name.rstrip(b"\0") == wanted:
            return s
    return None


def check_directories(pe, original, name):
    dirs = pe.OPTIONAL_HEADER.DATA_DIRECTORY
    rsrc, reloc = section(pe, b".rsrc"), section(pe, b".reloc")
    old_reloc = section(original, b".reloc")
    check(dirs[2].VirtualAddress == rsrc.VirtualAddress and dirs[2].Size == rsrc.Misc_VirtualSize,
          f"{name}: resource directory")
    old_dir = original.OPTIONAL_HEADER.DATA_DIRECTORY[5]
    check(dirs[5].VirtualAddress - reloc.VirtualAddress == old_dir.VirtualAddress - old_reloc.VirtualAddress
          and dirs[5].Size == old_dir.Size, f"{name}: relocation directory points at .reloc")
    check(reloc.get_data() == old_reloc.get_data(), f"{name}: .reloc moved unchanged")
    relocs = [(b.struct.VirtualAddress, [(e.rva, e.type) for e in b.entries])
              for b in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", [])]
    old_relocs = [(b.struct.VirtualAddress, [(e.rva, e.type) for e in b.entries])
                  for b in getattr(original, "DIRECTORY_ENTRY_BASERELOC", [])]
    check(relocs == old_relocs and relocs, f"{name}: relocations read alike")
    for i, d in enumerate(dirs):
        if i not in (2, 5) and d.Size:
            check(d.VirtualAddress + d.Size <= rsrc.VirtualAddress,
                  f"{name}: directory {i} reaches the resources")


def check_resources(pe, expect_dir, name):
    asked = {f: open(os.path.join(expect_dir, f), "rb").read() for f in os.listdir(expect_dir)}
    found = {}
    root = pe.DIRECTORY_ENTRY_RESOURCE
    check_order(root, f"{name} root")
    for t in root.entries:
        check_order(t.directory, f"{name} type {id_text(t)}")
        for n in t.directory.entries:
            check_order(n.directory, f"{name} {id_text(t)}/{id_text(n)}")
            for lang in n.directory.entries:
                entry = lang.data.struct
                key = f"{id_text(t)}_{id_text(n)}_{lang.id}.bin"
                check(entry.OffsetToData % 8 == 0, f"{name} {key}: data not aligned to 8")
                found[key] = pe.get_data(entry.OffsetToData, entry.Size)
    check(sorted(found) == sorted(asked), f"{name}: resources {sorted(found)} != {sorted(asked)}")
    for key, data in asked.items():
        check(found.get(key) == data, f"{name} {key}: data differs")


def main():
    if len(sys.argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    tool, work, stubs = sys.argv[1], sys.argv[2], sys.argv[3:]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    tested = 0
    for number, stub in enumerate(stubs):
        if not os.path.isfile(stub):
            print(f"skipped (not built): {stub}")
            continue
        original = pefile.PE(stub)
        for mode in ("same", "grow", "shrink"):
            name = f"{stub} ({mode})"
            out = os.path.join(work, f"{number}-{mode}.exe")
            expect = os.path.join(work, f"{number}-{mode}")
            os.makedirs(expect)
            run = subprocess.run([tool, mode, stub, out, expect], capture_output=True, text=True)
            if run.returncode != 0:
                faults.append(f"{name}: the tool failed: {run.stderr.strip()}")
                continue
            pe = pefile.PE(out)
            new_warnings = set(pe.get_warnings()) - set(original.get_warnings())
            check(not new_warnings, f"{name}: pefile warns: {sorted(new_warnings)}")
            check_sections(pe, os.path.getsize(out), name)
            check_directories(pe, original, name)
            check_resources(pe, expect, name)
            tested += 1
    for fault in faults:
        print("FAULT:", fault)
    if not tested and not faults:
        print("no stub built: build the win64 or win32 preset first")
        return 77
    print(f"{tested} rewritten stubs checked, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
