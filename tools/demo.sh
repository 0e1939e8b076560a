#!/usr/bin/env bash
# The demo: Skiffa on TCP port 2323 with its line COM1 wired to the demo host
# (tools/demohost.cpp), a scripted BBS host on a pseudo-terminal. Everything
# runs from the scratch folder demo-run/ in the repository; Ctrl-C ends both.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${SKIFFA_BUILD_DIR:-$root/build}"  # make demo uses build/
run="$root/demo-run"

for program in skiffa demohost; do
  if [ ! -x "$build/$program" ]; then
    echo "demo: $build/$program is missing; build first (make build)" >&2
    exit 1
  fi
done

mkdir -p "$run"
cp -f "$build/skiffa" "$run/skiffa"
rm -f "$run/com/COM1"

# The relay's settings. A pty has no modem lines, so DSR is off. CHECK1 is the
# demo host's hang-up string and AFTER tells the demo host that the caller has
# gone (both \r\nNO CARRIER\r\n, in korvo.ini's escapes).
cat >"$run/korvo.ini" <<'EOF'
[COM1]
NAME=COM1
SPEED=38400
DATA=8
STOP=1
PARITY=0
RING=2
INTERVAL=1000
CONNECT_INTERVAL=0
CONNECT=1
DSR=0
[COM2]
NAME=
[SERVER]
PORT=2323
[TIME]
NO_COMM=0
LIMIT=0
KEEP=1
[TEXT]
CHECK1=\r\nNO CARRIER\r\n
AFTER=\r\nNO CARRIER\r\n
[LOG]
ENABLE=1
DIR=
EOF

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
  echo "demo: no display found; Skiffa runs on the offscreen platform (no window)"
fi

host_pid=""
skiffa_pid=""
stop() {
  local status=${1:-0}
  trap - INT TERM EXIT
  echo
  echo "demo: stopping"
  [ -n "$skiffa_pid" ] && kill -TERM "$skiffa_pid" 2>/dev/null || true
  [ -n "$host_pid" ] && kill -TERM "$host_pid" 2>/dev/null || true
  [ -n "$skiffa_pid" ] && wait "$skiffa_pid" 2>/dev/null || true
  [ -n "$host_pid" ] && wait "$host_pid" 2>/dev/null || true
  exit "$status"
}
trap stop INT TERM EXIT

# Both programs run in sessions of their own, so that Ctrl-C reaches only this
# script, whose trap then ends them in order.
setsid "$build/demohost" "$run" 1 &
host_pid=$!
for _ in $(seq 100); do
  [ -L "$run/com/COM1" ] && break
  kill -0 "$host_pid" 2>/dev/null || { echo "demo: the demo host did not start" >&2; exit 1; }
  sleep 0.1
done
[ -L "$run/com/COM1" ] || { echo "demo: the demo host made no line" >&2; exit 1; }

(cd "$run" && exec setsid ./skiffa) &
skiffa_pid=$!

echo "demo: Skiffa runs in $run (log files land there too)"
echo "demo: call in with:  telnet localhost 2323"
echo "demo: type a line to have it echoed, 'bye' to hang up; Ctrl-C here ends the demo"

# Until Ctrl-C, or until either program ends by itself.
while kill -0 "$skiffa_pid" 2>/dev/null && kill -0 "$host_pid" 2>/dev/null; do
  sleep 1 &
  wait $! || true
done
echo "demo: a program ended by itself" >&2
stop 1
