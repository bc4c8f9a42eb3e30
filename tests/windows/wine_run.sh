#!/usr/bin/env bash
# Runs a Windows program under Wine: the emulator of the Windows presets and
# the one way every test script starts a Windows program.
#   wine_run.sh PROGRAM.exe [ARGS...]
# The prefix is the build's own (WINEPREFIX, set by the suites and booted by
# the `wine` fixture), never the user's ~/.wine. A 64-bit program runs through
# wine64: Debian's `wine` wrapper picks the 32-bit loader whenever wine32 is
# installed. A 32-bit program needs a machine that runs 32-bit programs; on
# one that cannot, it exits 77 (CTest's skip code) and says so.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$1
if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine_run.sh: WINEPREFIX is not set; the tests run in a prefix of their own" >&2
  exit 2
fi
export WINEDEBUG=${WINEDEBUG:--all}

# The PE header's machine field: at the offset stored at 0x3c, past "PE\0\0".
pe=$(od -An -t u4 -j 60 -N 4 "$program" | tr -d ' ')
machine=$(od -An -t x2 -j $((pe + 4)) -N 2 "$program" | tr -d ' ')
case $machine in
8664) loader=$(command -v wine64 || echo /usr/lib/wine/wine64) ;;
014c)
  if ! "$here/../../cmake/runs-32bit-programs.sh" >/dev/null; then
    echo "not runnable on this machine: it cannot execute 32-bit programs" >&2
    exit 77
  fi
  loader=/usr/lib/wine/wine
  [ -x "$loader" ] || { echo "wine_run.sh: 32-bit Wine is missing (Debian: wine32:i386)" >&2; exit 1; }
  ;;
*)
  echo "wine_run.sh: $program is not a Windows x86 program (machine '$machine')" >&2
  exit 2
  ;;
esac
exec "$loader" "$@"
