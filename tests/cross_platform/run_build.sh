#!/usr/bin/env bash
# Answers every shared call vector with one build of the module, through its
# minihost (Linux or, under Wine, Windows) or through GNU Octave.
#
# MODULE is the build's Quelmor module; a call to another module (its
# `module` file) takes the module of that name beside it.
#
#   run_build.sh VECTORS RESULTS minihost MINIHOST MODULE
#   run_build.sh VECTORS RESULTS wine MINIHOST.exe MODULE.mexw32
#   run_build.sh VECTORS RESULTS i686 MINIHOST MODULE.mexglx
#   run_build.sh VECTORS RESULTS octave MODULE_DIR
#
# For each call, RESULTS/NAME holds `status` (0 image, 1 error), and `image`
# (the matrix file of the first result) or `message` (the module's own text).
# Exits 77 when this machine cannot run the build's programs at all.
set -euo pipefail
vectors=$1 results=$2 kind=$3
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$results"

runner=()
[ "$kind" = wine ] && runner=("$here/../windows/wine_run.sh")
[ "$kind" = i686 ] && runner=("$here/i686_run.sh")

case $kind in
minihost | wine | i686)
  minihost=$4 module=$5
  for call in "$vectors"/*/; do
    name=$(basename "$call")
    mkdir -p "$results/$name"
    called=$(dirname "$module")/$(cat "$call/module").${module##*.}
    inputs=()
    for i in 1 2 3 4 5 6 7 8 9; do [ -f "$call/in$i" ] && inputs+=("$call/in$i"); done
    # minihost always says why it fails; a failure with nothing said is Wine
    # not starting the process at all ("ShellExecuteEx failed", seen about once
    # in a thousand starts), and "wine client error" is Wine losing its
    # wineserver (seen when no persistent one runs), so that start is made again.
    for attempt in 1 2 3; do
      status=0
      "${runner[@]}" "$minihost" --nargout "$(cat "$call/nargout")" "$called" "$results/$name/image" \
        "${inputs[@]}" 2>"$results/$name/stderr" || status=$?
      if [ "$status" -eq 77 ] && grep -q '^not runnable on this machine' "$results/$name/stderr"; then
        cat "$results/$name/stderr" >&2
        exit 77
      fi
      if [ "$status" -eq 0 ] ||
        { [ -s "$results/$name/stderr" ] && ! grep -q '^wine client error' "$results/$name/stderr"; }; then
        break
      fi
      echo "run_build.sh: $name: $kind did not start minihost (attempt $attempt)" >&2
    done
    # Wine may add carriage returns; the message is the text alone.
    tr -d '\r' <"$results/$name/stderr" >"$results/$name/message"
    rm "$results/$name/stderr"
    [ "$status" -eq 0 ] && rm "$results/$name/message"
    echo "$status" >"$results/$name/status"
  done
  ;;
octave)
  octave-cli --norc --no-gui --eval \
    "addpath('$here'); answer_vectors('$4', '$vectors', '$results')"
  ;;
*)
  echo "run_build.sh: unknown kind $kind" >&2
  exit 2
  ;;
esac
