#!/bin/sh
# The shared library exports exactly the names that its public header
# declares (functions and data), no internal function, test hook or C++ name.
# Usage: [NM=nm-of-the-target] check-exports.sh LIBRARY HEADER CC [CFLAGS...]
set -eu
lib=$1
header=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
cc=$3
shift 3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The header's own text, preprocessed as C (comments gone, macros expanded),
# cut into file-scope statements; typedefs and type definitions name
# nothing that the library defines.
echo "#include \"$header\"" | "$cc" -E -x c "$@" - |
awk -v f="\"$header\"" '/^# [0-9]+ "/ { mine = ($3 == f); next } mine && !/^[ \t]*#/' |
tr '\n' ' ' |
awk '{
    depth = 0; stmt = ""
    for (i = 1; i <= length($0); i++) {
        c = substr($0, i, 1)
        if (c == "{") depth++
        if (c == "}") depth--
        if (c == ";" && depth == 0) { print stmt; stmt = "" } else stmt = stmt c
    }
}' |
awk '/^[ \t]*typedef[ \t]/ || /[{}]/ || /^[ \t]*$/ { next }
{
    s = $0
    if (match(s, /\([ \t]*\*[ \t]*[A-Za-z_][A-Za-z0-9_]*[ \t]*\)/)) {
        s = substr(s, RSTART, RLENGTH); gsub(/[()* \t]/, "", s); print s; next
    }
    p = index(s, "("); if (p > 0) s = substr(s, 1, p - 1)
    p = index(s, "["); if (p > 0) s = substr(s, 1, p - 1)
    sub(/[ \t]+$/, "", s)
    if (match(s, /[A-Za-z_][A-Za-z0-9_]*$/)) print substr(s, RSTART, RLENGTH)
}' | sort -u > "$scratch/declared"

# (AddressSanitizer adds an ODR indicator, __odr_asan.NAME, for each
# exported variable of an instrumented build.)
"${NM:-nm}" -D --defined-only "$lib" | awk '{ print $NF }' | grep -v '^__odr_asan[._]' | sort -u > "$scratch/exported"
[ "$(wc -l < "$scratch/declared")" -gt 50 ] || { echo "too few names read from $header" >&2; exit 1; }
if ! diff -u "$scratch/declared" "$scratch/exported" > "$scratch/diff"; then
    echo "exports of $lib differ from the declarations of $header (- declared only, + exported only):" >&2
    grep '^[-+][^-+]' "$scratch/diff" >&2
    exit 1
fi
echo "$(wc -l < "$scratch/declared") names: the exports equal the header's declarations"
