#!/usr/bin/env bash
# Runs an i686 Linux program: natively where this machine runs 32-bit
# programs, under qemu-i386-static (Debian: qemu-user-static) where it cannot.
# The emulator of the linux32 preset and of its call-vector comparison.
#   i686_run.sh PROGRAM [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if "$here/../../cmake/runs-32bit-programs.sh" >/dev/null; then
  exec "$@"
fi
command -v qemu-i386-static >/dev/null ||
  { echo "i686_run.sh: this machine cannot execute 32-bit programs and qemu-i386-static is missing (Debian: qemu-user-static)" >&2; exit 1; }
exec qemu-i386-static "$@"
