#!/usr/bin/env bash
# What a new user does first: a plain `cmake -S . -B DIR` (default generator,
# no build type) and build, which must be optimised; the install; `help
# Quelmor` and the README's Octave snippet against it; a reconstruction from
# the installed module; the installed Python package imported from the install alone;
# the build checks, which need no preset.
#
#   plain_install.sh WORKDIR
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=$(mkdir -p "$1" && cd "$1" && pwd)
build=$dir/build prefix=$dir/install
rm -rf "$build" "$prefix"
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j 2 >/dev/null
grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' "$build/CMakeCache.txt" &&
  grep -q -- '-O3' "$build/core/CMakeFiles/quelmor_core.dir/flags.make" ||
  { echo "plain build: the kernel was not compiled with optimisation" >&2; exit 1; }
echo "plain build: Release, kernel compiled with -O3"
ctest --test-dir "$build" -L flags --output-on-failure >"$dir/flags.log" 2>&1 || { cat "$dir/flags.log" >&2; exit 1; }
echo "plain build: the build checks pass (exact floating-point flags, variant objects)"
cmake --install "$build" --prefix "$prefix" >/dev/null
installed=$prefix/lib/quelmor
ls "$installed"

version=$(sed -n 's/^project(Quelmor VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
octave-cli --norc --no-gui --eval "addpath('$installed'); help Quelmor" >"$dir/help.txt" 2>&1 &&
  grep -q 'image = Quelmor(projections, cosines, sines, N, interpCode)' "$dir/help.txt" &&
  grep -q 'multiply by pi / V' "$dir/help.txt" &&
  grep -qx "  Quelmor $version" "$dir/help.txt" || { cat "$dir/help.txt" >&2; exit 1; }
for module in QuelmorProject QuelmorSolve QuelmorFilter; do
  octave-cli --norc --no-gui --eval "addpath('$installed'); help $module" 2>&1 |
    grep -qx "  $module $version" || { echo "plain build: help $module is missing" >&2; exit 1; }
done
echo "plain build: Octave's help Quelmor prints the installed help text"
/usr/bin/python3 - "$installed" >"$dir/snippet.m" <<'PY'
import re, sys
readme = open("README.md").read()
block = next(b for b in re.findall(r"```matlab\n(.*?)```", readme, re.S) if "ramp_filter(" in b)
print(block.replace("/usr/local/lib/quelmor", sys.argv[1]))
print("assert (isequal (size (image), [256 256]) && all (isfinite (image(:))))")
PY
octave-cli --norc --no-gui "$dir/snippet.m" >"$dir/snippet.log" 2>&1 || { cat "$dir/snippet.log" >&2; exit 1; }
echo "plain build: the README's Octave snippet runs against the install"

"$build/examples/reconstruct_phantom" --module "$installed/Quelmor.mexa64" --side 64 --views 60 \
  --out "$dir/pictures"
packages=$(ls -d "$prefix"/lib/python3*/dist-packages)
cd "$dir" && PYTHONPATH=$packages /usr/bin/python3 - "$packages" <<'PY'
import sys
import numpy as np
import quelmor
assert quelmor.__file__.startswith(sys.argv[1]), quelmor.__file__
image = quelmor.backproject(np.ones((9, 2)), [1.0, 0.0], [0.0, 1.0], 3, "nearest")
assert image.shape == (3, 3) and image[1, 1] == 2.0, image
print("plain build: the installed Python package runs, kernel variant", quelmor.kernel_variant())
PY
