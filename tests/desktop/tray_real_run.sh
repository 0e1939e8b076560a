#!/usr/bin/env bash
# One real run of the tray on an X server: Xvfb, a window manager (openbox)
# and an XEmbed tray host (trayer), driven with xdotool as a user would.
#   tray_real_run.sh <skiffa executable>
# SKIFFA_SCREENSHOTS=<folder> keeps a screenshot of every step there.
set -euo pipefail

for tool in Xvfb openbox trayer xdotool xwininfo xprop import; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (scripts/install-deps installs it)"
    exit 77
  fi
done
exe=$(realpath "$1")

work=$(mktemp -d /tmp/skiffa-tray-XXXXXX)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  if [ -n "${DISPLAY:-}" ]; then
    echo "--- windows:"; xwininfo -root -tree 2>&1 | grep -v '(has no name): ()' | head -60
  fi
  for log in "$work"/*.log "$work"/*/out.log; do [ -f "$log" ] && { echo "--- $log:"; tail -20 "$log"; }; done
  exit 1
}
# Retries a check until it holds, for up to 30 seconds.
wait_for() {
  local what=$1; shift
  for _ in $(seq 300); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  fail "$what"
}
shot() {
  [ -n "${SKIFFA_SCREENSHOTS:-}" ] || return 0
  mkdir -p "$SKIFFA_SCREENSHOTS"
  import -window root "$SKIFFA_SCREENSHOTS/$1.png"
}

# The X server picks a free display and names it on fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for "the X server did not start" test -s "$work/display"
export DISPLAY=":$(head -1 "$work/display")"
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_for "openbox did not start" xprop -root _NET_SUPPORTING_WM_CHECK

start_tray() {
  trayer --edge top --align right --widthtype pixel --width 64 --heighttype pixel --height 32 \
         --SetDockType true >>"$work/trayer.log" 2>&1 &
  tray_pid=$!
  pids+=($tray_pid)
  wait_for "trayer did not start" xdotool search --classname '^panel$'
}

# The icon's centre on the screen, from the small window docked in the tray.
icon_centre() {
  xwininfo -root -tree | awk '/\("skiffa" "skiffa"\)/ && !found {
      split($(NF-1), size, /[x+]/); split($NF, at, /\+/)
      if (size[1] <= 48 && size[2] <= 48) { print at[2] + int(size[1] / 2), at[3] + int(size[2] / 2); found = 1 }
    } END { exit !found }'
}
# A pop-up menu while the window is hidden: a shown window of the program
# larger than its icon.
menu_open() {
  local id
  for id in $(xdotool search --onlyvisible --classname '^skiffa$' 2>/dev/null); do
    [ "$(xwininfo -id "$id" | awk '/Width:/ {print $NF}')" -gt 48 ] && return 0
  done
  return 1
}
main_window() { xdotool search --onlyvisible --name '^Varnex - Skiffa  Version'; }
# The window is in front and has been drawn: it is the active window and no
# longer black.
is_ready() {
  [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ] &&
    awk '{ exit !($1 > 0.5) }' <<<"$(import -window "$1" -colorspace gray -format '%[fx:mean]' info: 2>/dev/null)"
}
no_main_window() { ! main_window; }
no_icon() { ! icon_centre; }
click_icon() {
  local xy; xy=$(icon_centre) || fail "no tray icon to click"
  xdotool mousemove ${xy% *} ${xy#* } click "$1"
}
# Clicks the icon until the check holds: an icon just put back in the tray
# may not be embedded yet, and a click that comes too early is lost.
click_icon_until() {
  local what=$1 button=$2; shift 2
  for _ in 1 2 3 4 5 6; do
    click_icon "$button"
    for _ in $(seq 50); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  done
  fail "$what"
}
# Clicks a point of the window given as fractions of its width and height.
click_in() {
  local info x y w h
  info=$(xwininfo -id "$1")
  x=$(awk '/Absolute upper-left X/ {print $NF}' <<<"$info")
  y=$(awk '/Absolute upper-left Y/ {print $NF}' <<<"$info")
  w=$(awk '/Width:/ {print $NF}' <<<"$info")
  h=$(awk '/Height:/ {print $NF}' <<<"$info")
  xdotool mousemove $((x + w * $2 / 1000)) $((y + h * $3 / 1000)) click 1
}
start_skiffa() {
  mkdir -p "$work/$1"
  cp "$exe" "$work/$1/skiffa"
  # A port nothing else uses: a box about a busy port would stop the run.
  # Below the kernel's range for outgoing connections, which the tests
  # running beside this one use by the thousand, and, as the tests beside it
  # take their listeners' ports from the same span, one nobody listens on.
  local low port
  low=$(awk '{print $1}' /proc/sys/net/ipv4/ip_local_port_range 2>/dev/null || echo 32768)
  [ "${low:-0}" -gt 2048 ] || low=32768
  for _ in $(seq 100); do
    port=$((1024 + (RANDOM * 32768 + RANDOM) % (low - 1024)))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
  done
  printf '[SERVER]\nPORT=%d\n[ALL]\nTRAY=%s\n' "$port" "$2" >"$work/$1/korvo.ini"
  "$work/$1/skiffa" >"$work/$1/out.log" 2>&1 &
  skiffa_pid=$!
  pids+=($skiffa_pid)
}
# Waits for the program to end by itself and checks its exit status.
expect_exit_0() {
  wait_for "Skiffa did not end" bash -c "! kill -0 $skiffa_pid"
  local status=0
  wait "$skiffa_pid" || status=$?
  [ "$status" -eq 0 ] || fail "Skiffa ended with status $status"
}

# --- with a tray host --------------------------------------------------------
start_tray
start_skiffa tray 1
wait_for "no tray icon at a start in the tray" icon_centre
no_main_window || fail "the window is shown at a start in the tray"
shot 1-start-in-tray

click_icon_until "a left click on the icon did not show the window" 1 main_window
wait_for "the icon stayed after the window was shown" no_icon
wait_for "the shown window is not in front" is_ready "$(main_window)"
shot 2-shown

xdotool windowminimize "$(main_window)"
wait_for "minimising did not hide the window" no_main_window
wait_for "minimising did not add the icon" icon_centre
shot 3-minimised-into-tray

# The tray menu's exit: nobody is connected, so no question.
click_icon_until "the tray menu did not open" 3 menu_open
shot 4-tray-menu
xdotool key x
expect_exit_0
echo "with a tray host: start in the tray, show, minimise, exit from the tray menu: ok"

# --- without a tray host -----------------------------------------------------
kill "$tray_pid"
wait_for "trayer did not end" bash -c "! xdotool search --classname '^panel\$'"
start_skiffa notray 0
wait_for "the window was not shown" main_window
window=$(main_window)
wait_for "the window was not drawn in front" is_ready "$window"
xdotool windowminimize "$window"
wait_for "message 201 did not appear" xdotool search --onlyvisible --name '^Varnex - Skiffa$'
shot 5-no-tray-host
xdotool key Return
wait_for "the window did not come back after message 201" main_window
xprop -id "$window" WM_STATE | grep -q 'window state: Normal' || fail "the window is not restored"
wait_for "the restored window was not drawn in front" is_ready "$window"
shot 6-restored

# The Exit button (at 92 %, 90 % of the window) asks; Yes is the default.
click_in "$window" 919 901
wait_for "the exit question did not appear" xdotool search --onlyvisible --name '^Varnex - Skiffa$'
shot 7-exit-question
xdotool key Return
expect_exit_0
echo "without a tray host: message 201, window restored, Exit button answered Yes: ok"
