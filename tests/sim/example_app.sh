#!/bin/bash
# The example application run by the simulator with --app, inside the
# sandbox: as the photo player its own keys move and open its tiles (seen
# in the screen's pixels), the TV key shows "Not allowed" (for its time at
# the time divisor), the power key goes to the flash player's standby and
# the wake-up hands the keys back; as the browser the TV key opens the menu,
# which a quit leaves at once.  With the demo photo player at the player's
# own timing, the notice goes with the picture at the standby.
# Usage: example_app.sh KORVAN-SIM SIM_APP.so
set -u
sim=$1 app=$2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
dir=$(mktemp -d /tmp/kvn-sim-app.XXXXXX)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Under an emulator the player's work takes longer than a tenth of its waits.
divisor=10
[ -n "${KVN_EMULATOR:-}" ] && divisor=2
${KVN_EMULATOR:-} "$sim" --quiet --app "PHOTO_PLAYER=$app" --script "$source_dir/examples/sim_app.kvs" --shots "$dir" \
    --time-divisor $divisor || fail "the example script failed"
# pixel SHOT X Y COLOUR: the screen's colour at one point (RRGGBB).
pixel() {
    local got
    got=$(convert "$dir/$1.png" -format "%[hex:p{$2,$3}]" info: 2>&1)
    [ "$got" = "$4" ] || fail "$1 at $2,$3 is $got, not $4"
}
pixel app-framed 655 540 FFFFFF     # the frame around the third tile of the second row
pixel app-framed 780 540 E07020     # that tile
pixel app-framed 95 300 202020      # no frame around the first tile any more
pixel app-opened 100 600 E07020     # the framed tile full screen
pixel app-standby 640 480 000000    # the picture off, the notice gone
pixel app-after-wake 375 600 FFFFFF # the frame one tile further left
pixel app-after-wake 500 300 30A040 # where the notice was: its 3 s are 0.3 s here

printf 'wait 300\nfocus PHOTO_PLAYER\nwait 300\nkey TV\nwait 100\nkey POWER\nwait 1200\nshot notice-standby\nkey POWER\nwait 1000\nshot notice-awake\nwait 2000\n' >"$dir/notice.kvs"
${KVN_EMULATOR:-} "$sim" --quiet --script "$dir/notice.kvs" --shots "$dir" || fail "the notice script failed"
pixel notice-standby 640 480 000000
[ "$(convert "$dir/notice-awake.png" -format '%[hex:p{640,480}]' info:)" != 101840 ] || fail "the notice came back"

printf 'wait 300\nkey TV\nwait 500\nexpect-trace ^osd owner=0 .*cmd=9 .*-set=24\nquit\n' > "$dir/browser.kvs"
start=$(date +%s%N)
${KVN_EMULATOR:-} "$sim" --quiet --app "BROWSER=$app" --script "$dir/browser.kvs" --shots "$dir" --trace "$dir/browser.trace" ||
    fail "as the browser the TV key did not open the menu"
took=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$took" -lt 4000 ] || fail "leaving the open menu took $took ms"
grep -q 'cmd=9 flags=32770 mode=1 ' "$dir/browser.trace" || fail "the menu's pages were not taken down"
rm -rf "$dir"
exit $failures
