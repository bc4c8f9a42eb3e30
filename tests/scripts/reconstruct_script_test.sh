#!/usr/bin/env bash
# The main-job command as a user meets it: --help, a relative --out from
# another folder, and a module that will not load.
#   reconstruct_script_test.sh WORKDIR
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mkdir -p "$1" && cd "$1" && pwd)
failures=0
check() {  # name, then a command that must succeed
  local name=$1
  shift
  if "$@"; then echo "ok: $name"; else echo "FAILED: $name" >&2; failures=$((failures + 1)); fi
}

help=$("$repo/scripts/reconstruct" --help) && status=0 || status=$?
check "--help exits 0" test "$status" -eq 0
check "--help prints the usage" grep -q '^usage: reconstruct_phantom' <<<"$help"

rm -rf "$work/elsewhere" && mkdir -p "$work/elsewhere"
(cd "$work/elsewhere" && "$repo/scripts/reconstruct" --side 48 --views 30 --out myout >"$work/run.log")
check "--out myout runs" test $? -eq 0
check "--out myout writes where the user stands" test -f "$work/elsewhere/myout/reconstruction.png"
check "--out myout writes nothing into the clone" test ! -e "$repo/myout"
check "the run names the kernel variant and processor" grep -q '^kernel variant: .*, on ' "$work/run.log"

errors=$("$repo/scripts/reconstruct" --module "$work/no_such_module.so" 2>&1 >/dev/null) && status=0 || status=$?
check "a bad module path fails" test "$status" -ne 0
check "a bad module path says why" grep -q 'cannot load module' <<<"$errors"
check "a bad module path does not print the usage" bash -c '! grep -q usage: <<<"$1"' _ "$errors"

echo "reconstruct script: $failures failed"
[ "$failures" -eq 0 ]
