#!/usr/bin/env bash
# Answers the shared call vectors with the Linux build and with each other
# build named, and fails unless the Linux build answers every call as the
# table of call cases says (the image's bytes or the error's text), and every
# other build's answers (image bytes, message text, status) are identical.
#
#   compare_builds.sh WORKDIR MAKE_VECTORS LINUX_MINIHOST LINUX_MODULE \
#       [windowsNN|linux32 MINIHOST MODULE]... [octave OCTAVE_MODULE_DIR]
# where windowsNN names a Windows build (windows32, windows64) run under Wine
# and linux32 the i686 Linux build. A build this machine cannot run is named
# and left out; the script then exits 77 unless another build failed.
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

status=0 unrunnable=0
for call in "$work"/vectors/*/; do
  name=$(basename "$call")
  if [ -f "$call/expected" ]; then
    cmp -s "$call/expected" "$work/linux/$name/image" || {
      echo "cross-platform: linux does not return the expected image on $name" >&2
      status=1
    }
  elif ! cmp -s "$call/expected_message" "$work/linux/$name/message" ||
    [ "$(cat "$work/linux/$name/status")" != 1 ] || [ -e "$work/linux/$name/image" ]; then
    echo "cross-platform: linux does not raise the expected error on $name" >&2
    status=1
  fi
done
echo "cross-platform: linux answers all $calls calls as the table of call cases says"

while [ $# -gt 0 ]; do
  build=$1
  case $build in
  windows* | linux32)
    runner=wine
    [ "$build" = linux32 ] && runner=i686
    code=0
    "$here/run_build.sh" "$work/vectors" "$work/$build" $runner "$2" "$3" || code=$?
    shift 3
    if [ "$code" -eq 77 ]; then
      echo "cross-platform: $build left out: not runnable on this machine"
      unrunnable=1
      continue
    fi
    [ "$code" -eq 0 ] || exit "$code"
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
[ "$status" -eq 0 ] && [ "$unrunnable" -eq 1 ] && exit 77
exit $status
