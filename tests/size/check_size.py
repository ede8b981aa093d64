#!/usr/bin/python3
"""The built program's footprint: the stripped exe no larger than the limit, importing
Windows' own DLLs only. A runtime or library that slips in (MinGW's printf or number
reader, the C++ streams, a thread runtime) shows here first.

    check_size.py EXE        (the limit is the benchmark's, bench/measure.py)
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import measure  # noqa: E402


def main():
    exe, limit = sys.argv[1], measure.SIZE_LIMIT
    size = os.path.getsize(exe)
    dlls, delayed = measure.imports(exe), measure.delay_imports(exe)
    foreign = [dll for dll in dlls + delayed if not measure.is_windows_dll(dll)]
    print(f"{os.path.basename(exe)}: {size:,} B of at most {limit:,} B; imports {' '.join(dlls)},"
          f" at first use {' '.join(delayed) or 'none'}")
    print("sections: " + ", ".join(f"{name} {length:,}" for name, length in measure.sections(exe)))
    if size > limit:
        print(f"FAILED: {size - limit:,} B over the limit; the linker map (vellmark.map) says what grew")
    if foreign:
        print(f"FAILED: imports DLLs that are not Windows' own: {' '.join(foreign)}")
    return 1 if size > limit or foreign else 0


if __name__ == "__main__":
    sys.exit(main())
