#!/bin/bash
# The live window under Xvfb, driven as a developer would: keys pressed with
# xdotool, the window captured with ImageMagick's import and compared with
# the simulator's own shot of the same moment (the menu after the TV key,
# the dark screen after the power key); closed by the window manager's close
# message or destroyed, it stops in order; the recorded session replays
# with --script.
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

"$sim" --window --shots "$out" --trace "$out/live.trace" --record "$out/session.kvs" \
    < /dev/null > "$out/sim.log" 2>&1 &
sim_pid=$!
window=$(timeout 20 xdotool search --sync --name '^korvan-sim' | head -n1) || fail "no window within 20 s"
xdotool windowfocus --sync "$window"

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

sleep 1
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
status=0
timeout 5 tail --pid="$sim_pid" -f /dev/null || fail "still running 5 s after the window was closed"
wait "$sim_pid" || status=$?
sim_pid=
[ "$status" = 0 ] || { cat "$out/sim.log"; fail "exit status $status after the window was closed"; }
grep -q '^run power_led -standby 0 -poweron 1$' "$out/live.trace" || fail "not woken before the end"

# Destroyed instead of closed (some window managers, xdotool windowclose)
# with the menu open: the same orderly end, the menu taken down.
"$sim" --window --shots "$out" --trace "$out/destroyed.trace" < /dev/null > "$out/destroyed.log" 2>&1 &
sim_pid=$!
window=$(timeout 20 xdotool search --sync --name '^korvan-sim' | head -n1) || fail "no second window within 20 s"
xdotool windowfocus --sync "$window"
sleep 1
xdotool key t
sleep 1
xdotool windowclose "$window"
timeout 5 tail --pid="$sim_pid" -f /dev/null || fail "still running 5 s after the window was destroyed"
status=0
wait "$sim_pid" || status=$?
sim_pid=
[ "$status" = 0 ] || { cat "$out/destroyed.log"; fail "exit status $status after the window was destroyed"; }
grep -q 'cmd=9 flags=32770 mode=1 ' "$out/destroyed.trace" || fail "the menu was not taken down"

# The recorded session replays the same road.
grep -q '^key TV$' "$out/session.kvs" && grep -q '^shot window-002$' "$out/session.kvs" \
    || fail "the record misses keys: $(cat "$out/session.kvs")"
sed -i 's/^shot window-/shot replay-/' "$out/session.kvs"
"$sim" --no-window --quiet --script "$out/session.kvs" --shots "$out" --trace "$out/replay.trace" \
    --time-divisor 5 || fail "the recorded session does not replay"
# Each kind in its own order: the watcher picks programs and focus up on
# its own beat, so lines of different kinds may interleave either way.
for kind in smpoutd 'run power_led' focus; do
    diff <(grep "^$kind" "$out/live.trace") <(grep "^$kind" "$out/replay.trace") \
        || fail "the replay took another road ($kind)"
done
echo "live window: all passed"
