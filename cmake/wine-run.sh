#!/usr/bin/env bash
# Runs a Windows program under wine, headless and quiet:
#   wine-run.sh PROGRAM.exe [ARGUMENT...]
# Without a program it only makes the prefix (and starts the wine server).
# The wine prefix is WINEPREFIX, or one of our own under the user's cache
# directory; it is made at the first use (a few seconds), serialised with
# flock so that tests running side by side make it once.
# When no wine server runs yet, one is started first with its output sent
# away: a server started by the program's own wine would keep the program's
# standard error open for seconds after the program ended, and whoever reads
# that (ctest, a test's pipe) would wait for it.
# The exit code is the program's (0 to 255 come through unchanged).
set -u
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/diskette-images-wine}"
mkdir -p "$(dirname "$WINEPREFIX")"
ready="$WINEPREFIX/.prefix-ready"
if [ ! -e "$ready" ]; then
  (
    flock 9
    if [ ! -e "$ready" ]; then
      wineboot --init </dev/null >/dev/null 2>&1
      wineserver -w </dev/null >/dev/null 2>&1
      touch "$ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
if ! wineserver -k0 </dev/null >/dev/null 2>&1; then
  wine wineboot </dev/null >/dev/null 2>&1
fi
[ $# -eq 0 ] && exit 0
exec wine "$@"
