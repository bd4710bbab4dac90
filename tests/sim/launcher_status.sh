#!/bin/bash
# korvan-sim started by hand, outside the sandbox: what it refuses before it
# starts anything, each with its status and message, and the sandbox's
# own refusal passed on.  Nothing here reaches a player: every case stops
# before the sandbox, or at a stand-in sandbox that only refuses.
# Usage: launcher_status.sh KORVAN-SIM VERSION
set -u
sim=$1 version=$2
dir=$(mktemp -d /tmp/kvn-sim-launch.XXXXXX)
failures=0
check() {
    local want=$1 pattern=$2; shift 2
    env -u KVN_IN_SANDBOX -u DISPLAY -u WAYLAND_DISPLAY timeout 30 ${KVN_EMULATOR:-} "$@" >"$dir/log" 2>&1
    local got=$?
    if [ "$got" != "$want" ] || ! grep -q -- "$pattern" "$dir/log"; then
        echo "FAIL: $* gave $got (wanted $want and \"$pattern\"):"; cat "$dir/log"
        failures=$((failures + 1))
    fi
}
printf 'wait 1\n' > "$dir/ok.kvs"
: > "$dir/file"
check 2 'the screenshot folder /proc/1/none cannot be made' "$sim" --shots /proc/1/none --script "$dir/ok.kvs"
check 2 "the screenshot folder $dir/file is not a folder" "$sim" --shots "$dir/file" --script "$dir/ok.kvs"
check 2 "--trace $dir is a folder, not a file" "$sim" --trace "$dir" --shots "$dir" --script "$dir/ok.kvs"
check 2 'the folder of --trace /none/t.trace does not exist' "$sim" --trace /none/t.trace --shots "$dir" --script "$dir/ok.kvs"
check 2 "$dir: is a folder, not a script file" "$sim" --script "$dir" --shots "$dir"
check 2 'line 1: wait takes at most' "$sim" --script <(echo 'wait 99999999999') --shots "$dir"
check 2 '--record writes the keys pressed in the live window' "$sim" --record "$dir/r.kvs" --script "$dir/ok.kvs" --shots "$dir"
check 2 "--record runs the window at the player's own timing" "$sim" --window --record "$dir/r.kvs" --time-divisor 5
mkfifo "$dir/fifo"
check 2 "cannot write $dir/fifo: it is a FIFO that no process reads" "$sim" --window --record "$dir/fifo" --shots "$dir"
check 2 '--app needs NAME=PATH' "$sim" --app NOBODY=x.so --script "$dir/ok.kvs"
check 2 '--app BROWSER is given twice' "$sim" --app BROWSER=a.so --app BROWSER=b.so
check 2 '--time-divisor needs a number from 1 to 1000' "$sim" --time-divisor 0
check 2 'an IPv4 address and a port from 0 to 65535: "example.org:70000"' "$sim" --web example.org:70000
check 0 "^korvan-sim $version (libkorvan_framework_lib $version)\$" "$sim" --version
check 4 '--app /none/x.so: no such file' "$sim" --app PHOTO_PLAYER=/none/x.so --script "$dir/ok.kvs" --shots "$dir"
check 125 'will not share the system folder /tmp ' "$sim" --shots /tmp --script "$dir/ok.kvs"
check 125 'will not share the system folder /usr/lib ' "$sim" --app PHOTO_PLAYER=/usr/lib/os-release --script "$dir/ok.kvs" --shots "$dir"
# A sandbox that refuses (as the real one does for a system folder): its
# status and message reach the user with the folders it was asked to share.
mkdir "$dir/bin"
cp "$sim" "$dir/bin/korvan-sim"
printf '#!/bin/sh\n[ "$1" = --check-folder ] && exit 0\necho "kvn-sandbox: will not share that" >&2\nexit 125\n' > "$dir/bin/kvn-sandbox"
chmod +x "$dir/bin/kvn-sandbox"
check 125 "Folders it was asked to share: $dir" "$dir/bin/korvan-sim" --script "$dir/ok.kvs" --shots "$dir"
grep -q 'kvn-sandbox: will not share that' "$dir/log" || { echo "FAIL: the sandbox's own reason is lost"; failures=$((failures + 1)); }
# Held before the sandbox starts (a script FIFO whose writer has not
# finished): the first SIGTERM ends it at once.
exec 7<>"$dir/fifo"
env -u KVN_IN_SANDBOX -u DISPLAY -u WAYLAND_DISPLAY ${KVN_EMULATOR:-} "$sim" --script "$dir/fifo" --shots "$dir" >"$dir/log" 2>&1 &
pid=$!
sleep 0.5
[ -z "${KVN_EMULATOR:-}" ] || sleep 1  # an emulated start alone takes a third of a second
kill -TERM "$pid"
timeout 2 tail --pid="$pid" -f /dev/null || { echo "FAIL: running 2 s after SIGTERM"; failures=$((failures + 1)); kill -KILL "$pid"; }
wait "$pid"
got=$?
exec 7>&-
[ "$got" = 143 ] || { echo "FAIL: SIGTERM before the sandbox gave $got"; cat "$dir/log"; failures=$((failures + 1)); }
rm -rf "$dir"
exit $failures
