#!/usr/bin/env bash
# Creates a fresh, headless Wine prefix at PREFIX (removing any old one) for
# running the Windows build's programs. Mono and Gecko are not installed.
# Leaves a quiet wineserver running (see the end). With --console, also
# Wine's system processes, for console programs only.
#   wine-prefix.sh PREFIX [--console]
set -euo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ] || { [ $# -eq 2 ] && [ "$2" != --console ]; }; then
  echo "usage: $0 PREFIX [--console]" >&2
  exit 2
fi
prefix=$1
console=${2:-}
case "$prefix" in
  /*) ;;
  *) prefix="$PWD/$prefix" ;;
esac
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Stop a server still serving an old prefix at this path before removing it.
[ -d "$prefix" ] && wineserver -k 2>/dev/null || true
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
# A console boot needs no display; DISPLAY would only invite dialogs.
env -u DISPLAY wineboot --init >/dev/null 2>&1
wineserver -w
test -d "$prefix/dosdevices" || { echo "wine-prefix.sh: no prefix made at $prefix" >&2; exit 1; }

# A server started by a program inherits that program's output, writes its
# object dump there on exit and keeps the output open meanwhile (a test
# runner would wait for it). Start one now, detached and quiet, that stays
# for a minute after its last client; `wineserver -k` stops it at once.
wineserver -p60 </dev/null >/dev/null 2>&1
# The first program to run also starts Wine's system processes, which hold
# that program's output open until the server ends (a test that passes in a
# second took a minute): start them here, quietly. Not for windows: a
# desktop first started without a display never shows one.
if [ "$console" = --console ]; then
  env -u DISPLAY wine cmd /c exit </dev/null >/dev/null 2>&1
fi
