#!/usr/bin/env bash
# A matrix file whose header claims more doubles than it holds must be
# refused by minihost with exit 2 and a message, never read past its end.
# The headers make rows x columns x 8 wrap to the file's real data length:
# 2^31 x 2^30 with no data wraps to 0 bytes; 631832658 x 3649452082 with four
# doubles wraps to 32 bytes (and its count truncates to 4 on 32-bit).
#
#   crafted_headers.sh WORKDIR MINIHOST MODULE [RUNNER...]
set -euo pipefail
work=$1 minihost=$2 module=$3
shift 3
mkdir -p "$work"
u32() { printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"; }
one() { u32 1; u32 1; printf '\x00\x00\x00\x00\x00\x00\xf0\x3f'; }
{ u32 2147483648; u32 1073741824; } >"$work/wraps_to_nothing"
{ u32 631832658; u32 3649452082; head -c 32 /dev/zero; } >"$work/wraps_to_four"
one >"$work/one"
status=0
for crafted in wraps_to_nothing wraps_to_four; do
  code=0
  "$@" "$minihost" "$module" "$work/out" "$work/$crafted" "$work/one" "$work/one" "$work/one" "$work/one" \
    2>"$work/stderr" || code=$?
  message=$(tr -d '\r' <"$work/stderr")
  # The runner's own word that this machine cannot run the build's programs.
  [ "$code" -eq 77 ] && [[ $message == "not runnable on this machine"* ]] && { echo "$message"; exit 77; }
  if [ "$code" -eq 2 ] && [[ $message == minihost:*malformed* ]] && [ ! -e "$work/out" ]; then
    echo "crafted header $crafted: refused (exit 2: $message)"
  else
    echo "crafted header $crafted: exit $code, message '$message'" >&2
    status=1
  fi
done
exit $status
