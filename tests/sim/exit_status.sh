#!/bin/bash
# The simulator's exit statuses, which CI and scripts rely on: 2 for a
# malformed script (naming the line), 1 for a failed expectation, 0 for a
# script whose expectations all hold, 125 when it is not in a sandbox.
set -u
sim=$1
dir=$(mktemp -d /tmp/kvn-sim-status.XXXXXX)
failures=0
check() {
    local want=$1 pattern=$2; shift 2
    "$@" >"$dir/log" 2>&1
    local got=$?
    if [ "$got" != "$want" ] || { [ -n "$pattern" ] && ! grep -q -- "$pattern" "$dir/log"; }; then
        echo "FAIL: $* gave $got (wanted $want and \"$pattern\"):"; cat "$dir/log"
        failures=$((failures + 1))
    fi
}
printf 'wait 1\n# fine so far\nkey TV RETURN\n' > "$dir/malformed.kvs"
check 2 'line 3: key takes one key name' "$sim" --quiet --script "$dir/malformed.kvs" --shots "$dir"
printf 'file /tmp/marker hello\nexpect-file /tmp/marker hello\nexpect-trace ^focus BROWSER$\n' > "$dir/holds.kvs"
check 0 '' "$sim" --quiet --script "$dir/holds.kvs" --shots "$dir"
printf 'file /tmp/marker hello\nexpect-file /tmp/marker bye\n' > "$dir/differs.kvs"
check 1 'line 2: expected /tmp/marker to hold "bye", it holds "hello"' "$sim" --quiet --script "$dir/differs.kvs" --shots "$dir"
printf 'expect-trace ^run reboot\n' > "$dir/notrace.kvs"
check 1 'line 1: no trace line so far matches' "$sim" --quiet --script "$dir/notrace.kvs" --shots "$dir"
# Without the sandbox's fakes the power key could reach real programs.
mv /run/kvn-fakes/calls.log /run/kvn-fakes/calls.log.away
check 125 'refusing to run' "$sim" --quiet --script "$dir/holds.kvs" --shots "$dir"
mv /run/kvn-fakes/calls.log.away /run/kvn-fakes/calls.log
exit $failures
