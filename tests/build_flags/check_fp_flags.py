#!/usr/bin/env python3
"""Fails unless every compile command of a build keeps floating point exact:
-ffp-contract=off, no fast-math, and SSE2 arithmetic (-msse2 -mfpmath=sse)
when the target is 32-bit x86.

    check_fp_flags.py BUILD_DIR [--x86-32]
"""
import json
import re
import sys

# Any contraction mode but off, and the flags that license reassociation.
CONTRACTION = re.compile(r'^-ffp-contract=(?!off$)')
UNSAFE = re.compile(r'^-(O(?:fast)|f(?:fast|unsafe|associative)-math)')

build, x86_32 = sys.argv[1], '--x86-32' in sys.argv[2:]
commands = json.load(open(f'{build}/compile_commands.json'))
problems = []
for entry in commands:
    words = entry.get('command', ' '.join(entry.get('arguments', []))).split()
    source = entry['file']
    if '-ffp-contract=off' not in words or any(CONTRACTION.match(w) for w in words):
        problems.append(f'{source}: multiplies and adds may be fused')
    if any(UNSAFE.match(w) for w in words):
        problems.append(f'{source}: reassociation allowed')
    if x86_32 and not ('-msse2' in words and '-mfpmath=sse' in words):
        problems.append(f'{source}: x87 arithmetic (no -msse2 -mfpmath=sse)')
for problem in problems:
    print(f'check_fp_flags: {problem}', file=sys.stderr)
print(f'check_fp_flags: {build}: {len(commands)} compile commands, {len(problems)} problems')
sys.exit(1 if problems else 0)
