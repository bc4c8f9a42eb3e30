#!/usr/bin/env bash
# Fails unless Quelmor.mexw32 is a 32-bit x86 DLL that exports mexFunction
# alone, undecorated, and imports only libmx.dll, libmex.dll, msvcrt.dll and
# KERNEL32.dll.
#
#   check_dll_headers.sh OBJDUMP MODULE
set -euo pipefail
objdump=$1 module=$2
headers=$("$objdump" -p "$module")
fail() { echo "check_dll_headers: $module: $1" >&2; exit 1; }

"$objdump" -f "$module" | grep -q 'file format pei-i386' || fail "not a 32-bit x86 PE file"
grep -Eq '^Magic\s+010b\s+\(PE32\)' <<<"$headers" || fail "not a PE32 (32-bit) image"
sed -n '/^Characteristics/,/^$/p' <<<"$headers" | grep -Eq '^\s+DLL$' || fail "not a DLL"

exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | sed -n 's/^\s*\[ *[0-9]*\] //p')
[ "$exports" = "mexFunction" ] || fail "exports '$exports', expected only mexFunction"

imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | sort | tr '\n' ' ')
[ "$imports" = "KERNEL32.dll libmex.dll libmx.dll msvcrt.dll " ] ||
  fail "imports '$imports', expected KERNEL32.dll libmex.dll libmx.dll msvcrt.dll"

echo "check_dll_headers: $module: pei-i386 DLL, exports mexFunction, imports $imports"
