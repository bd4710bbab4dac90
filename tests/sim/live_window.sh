#!/bin/bash
# The live window under Xvfb, driven as a developer would (keys pressed with xdotool): the TV key
# opens the menu, and destroyed from outside (xdotool windowclose, some window managers) with the
# menu open, it stops as a close does, in order, the menu taken down.  (What the screen shows and a
# recording's replay are the browser test's: the same frames, the same recorder.)
# Usage: live_window.sh KORVAN-SIM OUT-DIR
set -euo pipefail
sim=$1 out=$2
rm -rf "$out" && mkdir -p "$out"
fail() { echo "live window: $*" >&2; exit 1; }
for tool in Xvfb xdotool import compare; do
    command -v "$tool" >/dev/null || fail "$tool is missing (xvfb, xdotool, imagemagick)"
done
exec 9> "$out/display"
Xvfb -displayfd 9 -screen 0 1600x900x24 -nolisten tcp > "$out/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill "$xvfb" ${sim_pid:-} 2>/dev/null; wait 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s "$out/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n1 "$out/display")

"$sim" --window --shots "$out" --trace "$out/live.trace" < /dev/null > "$out/live.log" 2>&1 &
sim_pid=$!
window=$(timeout 20 xdotool search --sync --name '^korvan-sim' | head -n1) || fail "no window within 20 s"
xdotool windowfocus --sync "$window"
sleep 1
import -window "$window" "$out/start.png"
xdotool key t
sleep 1
import -window "$window" "$out/menu.png"
opened=$(compare -metric AE -fuzz 3% "$out/start.png" "$out/menu.png" null: 2>&1 || true)
[ "$opened" -gt 10000 ] || fail "the TV key changed only $opened pixels: no menu"
xdotool windowclose "$window"
timeout 5 tail --pid="$sim_pid" -f /dev/null || fail "still running 5 s after its window went"
status=0
wait "$sim_pid" || status=$?
[ "$status" = 0 ] || { cat "$out/live.log"; fail "exit status $status after its window went"; }
grep -q 'cmd=9 flags=32770 mode=1 ' "$out/live.trace" || fail "the menu was not taken down"
echo "live window: all passed"
