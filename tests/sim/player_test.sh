#!/bin/bash
# The player in the sandbox, a row per case: each fault of a script or a plug-in gives the status
# scripts and CI rely on and a message naming it; a signal or a quit while it is busy stops it
# within 2 s, in order; the example plug-in as the browser.
# Usage: player_test.sh KORVAN-SIM BAD-APP-DIR NOT-A-PLUGIN.so SIM_APP.so [SANITIZER]
set -u
sim=$1 bad=$2 no_entry=$3 app=$4 sanitize=${5:-}
d=$(mktemp -d /tmp/kvn-sim-player.XXXXXX)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
kvs() { printf "$2" > "$d/$1.kvs"; echo "$d/$1.kvs"; }  # NAME TEXT: a script file
# check STATUS PATTERN ARGS...: the simulator's status and a line of its output.
check() {
    local want=$1 pattern=$2; shift 2
    timeout 60 ${KVN_EMULATOR:-} "$sim" --shots "$d" "$@" >"$d/log" 2>&1
    local got=$?
    if [ "$got" != "$want" ] || { [ -n "$pattern" ] && ! grep -q -- "$pattern" "$d/log"; }; then
        fail "$* gave $got (wanted $want and \"$pattern\"):"; head -c 2000 "$d/log"
    fi
}
check 0 '' --script "$(kvs holds 'file /tmp/marker hello\nexpect-file /tmp/marker hello\nexpect-trace ^focus BROWSER$\n')"
check 1 'line 2: expected /tmp/marker to hold "bye", it holds "hello"' \
    --script "$(kvs differs 'file /tmp/marker hello\nexpect-file /tmp/marker bye\n')"
check 1 'line 1: no trace line so far matches' --script "$(kvs notrace 'expect-trace ^run reboot\n')"
check 2 'is a folder, not a script file' --script "$d"
# A script writes the player's own files and the shots, never a folder shared from the host (here
# the build tree, which the tests share writable); no FIFO, without a reader or a writer, is waited on.
build=$(cd "$(dirname "$sim")/.." && pwd)
check 3 "line 1: will not write $build/kvn-probe: a script writes only" --script "$(kvs tree "file $build/kvn-probe x\n")"
[ ! -e "$build/kvn-probe" ] || { fail "a script wrote into the build tree"; rm -f "$build/kvn-probe"; }
mkfifo "$d/fifo"
check 3 "line 1: cannot write $d/fifo" --script "$(kvs tofifo "file $d/fifo x\n")"
check 1 'it is no regular file' --script "$(kvs fromfifo "expect-file $d/fifo x\n")"
# What a script or a file holds reaches the terminal escaped, never acted on.
check 1 'it holds "\\x1b]2;x\\x07"' --script "$(kvs escapes 'file /tmp/marker \033]2;x\007\nexpect-file /tmp/marker bye\n')"
grep -q '^\[1\] file /tmp/marker \\x1b]2;x\\x07$' "$d/log" || fail "the transcript's line is not escaped"
grep -q $'[\e\a]' "$d/log" && fail "a control byte reached the terminal"
# 200 MB of a line on standard input are skipped in no more memory than the simulator's own
# (capped where no sanitizer needs its shadow memory, nor an emulator the guest's address space).
limit=unlimited
[ -z "$sanitize" ] && [ -z "${KVN_EMULATOR:-}" ] && limit=800000
{ echo 'file /tmp/marker hello'; head -c 200000000 /dev/zero | tr '\0' a; echo; echo 'expect-file /tmp/marker bye'; } |
    (failures=0; ulimit -v "$limit"; check 1 'line 2: longer than 4096 bytes: skipped'; exit $failures) || fail "(stdin)"
