#!/usr/bin/env bash
# Serial lines for the Windows tests under Wine: pairs of pseudo-terminals
# joined by socat, each end linked as Wine's COM<n> in the prefix
# ($WINEPREFIX/dosdevices/com<n>), so that what a Windows program writes to
# COM3 another reads from COM4, through Wine's real serial ports.
#
#   wine_serial_lines.sh start PREFIX A:B [A:B...]
#   wine_serial_lines.sh stop PREFIX
#
# Every end stays held open by a process of the script's own until stop, so
# that a program closing its port does not hang the line up.
set -euo pipefail

command=$1
prefix=$2
shift 2
lines=$prefix/dactyra-lines

stop() {
  if [ -d "$lines" ]; then
    for pidfile in "$lines"/*.pid; do
      [ -e "$pidfile" ] || continue
      kill "$(cat "$pidfile")" 2>/dev/null || true
      rm -f "$pidfile"
    done
    for link in "$lines"/COM*; do
      [ -e "$link" ] || [ -L "$link" ] || continue
      rm -f "$prefix/dosdevices/$(basename "$link" | tr 'A-Z' 'a-z')" "$link"
    done
  fi
}

case $command in
  stop)
    stop
    exit 0 ;;
  start)
    stop
    mkdir -p "$lines" "$prefix/dosdevices"
    for pair in "$@"; do
      a=${pair%%:*}
      b=${pair##*:}
      # Nothing of theirs may keep the test command's output open.
      socat pty,raw,echo=0,link="$lines/COM$a" pty,raw,echo=0,link="$lines/COM$b" \
        </dev/null >/dev/null 2>&1 &
      echo $! >"$lines/socat-$a.pid"
      for _ in $(seq 300); do
        [ -e "$lines/COM$a" ] && [ -e "$lines/COM$b" ] && break
        sleep 0.01
      done
      [ -e "$lines/COM$a" ] && [ -e "$lines/COM$b" ] || { echo "socat made no line $pair" >&2; exit 1; }
      # Held open for the life of the line.
      sleep infinity <>"$lines/COM$a" 3<>"$lines/COM$b" >/dev/null 2>&1 &
      echo $! >"$lines/hold-$a.pid"
      ln -sfn "$(readlink -f "$lines/COM$a")" "$prefix/dosdevices/com$a"
      ln -sfn "$(readlink -f "$lines/COM$b")" "$prefix/dosdevices/com$b"
    done ;;
  *)
    echo "usage: $0 start PREFIX A:B... | stop PREFIX" >&2
    exit 2 ;;
esac
