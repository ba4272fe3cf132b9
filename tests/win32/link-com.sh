#!/usr/bin/env bash
# Makes COM<N> of the Wine prefix PREFIX the terminal TTY (a pty such as
# /dev/pts/7, or a real serial device). Wine resolves COM<N> through the
# symbolic link dosdevices/com<N>.
#   link-com.sh PREFIX N TTY
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 PREFIX N TTY" >&2
  exit 2
fi
prefix=$1 n=$2 tty=$3
case "$n" in
  '' | *[!0-9]*) echo "link-com.sh: port number must be a number: $n" >&2; exit 2 ;;
esac
[ -d "$prefix/dosdevices" ] || { echo "link-com.sh: not a Wine prefix: $prefix" >&2; exit 1; }
[ -c "$tty" ] || { echo "link-com.sh: not a character device: $tty" >&2; exit 1; }
ln -sfn "$tty" "$prefix/dosdevices/com$n"
