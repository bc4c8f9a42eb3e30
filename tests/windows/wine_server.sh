#!/usr/bin/env bash
# The Wine prefix and server every Windows suite of a build shares:
#   wine_server.sh start PREFIX   a new prefix, booted, and a persistent server
#   wine_server.sh stop PREFIX
# The prefix lives in the build folder, so a machine that never ran Wine needs
# nothing set up, and the user's ~/.wine is never touched. Debian's on-demand
# server shuts down between calls, and a call that connects while it does is
# reset ("recvmsg: Connection reset by peer"): one that waits stays up.
set -uo pipefail
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
loader=$(command -v wine64 || echo /usr/lib/wine/wine64)
log=$WINEPREFIX.log
mkdir -p "$(dirname "$WINEPREFIX")"

fail() {
  echo "wine_server.sh: $1; Wine said:" >&2
  cat "$log" >&2
  exit 1
}
[ -d "$WINEPREFIX" ] && "$wineserver" -k 2>/dev/null
case $action in
start)
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$wineserver" -p </dev/null >"$log" 2>&1 || fail "the server did not start"
  # Wine's services outlive wineboot: they get the log, never a test's pipe.
  "$loader" wineboot -i </dev/null >>"$log" 2>&1 || fail "the prefix did not boot"
  echo "wine_server.sh: prefix $WINEPREFIX booted, server running"
  ;;
stop) ;;
*) echo "usage: wine_server.sh start|stop PREFIX" >&2; exit 2 ;;
esac
