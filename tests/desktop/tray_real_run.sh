#!/usr/bin/env bash
# One real run of the tray on an X server: Xvfb, a window manager (openbox)
# and an XEmbed tray host (trayer), driven with xdotool as a user would.
#   tray_real_run.sh <skiffa executable> <demohost executable>
# SKIFFA_SCREENSHOTS=<folder> keeps a screenshot of every step there.
set -euo pipefail

for tool in Xvfb openbox trayer xdotool xwininfo xprop import; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (scripts/install-deps installs it)"
    exit 77
  fi
done
exe=$(realpath "$1")
demohost=$(realpath "$2")

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
# larger than its icon, and not a question or message.
menu_open() {
  local id
  for id in $(xdotool search --onlyvisible --classname '^skiffa$' 2>/dev/null); do
    [[ "$(xdotool getwindowname "$id")" != Varnex* ]] &&
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
# The icon is docked and shown in the tray: a click on it reaches it.
icon_shown() {
  local id
  id=$(xwininfo -root -tree | awk '/\("skiffa" "skiffa"\)/ {
      split($(NF-1), size, /[x+]/); if (size[1] <= 48 && size[2] <= 48) { print $1; exit } }')
  [ -n "$id" ] && xwininfo -id "$id" | grep -q 'Map State: IsViewable'
}
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
# A window's place on the screen, "x y".
place() { xwininfo -id "$1" | awk '/Absolute upper-left/ {printf "%s ", $NF}'; }
# The window is centred on the screen, give or take its frame.
is_centred() {
  local info
  info=$(xwininfo -id "$1")
  awk -v sw="$(xwininfo -root | awk '/Width:/ {print $NF}')" -v sh="$(xwininfo -root | awk '/Height:/ {print $NF}')" '
    /Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF} /Width:/ {w = $NF} /Height:/ {h = $NF}
    END { dx = x + w / 2 - sw / 2; dy = y + h / 2 - sh / 2; exit !(dx * dx < 900 && dy * dy < 900) }' <<<"$info"
}
# A question or message: a shown window captioned with the program's name.
box_window() { xdotool search --onlyvisible --name '^Varnex - Skiffa$' | head -1; }
# The box is above the main window in the window manager's stacking order
# and has the keyboard.
box_in_front() {
  local box main stack
  box=$(box_window) && main=$(main_window) || return 1
  [ "$(xdotool getactivewindow 2>/dev/null)" = "$box" ] || return 1
  local id
  stack=$(for id in $(xprop -root _NET_CLIENT_LIST_STACKING | tr -d ',' | cut -d'#' -f2); do echo $((id)); done)
  [ "$(grep -nx "$box" <<<"$stack" | cut -d: -f1)" -gt "$(grep -nx "$main" <<<"$stack" | cut -d: -f1)" ]
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
  skiffa_port=$port
  printf '[SERVER]\nPORT=%d\n[ALL]\nTRAY=%s\n%b' "$port" "$2" "${3:-}" >"$work/$1/korvo.ini"
  # In its own folder, where its trace goes.
  (cd "$work/$1" && exec ./skiffa >out.log 2>&1) &
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
# A start in the tray without a tray host: message 201 comes before the
# window is shown, in the middle of the screen; then the window is shown.
start_skiffa notray 1
wait_for "message 201 did not appear at a start in the tray" box_window
wait_for "message 201 is not in the middle of the screen" is_centred "$(box_window)"
shot 5-no-tray-host-at-start
xdotool key Return
wait_for "the window was not shown" main_window
window=$(main_window)
wait_for "the window was not drawn in front" is_ready "$window"
xdotool windowminimize "$window"
wait_for "message 201 did not appear" xdotool search --onlyvisible --name '^Varnex - Skiffa$'
shot 6-no-tray-host
xdotool key Return
wait_for "the window did not come back after message 201" main_window
xprop -id "$window" WM_STATE | grep -q 'window state: Normal' || fail "the window is not restored"
wait_for "the restored window was not drawn in front" is_ready "$window"
shot 7-restored

# The Exit button (at 92 %, 90 % of the window) asks; Yes is the default.
click_in "$window" 919 901
wait_for "the exit question did not appear" xdotool search --onlyvisible --name '^Varnex - Skiffa$'
shot 8-exit-question
xdotool key Return
expect_exit_0
echo "without a tray host: message 201 centred at start and on minimising, window restored, Exit button answered Yes: ok"

# --- a caller connected: the tray's exit question and the owned windows -------
start_tray
mkdir -p "$work/caller"
"$demohost" "$work/caller" 1 >"$work/caller/host.log" 2>&1 &
pids+=($!)
wait_for "the demo host did not link its line" test -L "$work/caller/com/COM1"
start_skiffa caller 0 '[COM1]\nNAME=COM1\nRING=0\nCONNECT=0\nDSR=0\n[DEBUG]\nENABLE=1\n'
wait_for "the window was not shown" main_window
window=$(main_window)
wait_for "the window was not drawn in front" is_ready "$window"
shown_at=$(place "$window")
# The host's modem set-up keeps the line busy for a moment: a caller turned
# away then calls again.
for _ in $(seq 30); do
  exec 5<>"/dev/tcp/127.0.0.1/$skiffa_port"
  for _ in $(seq 20); do grep -q 'DTR,ON' "$work/caller/debug.log" && break 2; sleep 0.1; done
  exec 5<&-
done
grep -q 'DTR,ON' "$work/caller/debug.log" || fail "the caller's line did not connect"
xdotool windowminimize "$window"
wait_for "minimising did not hide the window" no_main_window
# The tray menu's exit asks while a caller is connected; the window then
# comes back from the tray menu with its question in front, and where it was.
click_icon_until "the tray menu did not open" 3 menu_open
xdotool key x
wait_for "question 213 did not appear" box_window
click_icon_until "the tray menu did not open again" 3 menu_open
xdotool key r
wait_for "the window did not come back" main_window
wait_for "the question is not in front of the window and active" box_in_front
[ "$(place "$window")" = "$shown_at" ] || fail "the window came back at $(place "$window"), not at $shown_at"
shot 9-question-in-front
# A click on the blocked window's title bar, clear of the question, brings
# the question forward.
read -r x y <<<"$(place "$window")"
xdotool mousemove $((x + $(xwininfo -id "$window" | awk '/Width:/ {print $NF}') - 80)) $((y - 10)) click 1
wait_for "a click on the blocked window put the question behind it" box_in_front
# Minimising the question takes the window into the tray with it; the
# icon's first click brings both back, the question in front, every time.
for round in 1 2 3; do
  xdotool windowminimize "$(box_window)"
  wait_for "the window stayed shown with its question minimised" no_main_window
  wait_for "no tray icon with the question minimised" icon_shown
  shot 10-question-minimised
  click_icon 1
  wait_for "the first click on the icon did not bring the window back (round $round)" main_window
  wait_for "the question did not come back in front and active" box_in_front
done
shot 11-question-back
xdotool key Escape
wait_for "the question did not close on No" bash -c "! xdotool search --onlyvisible --name '^Varnex - Skiffa\$'"
echo "with a caller: question 213 from the tray in front, after a click on its window, minimised and back: ok"

# The display goes away: Skiffa ends and the line drops DTR all the same.
kill "${pids[0]}"
wait_for "Skiffa did not end when the display went away" bash -c "! kill -0 $skiffa_pid"
[ "$(grep -a '^[0-9:.]*,DTR,' "$work/caller/debug.log" | tail -1 | cut -d, -f3)" = OFF ] ||
  fail "the line kept DTR when the display went away"
echo "the display gone: Skiffa ended, DTR dropped: ok"