[ "$(stat -c %s "$d/log")" -lt 2000 ] || fail "the long line was echoed"
# Plug-ins that do not load or do not start: status 4, never a hang; a crash later, also in a
# thread the plug-in started: 5.  Without the sandbox's fakes the power key could reach real programs.
printf 'not an ELF file\n' > "$d/text.so"
check 4 'cannot load it: ' --app "PHOTO_PLAYER=$d/text.so" --script "$d/holds.kvs"
check 4 'it has no entry point kvn_sim_app_main' --app "BROWSER=$no_entry" --script "$d/holds.kvs"
check 4 "crashed with SIGSEGV while starting" --app "BROWSER=$bad/kvn_bad_app_crash.so" --script "$d/holds.kvs"
check 4 'its entry point returned 7 before' --app "FLASH_LITE=$bad/kvn_bad_app_return.so" --script "$d/holds.kvs"
check 5 'SIGSEGV in a thread of its own while running' --app "PHOTO_PLAYER=$bad/kvn_bad_app_thread.so" --script "$d/holds.kvs"
start=$(date +%s%N)
check 4 'it registered no window within 5 s' --app "TVMODE=$bad/kvn_bad_app_silent.so" --script "$d/holds.kvs"
took=$((($(date +%s%N) - start) / 1000000))
[ "$took" -ge 5000 ] && [ "$took" -lt 20000 ] || fail "the silent plug-in was given up after $took ms, not 5 s"
mv /run/kvn-fakes/calls.log /run/kvn-fakes/calls.log.away
check 125 'refusing to run' --script "$d/holds.kvs"
mv /run/kvn-fakes/calls.log.away /run/kvn-fakes/calls.log

# stop NAME SCRIPT READY SIGNAL STATUS LINES...: the script runs at the player's own timing (with
# $with as --app) until READY is in its trace; SIGNAL (none: it quits itself a second later) ends it
# within 2 s (a sanitizer or an emulator: 6 s) with STATUS, its trace holding LINES in this order.
stop() {
    local name=$1 ready=$3 sig=$4 want=$5 pid got took limit=2000
    [ -n "$sanitize${KVN_EMULATOR:-}" ] && limit=6000
    [ "$sig" = none ] && limit=$((limit + 1000))
    ${KVN_EMULATOR:-} "$sim" ${with:+--app "$with"} --script "$(kvs "$name" "$2")" --shots "$d" \
        --trace "$d/$name.trace" > "$d/$name.log" 2>&1 &
    pid=$!
    for _ in $(seq 300); do grep -qE "$ready" "$d/$name.trace" 2>/dev/null && break; sleep 0.05; done
    start=$(date +%s%N)
    [ "$sig" = none ] || kill -"$sig" "$pid"
    wait "$pid"
    got=$? took=$((($(date +%s%N) - start) / 1000000))
    [ "$got" = "$want" ] || { fail "$name: status $got, wanted $want"; tail -5 "$d/$name.log"; }
    [ "$took" -lt "$limit" ] || fail "$name: the stop took $took ms"
    printf '%s\n' "${@:6}" > "$d/order"
    awk 'NR == FNR { line[n++] = $0; next } i < n && $0 ~ line[i + 0] { i++ } END { exit i < n }' \
        "$d/order" "$d/$name.trace" || fail "$name: not in the order of $(cat "$d/order")"
}
with=
stop menu 'key TV\nwait 60000\n' 'cmd=9 .*-set=24' INT 130 'cmd=9 .*-set=24' 'cmd=9 flags=32770 mode=1 ' 'osd owner=0 .*cmd=-2 '
# The programs the player runs are in the trace where they ran, between what the stand-ins saw.
stop standby 'key POWER\nwait 60000\n' '^run power_led -standby 1 -poweron 0$' TERM 143 \
    '^smpoutd code=28' '^run power_led -standby 1 -poweron 0$' '^scsvr global_on_off 0$' \
    '^run sdparm -C stop /dev/cdrom$' '^scsvr global_on_off 1$' '^run power_led -standby 0 -poweron 1$' \
    '^smpoutd code=0$'
# The example plug-in as the browser: the TV key opens the menu, which a quit takes down.
with="BROWSER=$app" stop browser 'wait 300\nkey TV\nwait 500\nquit\n' '^osd owner=0 .*cmd=9 .*-set=24' none 0 \
    'cmd=9 .*-set=24' 'cmd=9 flags=32770 mode=1 '
rm -rf "$d"
exit $failures
