#!/usr/bin/env bash
# The demo: Skiffa on TCP port 2323 with its line COM1 wired to the demo host
# (tools/demohost.cpp), a scripted BBS host on a pseudo-terminal. Everything
# runs from the scratch folder demo-run/ in the repository; Ctrl-C ends both,
# and so does the end of this script in any other way (both programs get
# SIGTERM when it dies, and the demo host then removes its link).
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
port=2323

# Starts a program that gets SIGTERM when this script ends, however it ends
# (setpriv's parent-death signal; without it only the trap below ends them).
with_death_signal=()
if setpriv --help 2>/dev/null | grep -q -- --pdeathsig; then
  with_death_signal=(setpriv --pdeathsig TERM)
fi

# True when the process $1 itself listens on TCP port $2: one of its open
# sockets is a listening socket of that port.
owns_listener() {
  local pid=$1 hex inode
  hex=$(printf ':%04X' "$2")
  for inode in $(awk -v p="$hex" '$4 == "0A" && substr($2, length($2) - 4) == p { print $10 }' \
                   /proc/net/tcp /proc/net/tcp6 2>/dev/null); do
    ls -l "/proc/$pid/fd" 2>/dev/null | grep -q "socket:\[$inode\]" && return 0
  done
  return 1
}
# Ends a program by SIGTERM, and by SIGKILL if it is still there 5 s later
# (a message box left open at start-up keeps Skiffa from ending).
end_program() {
  local pid=$1 name=$2
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
    sleep 0.1
  done
  echo "demo: $name did not end on SIGTERM; killing it" >&2
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
stop() {
  local status=${1:-0}
  # A second Ctrl-C while the programs end must not cut the clean-up short,
  # nor may a closed output (a pipe whose reader Ctrl-C ended).
  trap '' INT TERM PIPE
  trap - EXIT
  set +e
  echo
  echo "demo: stopping"
  end_program "$skiffa_pid" skiffa
  end_program "$host_pid" demohost
  exit "$status"
}
trap stop INT TERM EXIT

# Both programs run in sessions of their own, so that Ctrl-C reaches only this
# script, whose trap then ends them in order.
setsid "${with_death_signal[@]}" "$build/demohost" "$run" 1 &
host_pid=$!
for _ in $(seq 100); do
  [ -L "$run/com/COM1" ] && break
  kill -0 "$host_pid" 2>/dev/null || { echo "demo: the demo host did not start" >&2; exit 1; }
  sleep 0.1
done
[ -L "$run/com/COM1" ] || { echo "demo: the demo host made no line" >&2; exit 1; }

(cd "$run" && exec setsid "${with_death_signal[@]}" ./skiffa) &
skiffa_pid=$!

# Skiffa reports a listener it could not open in a message box (and on
# stderr): make sure the listener on the port is Skiffa's own, not another
# program's.
listening=""
for _ in $(seq 50); do
  if owns_listener "$skiffa_pid" "$port"; then listening=1; break; fi
  kill -0 "$skiffa_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$listening" ]; then
  echo "demo: Skiffa does not listen on port $port (its message above says why): another" >&2
  echo "demo: program may use the port, or an earlier run's connections still hold it" >&2
  stop 1
fi

echo "demo: Skiffa runs in $run (log files land there too)"
echo "demo: call in with:  telnet localhost $port"
echo "demo: type a line to have it echoed, 'bye' to hang up; Ctrl-C here ends the demo"

# Until Ctrl-C, or until either program ends by itself.
while kill -0 "$skiffa_pid" 2>/dev/null && kill -0 "$host_pid" 2>/dev/null; do
  sleep 1 &
  wait $! || true
done
echo "demo: a program ended by itself" >&2
stop 1
