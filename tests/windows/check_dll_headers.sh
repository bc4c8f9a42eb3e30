#!/usr/bin/env bash
# Fails unless each of a Windows build's modules is a DLL of its platform's PE format
# (PE32 for 32-bit, PE32+ for 64-bit), exports mexFunction alone, undecorated,
# imports only libmx.dll, libmex.dll, msvcrt.dll and KERNEL32.dll, and is
# reproducible and stripped: zero link timestamps and no debug sections.
#
#   check_dll_headers.sh BUILD_DIR
set -euo pipefail
build=$1
# Written by the build from its toolchain file: module_suffix, pe_format, objdump, pointer_bytes,
# and host_modules from its list of modules.
declare -A platform
while IFS='=' read -r key value; do platform[$key]=$value; done <"$build/quelmor_platform.env"
objdump=${platform[objdump]}
fail() { echo "check_dll_headers: $module: $1" >&2; exit 1; }
# CMake keeps a build folder's cached link flags when the toolchain file's change.
stale="(a build folder configured before cmake/mingw-common.cmake's link flags: configure it with --fresh)"

check_module() {
  local module=$1 headers magic exports imports coff_stamp export_stamp debug
  [ -f "$module" ] || fail "not built"
  headers=$("$objdump" -p "$module")

  "$objdump" -f "$module" | grep -q "file format ${platform[pe_format]}\$" || fail "not a ${platform[pe_format]} file"
  case ${platform[pointer_bytes]} in
    4) magic='010b\s+\(PE32\)' ;;
    8) magic='020b\s+\(PE32\+\)' ;;
    *) fail "unknown pointer size ${platform[pointer_bytes]}" ;;
  esac
  grep -Eq "^Magic\s+$magic" <<<"$headers" || fail "optional header is not $magic"
  sed -n '/^Characteristics/,/^$/p' <<<"$headers" | grep -Eq '^\s+DLL$' || fail "not a DLL"

  exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | sed -n 's/^\s*\[ *[0-9]*\] //p')
  [ "$exports" = "mexFunction" ] || fail "exports '$exports', expected only mexFunction"

  imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | sort | tr '\n' ' ')
  [ "$imports" = "KERNEL32.dll libmex.dll libmx.dll msvcrt.dll " ] ||
    fail "imports '$imports', expected KERNEL32.dll libmex.dll libmx.dll msvcrt.dll"

  # Reproducible: no link time in the COFF header or the export directory. The
  # COFF header's TimeDateStamp lies 8 bytes past the PE header, whose offset is
  # at 0x3c (objdump shows it only as a local date).
  u32() { od -An -tu4 -j "$1" -N4 "$module" | tr -d ' '; }
  coff_stamp=$(u32 $(($(u32 60) + 8)))
  [ "$coff_stamp" = 0 ] || fail "COFF header carries a link timestamp: $coff_stamp $stale"
  export_stamp=$(sed -n 's/^Time\/Date stamp\s*//p' <<<"$headers")
  [ "$export_stamp" = 0 ] || fail "export directory carries a timestamp: $export_stamp $stale"
  # Stripped: the static runtime's DWARF has no place in a Release module.
  debug=$("$objdump" -h "$module" | awk '$2 ~ /^\.debug/ {print $2}' | paste -sd ' ' -)
  [ -z "$debug" ] || fail "carries debug sections: $debug $stale"

  echo "check_dll_headers: $module: ${platform[pe_format]} DLL, exports mexFunction, imports ${imports% }," \
    "no timestamps, no debug sections"
}
# Every host module of the build, as host/CMakeLists.txt lists them.
[ -n "${platform[host_modules]:-}" ] || { echo "check_dll_headers: $build names no host modules" >&2; exit 1; }
for name in ${platform[host_modules]}; do
  check_module "$build/host/$name${platform[module_suffix]}"
done
