#!/bin/bash
# korvan-sim started by hand: what it refuses before the sandbox (each kind of malformed script line
# too) with its status and message, and the sandbox's own refusal passed on (no player runs until
# then); then what a plug-in cannot change from inside, and Ctrl-C at a terminal.
# Usage: launcher_test.sh KORVAN-SIM VERSION BAD-APP-THAT-RETURNS
set -u
sim=$1 version=$2 bad_app=$3
dir=$(mktemp -d /tmp/kvn-sim-launch.XXXXXX)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {
    local want=$1 pattern=$2; shift 2
    env -u KVN_IN_SANDBOX -u DISPLAY -u WAYLAND_DISPLAY timeout 30 ${KVN_EMULATOR:-} "$@" >"$dir/log" 2>&1
    local got=$?
    [ "$got" = "$want" ] && grep -q -- "$pattern" "$dir/log" || { fail "$* gave $got (wanted $want and \"$pattern\"):"; cat "$dir/log"; }
}
printf 'wait 1\n' > "$dir/ok.kvs"
check 2 "the screenshot folder $dir/ok.kvs is not a folder" "$sim" --shots "$dir/ok.kvs" --script "$dir/ok.kvs"
check 2 'the folder of --trace /none/t.trace does not exist' "$sim" --trace /none/t.trace --shots "$dir" --script "$dir/ok.kvs"
# Every command, comment and blank line parses (line 17 is the first it refuses); each malformed
# line is named with its fault.
printf '%s\n' 'key CURSOR_DOWN' 'key TV # opens the menu' 'key DIKS_POWER' 'key 0xF072' 'key 1' '  wait 2500  ' \
    'wait 3600000' 'shot 01-menu' 'pipe tv=#1 save' 'file /tmp/x 1 2' 'focus FLASH_LITE' 'expect-file /tmp/x' \
    'expect-trace ^smpoutd code=6$' $'quit\r' '' $'   \t #key POWER' 'key BOGUS' > "$dir/all.kvs"
check 2 "line 17: .*BOGUS" "$sim" --script "$dir/all.kvs" --shots "$dir"
while IFS='|' read -r line said; do
    check 2 "line 1: .*$said" "$sim" --script <(printf '%s\n' "$line") --shots "$dir"
done <<'ROWS'
key|key name
key 0x1FFFF|
key TV RETURN|key takes one key name
press TV|press
wait 3600001|at most 3600000
shot ../escape|
file relative/path x|
focus NOBODY|
expect-trace ([unclosed|
ROWS
check 2 'line 1: a NUL byte at byte 7' "$sim" --script <(printf 'wait 5\0junk\n') --shots "$dir"
mkfifo "$dir/fifo"
check 2 "cannot write $dir/fifo: it is a FIFO that no process reads" "$sim" --window --record "$dir/fifo" --shots "$dir"
# The record and the trace are the caller's own files: never written through a link, nor into a
# file with another name.
echo precious > "$dir/victim"
ln -s victim "$dir/link" && ln "$dir/victim" "$dir/second"
check 2 "--record: cannot write $dir/link: it is a symbolic link" "$sim" --window --record "$dir/link" --shots "$dir"
check 2 "--trace: cannot write $dir/second: it has another name" "$sim" --trace "$dir/second" --shots "$dir" --script "$dir/ok.kvs"
[ "$(cat "$dir/victim")" = precious ] || fail "a file behind the record changed"
check 2 'an IPv4 address and a port from 0 to 65535: "example.org:70000"' "$sim" --web example.org:70000
check 0 "^korvan-sim $version (libkorvan_framework_lib $version)\$" "$sim" --version
check 4 '--app /none/x.so: no such file' "$sim" --app PHOTO_PLAYER=/none/x.so --script "$dir/ok.kvs" --shots "$dir"
check 125 'will not share the system folder /usr/lib ' "$sim" --app PHOTO_PLAYER=/usr/lib/os-release --script "$dir/ok.kvs" --shots "$dir"
# A sandbox that refuses (as the real one does for a system folder): its status and message reach
# the user with the folders it was asked to share.
install -D "$sim" "$dir/prefix/bin/korvan-sim"
printf '#!/bin/sh\n[ "$1" = --check-folder ] && exit 0\necho "kvn-sandbox: will not share that" >&2\nexit 125\n' > "$dir/prefix/bin/kvn-sandbox"
chmod +x "$dir/prefix/bin/kvn-sandbox"
check 125 "Folders it was asked to share: $dir" "$dir/prefix/bin/korvan-sim" --script "$dir/ok.kvs" --shots "$dir"
grep -q 'kvn-sandbox: will not share that' "$dir/log" || fail "the sandbox's own reason is lost"
# Held before the sandbox starts (a script FIFO whose writer has not finished): the first SIGTERM
# ends it at once.
exec 7<>"$dir/fifo"
env -u KVN_IN_SANDBOX -u DISPLAY -u WAYLAND_DISPLAY ${KVN_EMULATOR:-} "$sim" --script "$dir/fifo" --shots "$dir" >"$dir/log" 2>&1 &
pid=$!
sleep 0.5
[ -z "${KVN_EMULATOR:-}" ] || sleep 1  # an emulated start alone takes a third of a second
kill -TERM "$pid"
timeout 2 tail --pid="$pid" -f /dev/null || { fail "running 2 s after SIGTERM"; kill -KILL "$pid"; }
wait "$pid"
got=$?
exec 7>&-
[ "$got" = 143 ] || { fail "SIGTERM before the sandbox gave $got"; cat "$dir/log"; }

# What runs on this machine outside any sandbox (the build tree, the sandbox) and the plug-in's
# and the script's folders are read-only for the player: a plug-in writes nothing there.  The
# shots, written there, may not go into the tree.
build=$(cd "$(dirname "$sim")/.." && pwd)
check 2 "the screenshot folder $build/sim lies in $build, which korvan-sim runs from" "$sim" --script "$dir/ok.kvs" --shots "$build/sim"
mkdir "$dir/apps" "$dir/shots"
cp "$bad_app" "$dir/apps/"
export KVN_BAD_APP_WRITES="$build/kvn-probe:$build/sim/kvn-probe:$dir/apps/kvn-probe:$dir/kvn-probe"
check 4 'its entry point returned 7' "$sim" --app "PHOTO_PLAYER=$dir/apps/${bad_app##*/}" --script "$dir/ok.kvs" --shots "$dir/shots"
for target in ${KVN_BAD_APP_WRITES//:/ }; do
    [ -e "$target" ] && { fail "the plug-in made $target"; rm -f "$target"; }
done
unset KVN_BAD_APP_WRITES
# At a terminal, Ctrl-C reaches the launcher alone, which stops the player in order: the player
# runs in a session of its own, away from the terminal's input, and the sandbox around it is not
# killed under it.  `script` runs the line with $SHELL: bash, which outlives the Ctrl-C its
# child handled (dash, which CI may give, dies with it and never prints the status).
seen=$({ sleep 4; printf '\003'; sleep 3; } | SHELL=/bin/bash timeout 30 script -qec \
    "env -u DISPLAY -u WAYLAND_DISPLAY ${KVN_EMULATOR:-} '$sim' --no-window --shots '$dir/shots'; echo status \$?" \
    /dev/null | tr -d '\r')
{ grep -qx 'status 130' <<< "$seen" && grep -q 'korvan-sim: stopped by a signal' <<< "$seen"; } ||
    fail "Ctrl-C at a terminal: $(grep -v '^  |' <<< "$seen")"
rm -rf "$dir"
exit $failures
