#!/usr/bin/env bash
# Answers the shared call vectors with the Linux build and with each other
# build named, and fails unless every answer (image bytes, message text,
# status) is identical to the Linux build's, and every call that carries the
# reference sweep's image was answered with exactly those bytes.
#
#   compare_builds.sh WORKDIR MAKE_VECTORS LINUX_MINIHOST LINUX_MODULE \
#       [windowsNN WINDOWS_MINIHOST WINDOWS_MODULE]... [octave OCTAVE_MODULE_DIR]
# where windowsNN names a Windows build (windows32, windows64) run under Wine.
set -euo pipefail
work=$1 make_vectors=$2 linux_minihost=$3 linux_module=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
"$make_vectors" "$work/vectors"
"$here/run_build.sh" "$work/vectors" "$work/linux" minihost "$linux_minihost" "$linux_module"
calls=$(find "$work/vectors" -mindepth 1 -maxdepth 1 -type d | wc -l)
images=$(find "$work/linux" -name image | wc -l)

status=0
checked=0
shopt -s nullglob
for expected in "$work"/vectors/*/expected; do
  name=$(basename "$(dirname "$expected")")
  checked=$((checked + 1))
  if ! cmp -s "$expected" "$work/linux/$name/image"; then
    echo "cross-platform: linux differs from the reference sweep on $name" >&2
    status=1
  fi
done
echo "cross-platform: linux matches the reference sweep on $checked random calls"

while [ $# -gt 0 ]; do
  build=$1
  case $build in
  windows*)
    export WINEDEBUG=-all
    "$here/run_build.sh" "$work/vectors" "$work/$build" wine "$2" "$3"
    shift 3
    ;;
  octave)
    "$here/run_build.sh" "$work/vectors" "$work/octave" octave "$2"
    shift 2
    ;;
  *)
    echo "compare_builds.sh: unknown build $build" >&2
    exit 2
    ;;
  esac
  if diff -r "$work/linux" "$work/$build" >"$work/$build.diff"; then
    echo "cross-platform: $build agrees with linux on all $calls calls ($images images, byte for byte)"
  else
    echo "cross-platform: $build DIFFERS from linux:" >&2
    head -40 "$work/$build.diff" >&2
    status=1
  fi
done
exit $status
