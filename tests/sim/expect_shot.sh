#!/bin/bash
# expect-shot against pictures stored by --update-shots: the same screens pass; a screen with
# another digit fails with status 6 after every line ran, leaving the screen and a diff whose marked
# pixels are that digit's; a tolerance above them passes it; a missing picture fails too.
# Usage: expect_shot.sh KORVAN-SIM
set -u
sim=$1
dir=$(mktemp -d /tmp/kvn-sim-shot.XXXXXX)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
divisor=10
[ -n "${KVN_EMULATOR:-}" ] && divisor=2
run() {  # expected status, script text, arguments...
    printf "$2" > "$dir/digit.kvs"
    mkdir -p "$dir/shots"
    ${KVN_EMULATOR:-} "$sim" --quiet --script "$dir/digit.kvs" --shots "$dir/shots" --time-divisor $divisor "${@:3}" > "$dir/log" 2>&1
    local got=$?
    [ "$got" = "$1" ] || { fail "status $got, not $1, for: $2 ${*:3}"; cat "$dir/log"; }
}
run 0 'wait 300\nexpect-shot start\nkey 1\nwait 300\nexpect-shot one\n' --update-shots
[ -s "$dir/digit/start.png" ] && [ -s "$dir/digit/one.png" ] || fail "--update-shots stored no pictures"
run 0 'wait 300\nexpect-shot start\nkey 1\nwait 300\nexpect-shot one\n'
rm -rf "$dir/shots"
run 6 'wait 300\nkey 2\nwait 300\nexpect-shot one\nshot after\n'
grep -q 'line 4: the screen one differs: [0-9]* of 921600 pixels differ' "$dir/log" || fail "no mismatch message: $(cat "$dir/log")"
[ -s "$dir/shots/after.png" ] && [ -s "$dir/shots/one.png" ] || fail "the script stopped at the mismatch, or left no screen"
marked=$(convert "$dir/shots/one-diff.png" -fill black +opaque '#FF00FF' -fill white -opaque '#FF00FF' \
    -format '%[fx:int(mean*w*h+0.5)]' info: 2>&1)
[ "$marked" -ge 20 ] && [ "$marked" -le 400 ] || fail "the diff marks $marked pixels, not the digit's 20 to 400"
[ "$(convert "$dir/shots/one-diff.png" -format '%[hex:p{640,700}]' info:)" = 081018 ] ||
    fail "the diff's unchanged pixels are not the stored ones darkened"
run 0 'wait 300\nkey 2\nwait 300\nexpect-shot one 0.1%%\n'
run 6 'wait 300\nexpect-shot never-stored\n'
grep -q 'no stored picture' "$dir/log" || fail "a missing picture not named: $(cat "$dir/log")"
run 2 'expect-shot one 101%%\n'
rm -rf "$dir"
exit $failures
