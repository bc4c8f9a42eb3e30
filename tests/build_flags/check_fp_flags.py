#!/usr/bin/env python3
"""Fails unless every compile command of a build keeps floating point exact:
-ffp-contract=off, no fast-math or any of its parts, and SSE2 arithmetic
(-msse2 -mfpmath=sse) when the target is 32-bit x86, and no pragma in a source
that turns optimisation or floating-point rules back. The Octave modules'
compiles, run by mkoctfile outside compile_commands.json, are read from the
commands mkoctfile logged (host/octave/<module>.log) when they were built.

    check_fp_flags.py BUILD_DIR [--x86-32]
"""
import glob
import json
import os
import re
import shlex
import sys

# Any contraction mode but off, and the flags that license value-changing rewrites.
CONTRACTION = re.compile(r'^-ffp-contract=(?!off$)')
UNSAFE = re.compile(r'^-(Ofast|ffast-math|funsafe-math-optimizations|fassociative-math'
                    r'|freciprocal-math|ffinite-math-only|fno-signed-zeros)$')

build, x86_32 = sys.argv[1], '--x86-32' in sys.argv[2:]
compiles = []
for entry in json.load(open(f'{build}/compile_commands.json')):
    words = entry['arguments'] if 'arguments' in entry else shlex.split(entry['command'])
    compiles.append((entry['file'], words))
for octave_log in glob.glob(f'{build}/host/octave/*.log'):
    for line in open(octave_log):
        words = shlex.split(line)
        if words and '-c' in words:
            sources = [w for w in words if w.endswith(('.cpp', '.cc', '.c'))]
            compiles.append(('Octave module: ' + ' '.join(sources), words))

# A pragma inside a source can turn contraction or fast math back on for it.
PRAGMA = re.compile(r'^\s*#\s*pragma\s+(GCC\s+optimize|clang\s+fp|STDC\s+FP_CONTRACT\s+ON|float_control)',
                    re.MULTILINE)

problems = []
compiled = {source for source, _ in compiles if os.path.isfile(source)}
# The headers beside them, where a pragma would reach every includer.
headers = {header for source in compiled for header in glob.glob(os.path.join(os.path.dirname(source), '*.h'))}
for source in sorted(compiled | headers):
    with open(source, errors='replace') as file:
        if PRAGMA.search(file.read()):
            problems.append(f'{source}: a pragma changes its optimisation or floating-point rules')
for source, words in compiles:
    if '-ffp-contract=off' not in words or any(CONTRACTION.match(w) for w in words):
        problems.append(f'{source}: multiplies and adds may be fused')
    unsafe = [w for w in words if UNSAFE.match(w)]
    if unsafe:
        problems.append(f'{source}: value-changing optimisation allowed ({" ".join(unsafe)})')
    if x86_32 and not ('-msse2' in words and '-mfpmath=sse' in words):
        problems.append(f'{source}: x87 arithmetic (no -msse2 -mfpmath=sse)')
for problem in problems:
    print(f'check_fp_flags: {problem}', file=sys.stderr)
print(f'check_fp_flags: {build}: {len(compiles)} compile commands, {len(problems)} problems')
sys.exit(1 if problems else 0)
