#!/usr/bin/env python3
"""Checks that code built for a wider instruction set cannot reach the baseline path.

Each kernel variant's object (the variants that core/CMakeLists.txt lists, as
the build writes them to core/kernel_variants.txt) is compiled with its own -m
flags. Any weak or global definition in it, such as an out-of-line copy of a
standard template, may be the one the linker keeps for every object, and would
then run on processors without that instruction set. So a variant's object may
define, with external linkage, only its own entry (quelmor::detail::<name>Kernels),
and nothing that any other object of the build also defines.

    check_simd_symbols.py BUILD_DIR [NM]
"""
import collections
import pathlib
import subprocess
import sys


def defined_symbols(nm, obj):
    """External (global or weak) definitions of `obj`, demangled: {name: type letter}."""
    out = subprocess.run([nm, "--defined-only", "-g", "-C", str(obj)], check=True,
                         capture_output=True, text=True).stdout
    symbols = {}
    for line in out.splitlines():
        parts = line.split(maxsplit=2)
        # 32-bit position-independent code reads its own address through
        # GCC's __x86.get_pc_thunk.* helpers: a few fixed instructions of the
        # base instruction set, the same in every object.
        if len(parts) == 3 and not parts[2].startswith("__x86.get_pc_thunk."):
            symbols[parts[2]] = parts[1]
    return symbols


def main():
    build = pathlib.Path(sys.argv[1])
    nm = sys.argv[2] if len(sys.argv) > 2 else "nm"
    # The objects linked with the variants: the core libraries and the module
    # (of this build alone, not of builds that tests made inside it).
    linked_together = ("quelmor_core.dir", "quelmor_parallel.dir", "Quelmor.dir")
    objects = sorted(p for folder in ("core", "host") for p in (build / folder).rglob("*.o*")
                     if p.suffix in (".o", ".obj") and any(part in linked_together for part in p.parts))
    variants = {}  # object file name: variant name
    for line in (build / "core" / "kernel_variants.txt").read_text().splitlines():
        name, source = line.split()[:2]
        variants[pathlib.Path(source).name + ".o"] = name
        variants[pathlib.Path(source).name + ".obj"] = name
    variant_objects = [p for p in objects if p.name in variants]
    if not variant_objects:
        print(f"check_simd_symbols: no kernel variant objects under {build}", file=sys.stderr)
        return 1
    definers = collections.defaultdict(list)
    for obj in objects:
        for name in defined_symbols(nm, obj):
            definers[name].append(obj)
    problems = []
    for obj in variant_objects:
        for name, kind in defined_symbols(nm, obj).items():
            if name != f"quelmor::detail::{variants[obj.name]}Kernels":
                problems.append(f"{obj.name}: external definition ({kind}) {name}")
            others = [o.name for o in definers[name] if o != obj]
            if others:
                problems.append(f"{obj.name}: {name} also defined in {', '.join(others)}")
    for problem in problems:
        print("check_simd_symbols: " + problem, file=sys.stderr)
    if problems:
        return 1
    if len(variant_objects) != len(set(variants.values())):
        print(f"check_simd_symbols: found {len(variant_objects)} objects for the "
              f"{len(set(variants.values()))} listed variants", file=sys.stderr)
        return 1
    print(f"check_simd_symbols: {len(variant_objects)} variant objects define only their entry "
          f"points ({len(objects)} objects in {build})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
