#!/usr/bin/env bash
# Every distributable of scripts/dist, checked as its users install it: the
# wheel into a fresh venv; the Octave package with pkg in a scratch Octave
# home (help, the shared call vectors, uninstall); the Linux tarball's and
# both Windows bundles' modules answering the shared call vectors (the
# Windows ones under Wine) as the Linux build does; the bundled DLLs' headers.
#
#   dist_install.sh WORKDIR
set -euo pipefail
cd "$(dirname "$0")/../.."
out=$(mkdir -p "$1" && cd "$1" && pwd)/artifacts
version=$(sed -n 's/^project(Quelmor VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
rm -rf "$out"
scripts/dist "$out"
(cd "$out" && sha256sum -c SHA256SUMS)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

/usr/bin/python3 -m venv --system-site-packages "$scratch/venv"
"$scratch/venv/bin/pip" install -q --no-index "$out"/quelmor-"$version"-*.whl
(cd "$scratch" && "$scratch/venv/bin/python" -c "import numpy as np, quelmor
assert quelmor.__version__ == '$version' and quelmor.__file__.startswith('$scratch'), quelmor.__file__
assert quelmor.fbp(np.ones((11, 4)), np.arange(4) * np.pi / 4, 5).shape == (5, 5)
print('dist: the wheel installs and runs')")

HOME=$scratch/home octave-cli --norc --no-gui --eval "pkg install -local '$out/quelmor-$version.tar.gz';
  pkg load quelmor; assert (! isempty (strfind (help ('Quelmor'), 'Quelmor $version')));
  assert (! isempty (strfind (help ('QuelmorProject'), 'QuelmorProject $version')));
  assert (! isempty (strfind (help ('QuelmorFilter'), 'QuelmorFilter $version')));
  assert (isequal (size (quelmor_fbp (ones (11, 4), (0:3) * pi / 4, 5, 'center', 5.5)), [5 5]));
  printf ('module folder: %s\n', fileparts (which ('Quelmor')))" >"$scratch/pkg.log" 2>&1 ||
  { cat "$scratch/pkg.log" >&2; exit 1; }
package_dir=$(sed -n 's/^module folder: //p' "$scratch/pkg.log")
[ -f "$package_dir/Quelmor.mex" ] || { cat "$scratch/pkg.log" >&2; exit 1; }
echo "dist: pkg install built and installed Quelmor.mex in $package_dir"

mkdir -p "$scratch/linux" "$scratch/win64" "$scratch/win32"
tar -xzf "$out/quelmor-$version-linux-x86_64.tar.gz" -C "$scratch/linux"
/usr/bin/python3 -m zipfile -e "$out/quelmor-$version-windows-x86_64.zip" "$scratch/win64"
/usr/bin/python3 -m zipfile -e "$out/quelmor-$version-windows-x86.zip" "$scratch/win32"
for bits in 64 32; do
  # The header check reads a build folder: the bundled DLL in one.
  mkdir -p "$scratch/mingw$bits/host"
  cp "build/mingw$bits/quelmor_platform.env" "$scratch/mingw$bits/"
  cp "$scratch/win$bits/quelmor-$version"/Quelmor*.mexw* "$scratch/mingw$bits/host/"
  tests/windows/check_dll_headers.sh "$scratch/mingw$bits"
done
code=0
tests/cross_platform/compare_builds.sh "$scratch/answers" build/release/tests/make_vectors \
  build/release/tools/minihost/minihost "$scratch/linux/quelmor-$version/Quelmor.mexa64" \
  windows64 build/mingw64/tools/minihost/minihost.exe "$scratch/win64/quelmor-$version/Quelmor.mexw64" \
  windows32 build/mingw32/tools/minihost/minihost.exe "$scratch/win32/quelmor-$version/Quelmor.mexw32" \
  octave "$package_dir" || code=$?
# 77: the 32-bit bundle could not run here (its headers were checked above).
[ "$code" -eq 0 ] || [ "$code" -eq 77 ] || exit "$code"

HOME=$scratch/home octave-cli --norc --no-gui --eval "pkg uninstall -local quelmor; assert (isempty (pkg ('list')))"
echo "dist: pkg uninstall removed the package"
