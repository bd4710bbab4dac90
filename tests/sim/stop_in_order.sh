#!/bin/bash
# Stopping while the player is busy, inside the sandbox: SIGINT with the
# menu open, SIGTERM in standby, and a quit during the countdown, all at
# the player's real timing.  Each ends within 2 s, in order: the pages or
# the countdown taken down (the old mode back), the standby woken.
# Usage: stop_in_order.sh KORVAN-SIM [SANITIZER]
set -u
sim=$1
# A sanitizer's instrumentation, or an emulator, slows the clean-up: give it three times.
limit=2000
[ -n "${2:-}${KVN_EMULATOR:-}" ] && limit=6000
dir=$(mktemp -d /tmp/kvn-sim-stop.XXXXXX)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# run NAME SCRIPT-TEXT READY-PATTERN SIGNAL STATUS [SCRIPT-MS]: starts the
# script, waits for READY-PATTERN in the trace, sends SIGNAL (none: the
# script quits itself, SCRIPT-MS after it) and checks the status and that
# the stop took less than 2 s.
run() {
    local name=$1 text=$2 ready=$3 sig=$4 want=$5
    printf "$text" > "$dir/$name.kvs"
    ${KVN_EMULATOR:-} "$sim" --script "$dir/$name.kvs" --shots "$dir" --trace "$dir/$name.trace" > "$dir/$name.log" 2>&1 &
    local pid=$! i
    for i in $(seq 300); do grep -qE "$ready" "$dir/$name.trace" 2>/dev/null && break; sleep 0.05; done
    grep -qE "$ready" "$dir/$name.trace" || fail "$name: never saw \"$ready\""
    local start
    start=$(now_ms)
    [ "$sig" != none ] && kill -"$sig" "$pid"
    wait "$pid"
    local got=$? took=$(( $(now_ms) - start ))
    [ "$got" = "$want" ] || { fail "$name: exit status $got, wanted $want"; tail -5 "$dir/$name.log"; }
    [ "$took" -lt $((limit + ${6:-0})) ] || fail "$name: the stop took $took ms"
}
# after NAME FIRST SECOND: the trace has a line matching SECOND after one matching FIRST.
after() {
    awk -v a="$2" -v b="$3" '$0 ~ a { seen = 1 } seen && $0 ~ b { found = 1 } END { exit !found }' "$dir/$1.trace" ||
        fail "$1: no \"$3\" after \"$2\""
}

run menu 'key TV\nwait 60000\n' 'cmd=9 .*-set=24' INT 130
after menu 'cmd=9 .*-set=24' 'cmd=9 flags=32770 mode=1 '
after menu 'cmd=9 flags=32770 mode=1 ' 'osd owner=0 .*cmd=-2 '

run standby 'key POWER\nwait 60000\n' '^run power_led -standby 1 -poweron 0$' TERM 143
after standby '^run power_led -standby 1' '^run power_led -standby 0 -poweron 1$'
after standby '^smpoutd code=28' '^smpoutd code=0$'

# A quit one second into the countdown: the fallback, Auto, at once.
run countdown 'key TV\nwait 300\nkey CURSOR_RIGHT\nwait 300\nkey RETURN\nwait 300\nkey RETURN\nwait 300\nkey RETURN\nwait 1000\nquit\n' \
    'cmd=42 flags=32768 mode=0 ' none 0 1000
after countdown '^smpoutd code=6$' 'cmd=42 flags=32768 mode=1 '
after countdown 'cmd=42 flags=32768 mode=1 ' '^smpoutd code=0$'
rm -rf "$dir"
exit $failures
