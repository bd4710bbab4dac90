#!/bin/bash
# The live window under Xvfb, driven as a developer would: keys pressed with
# xdotool, the window captured with ImageMagick's import and compared with
# the simulator's own shot of the same moment (the menu after the TV key,
# the dark screen after the power key); closed by the window manager's close
# message or destroyed, it stops in order.  (A recording's replay is the
# browser test's: both record through the same recorder.)
# Usage: live_window.sh KORVAN-SIM OUT-DIR
set -euo pipefail
sim=$1
out=$2
rm -rf "$out" && mkdir -p "$out"
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "live window: $*" >&2; exit 1; }
for tool in Xvfb xdotool import compare convert cc; do
    command -v "$tool" >/dev/null || fail "$tool is missing (xvfb, xdotool, imagemagick, build-essential)"
done
cc -O1 -o "$out/wm_close" "$here/wm_close.c" -lX11

exec 9> "$out/display"
Xvfb -displayfd 9 -screen 0 1600x900x24 -nolisten tcp > "$out/xvfb.log" 2>&1 &
xvfb=$!
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    kill "$xvfb" 2>/dev/null
    wait 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do [ -s "$out/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n1 "$out/display")

# start NAME: korvan-sim's window, focused; ended NAME LINE: it ends within 5 s with status 0, the
# trace holding LINE.
start() {
    "$sim" --window --shots "$out" --trace "$out/$1.trace" < /dev/null > "$out/$1.log" 2>&1 &
    sim_pid=$!
    window=$(timeout 20 xdotool search --sync --name '^korvan-sim' | head -n1) || fail "$1: no window within 20 s"
    xdotool windowfocus --sync "$window"
    sleep 1
}
ended() {
    local status=0
    timeout 5 tail --pid="$sim_pid" -f /dev/null || fail "$1: still running 5 s after its window went"
    wait "$sim_pid" || status=$?
    sim_pid=
    [ "$status" = 0 ] || { cat "$out/$1.log"; fail "$1: exit status $status after its window went"; }
    grep -q -- "$2" "$out/$1.trace" || fail "$1: no \"$2\" in the trace"
}
wait_for() {  # file, seconds
    for _ in $(seq $(( $2 * 10 ))); do [ -s "$1" ] && return 0; sleep 0.1; done
    fail "$1 did not appear"
}
# The same moment twice: the window as the desktop shows it, then the
# simulator's own screenshot (F12), with nothing pressed in between.
capture() {  # name, shot number
    import -window "$window" "$out/$1-window.png"
    xdotool key F12
    wait_for "$out/window-$2.png" 10
    local differ
    differ=$(compare -metric AE -fuzz 3% "$out/$1-window.png" "$out/window-$2.png" null: 2>&1 || true)
    [ "$differ" = 0 ] || fail "$1: the window differs from the simulator's shot in $differ pixels"
}
brightness() { convert "$1" -colorspace Gray -format '%[fx:int(100*mean)]' info:; }

start closed
import -window "$window" "$out/start-window.png"
xdotool key t
sleep 1
capture menu 001
opened=$(compare -metric AE -fuzz 3% "$out/start-window.png" "$out/menu-window.png" null: 2>&1 || true)
[ "$opened" -gt 10000 ] || fail "the TV key changed only $opened pixels: no menu"
xdotool key x
sleep 0.5
xdotool key p
sleep 3
capture standby 002
[ "$(brightness "$out/standby-window.png")" -lt 5 ] || fail "the screen is not dark in standby"
# Closed in standby: the player is woken and cleaned up, then it ends.
"$out/wm_close" "$window"
ended closed '^run power_led -standby 0 -poweron 1$'
# Destroyed instead of closed (some window managers, xdotool windowclose)
# with the menu open: the same orderly end, the menu taken down.
start destroyed
xdotool key t
sleep 1
xdotool windowclose "$window"
ended destroyed 'cmd=9 flags=32770 mode=1 '
echo "live window: all passed"
