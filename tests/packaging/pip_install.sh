#!/usr/bin/env bash
# The Python package as pip and a wheel install it: each into a fresh venv
# (Debian's numpy through --system-site-packages), then the pytest suites
# against the installed package, run from outside the clone.
#
#   pip_install.sh RELEASE_BUILD_DIR
set -euo pipefail
source=$(cd "$(dirname "$0")/../.." && pwd)
release=$(cd "$1" && pwd)
cd "$source"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
/usr/bin/python3 -m venv --system-site-packages "$scratch/pip"
"$scratch/pip/bin/pip" install -q --no-build-isolation --no-index .
/usr/bin/python3 -m build --no-isolation --wheel --outdir "$scratch/wheel" . >"$scratch/build.log" 2>&1 ||
  { cat "$scratch/build.log" >&2; exit 1; }
/usr/bin/python3 -m venv --system-site-packages "$scratch/wheel-venv"
"$scratch/wheel-venv/bin/pip" install -q --no-index "$scratch"/wheel/quelmor-*.whl
ls "$scratch/wheel"
for venv in pip wheel-venv; do
  (cd "$scratch" && QUELMOR_PACKAGE=installed QUELMOR_BUILD_DIR=$release \
    "$scratch/$venv/bin/python" -m pytest -q -p no:cacheprovider "$source/tests/python")
done
