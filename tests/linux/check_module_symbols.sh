#!/usr/bin/env bash
# Fails unless the Linux module's only defined dynamic symbol is mexFunction,
# the host's operations are left for the host to resolve at load time, and
# the module takes no heap allocator from the C or C++ runtime (its memory
# comes from the host alone).
#
# A module that allocates for its work (the solver's) says so with --allocates,
# and is then checked for its exports and host operations only.
#
#   check_module_symbols.sh [--allocates] MODULE HOST_OPERATION...
set -euo pipefail
allocates=no
[ "$1" = --allocates ] && { allocates=yes; shift; }
module=$1
shift
defined=$(nm -D --defined-only "$module" | awk '{print $3}' | tr '\n' ' ')
[ "$defined" = "mexFunction " ] || { echo "$module defines '$defined', expected only mexFunction" >&2; exit 1; }
undefined=$(nm -D --undefined-only "$module" | awk '$1 == "U" {print $2}' | grep -E '^mx|^mex' | sort | tr '\n' ' ')
expected=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
[ "$undefined" = "$expected" ] || { echo "$module leaves '$undefined' to the host, expected '$expected'" >&2; exit 1; }
allocators=$(nm -D --undefined-only "$module" | awk '$1 == "U" {print $2}' | sed 's/@.*//' |
  grep -E '^(malloc|calloc|realloc|free|aligned_alloc|posix_memalign|memalign|valloc|_Znw.*|_Zna.*)$' | tr '\n' ' ' || true)
[ -z "$allocators" ] || [ "$allocates" = yes ] || { echo "$module takes a heap allocator from the runtime: $allocators" >&2; exit 1; }
echo "$module: exports mexFunction alone; takes $undefined from the host$([ "$allocates" = yes ] || echo ', and no allocator')"
