#!/usr/bin/env bash
# Answers every shared call vector with one build of the module, through its
# minihost (Linux or, under Wine, Windows) or through GNU Octave.
#
#   run_build.sh VECTORS RESULTS minihost MINIHOST MODULE
#   run_build.sh VECTORS RESULTS wine MINIHOST.exe MODULE.mexw32
#   run_build.sh VECTORS RESULTS octave MODULE_DIR
#
# For each call, RESULTS/NAME holds `status` (0 image, 1 error), and `image`
# (the matrix file of the first result) or `message` (the module's own text).
set -euo pipefail
vectors=$1 results=$2 kind=$3
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$results"

runner=()
[ "$kind" = wine ] && runner=(wine)

case $kind in
minihost | wine)
  minihost=$4 module=$5
  for call in "$vectors"/*/; do
    name=$(basename "$call")
    mkdir -p "$results/$name"
    inputs=()
    for i in 1 2 3 4 5 6; do [ -f "$call/in$i" ] && inputs+=("$call/in$i"); done
    # minihost always says why it fails; a failure with nothing said is Wine
    # not starting the process at all ("ShellExecuteEx failed", seen about once
    # in a thousand starts), and "wine client error" is Wine losing its
    # wineserver (seen when no persistent one runs), so that start is made again.
    for attempt in 1 2 3; do
      status=0
      "${runner[@]}" "$minihost" --nargout "$(cat "$call/nargout")" "$module" "$results/$name/image" \
        "${inputs[@]}" 2>"$results/$name/stderr" || status=$?
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
