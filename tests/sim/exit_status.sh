#!/bin/bash
# The simulator's answer to each bad input, inside the sandbox: the exit
# status scripts and CI rely on and a message that names the fault.
# Usage: exit_status.sh KORVAN-SIM BAD-APP-DIR NOT-A-PLUGIN.so [SANITIZER]
set -u
sim=$1 bad=$2 no_entry=$3 sanitize=${4:-}
dir=$(mktemp -d /tmp/kvn-sim-status.XXXXXX)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# check STATUS PATTERN ARGS...: the simulator's status and a line of its output.
check() {
    local want=$1 pattern=$2; shift 2
    timeout 60 ${KVN_EMULATOR:-} "$sim" --quiet --shots "$dir" "$@" >"$dir/log" 2>&1
    local got=$?
    if [ "$got" != "$want" ] || { [ -n "$pattern" ] && ! grep -q -- "$pattern" "$dir/log"; }; then
        fail "$* gave $got (wanted $want and \"$pattern\"):"; head -c 2000 "$dir/log"
    fi
}
script() { printf "$2" > "$dir/$1.kvs"; echo "$dir/$1.kvs"; }

check 0 '' --script "$(script holds 'file /tmp/marker hello\nexpect-file /tmp/marker hello\nexpect-trace ^focus BROWSER$\n')"
check 1 'line 2: expected /tmp/marker to hold "bye", it holds "hello"' \
    --script "$(script differs 'file /tmp/marker hello\nexpect-file /tmp/marker bye\n')"
# What a script or a file holds reaches the terminal shown, never acted on: the transcript and the
# messages escape every control byte.
${KVN_EMULATOR:-} "$sim" --shots "$dir" --script "$(script escapes 'file /tmp/marker \033]2;x\007\nexpect-file /tmp/marker bye\n')" >"$dir/log" 2>&1
got=$?
{ [ "$got" = 1 ] && grep -q '^\[1\] file /tmp/marker \\x1b]2;x\\x07$' "$dir/log" &&
    grep -q 'it holds "\\x1b]2;x\\x07"' "$dir/log" && ! grep -q $'[\e\a]' "$dir/log"; } ||
    { fail "control bytes: status $got"; cat -A "$dir/log" | grep -v '^  |'; }
check 1 'line 1: no trace line so far matches' --script "$(script notrace 'expect-trace ^run reboot\n')"
check 2 'is a folder, not a script file' --script "$dir"
check 2 'cannot read it' --script "$dir/missing.kvs"
check 2 'the screenshot folder /proc/1 is not a writable folder' --shots /proc/1 --script "$dir/holds.kvs"
# A script writes the player's own files and into the shots folder, never into a folder shared
# from the host (here the build tree, which the tests share writable).
build=$(cd "$(dirname "$sim")/.." && pwd)
check 3 "line 1: will not write $build/kvn-probe: a script writes only" --script "$(script intotree "file $build/kvn-probe x\n")"
[ ! -e "$build/kvn-probe" ] || { fail "a script wrote into the build tree"; rm -f "$build/kvn-probe"; }
# Neither a FIFO without a reader nor one without a writer is waited on.
mkfifo "$dir/fifo"
check 3 "line 1: cannot write $dir/fifo" --script "$(script tofifo "file $dir/fifo x\n")"
check 1 'it is no regular file' --script "$(script fromfifo "expect-file $dir/fifo x\n")"

# A 10 MB line is a malformed line, not echoed whole.
{ echo 'wait 1'; head -c 10000000 /dev/zero | tr '\0' a; echo; } > "$dir/long.kvs"
check 2 'line 2: longer than 4096 bytes' --script "$dir/long.kvs"
[ "$(stat -c %s "$dir/log")" -lt 2000 ] || fail "the long line was echoed"
# On standard input it is skipped; 200 MB of it take no more memory than
# the simulator's own (the address space is capped where no sanitizer
# needs its shadow memory, nor an emulator the guest's address space).
limit=unlimited
[ -z "$sanitize" ] && [ -z "${KVN_EMULATOR:-}" ] && limit=800000
{ echo 'file /tmp/marker hello'; head -c 200000000 /dev/zero | tr '\0' a; echo; echo 'expect-file /tmp/marker hello'; } |
    (ulimit -v "$limit"; ${KVN_EMULATOR:-} "$sim" --shots "$dir") > "$dir/log" 2>&1
got=$?
{ [ "$got" = 0 ] && grep -q 'line 2: longer than 4096 bytes: skipped' "$dir/log" && grep -q 'ok: /tmp/marker holds' "$dir/log"; } ||
    { fail "200 MB line on standard input gave $got"; tail -5 "$dir/log"; }

# Plug-ins that do not load or do not start: status 4, never a hang; a
# crash later, also in a thread the plug-in started: status 5.
printf 'not an ELF file\n' > "$dir/text.so"
check 4 "PHOTO_PLAYER ($dir/none.so): no such file" --app "PHOTO_PLAYER=$dir/none.so" --script "$dir/holds.kvs"
check 4 'cannot load it: ' --app "PHOTO_PLAYER=$dir/text.so" --script "$dir/holds.kvs"
check 4 'it has no entry point kvn_sim_app_main' --app "BROWSER=$no_entry" --script "$dir/holds.kvs"
check 4 "crashed with SIGSEGV while starting" --app "BROWSER=$bad/kvn_bad_app_crash.so" --script "$dir/holds.kvs"
check 4 'its entry point returned 7 before it registered a window' \
    --app "FLASH_LITE=$bad/kvn_bad_app_return.so" --script "$dir/holds.kvs"
check 5 'crashed with SIGSEGV in a thread of its own while running' \
    --app "PHOTO_PLAYER=$bad/kvn_bad_app_thread.so" --script "$dir/holds.kvs"
start=$(date +%s%N)
check 4 'it registered no window within 5 s' --app "TVMODE=$bad/kvn_bad_app_silent.so" --script "$dir/holds.kvs"
took=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$took" -ge 5000 ] && [ "$took" -lt 20000 ] || fail "the silent plug-in was given up after $took ms, not 5 s"

# Without the sandbox's fakes the power key could reach real programs.
mv /run/kvn-fakes/calls.log /run/kvn-fakes/calls.log.away
check 125 'refusing to run' --script "$dir/holds.kvs"
mv /run/kvn-fakes/calls.log.away /run/kvn-fakes/calls.log
rm -rf "$dir"
exit $failures
