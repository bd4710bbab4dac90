#!/bin/sh
# The shared library exports exactly the names that its installed headers declare (functions and
# data: the API and the development aids), no internal function, test hook or C++ name.
# Usage: [NM=nm-of-the-target] check-exports.sh LIBRARY CC [CFLAGS...] -- HEADER...
set -eu
lib=$1 cc=$2 cflags=""
shift 2
while [ $# -gt 0 ] && [ "$1" != -- ]; do cflags="$cflags $1"; shift; done
[ $# -gt 1 ] || { echo "usage: check-exports.sh LIBRARY CC [CFLAGS...] -- HEADER..." >&2; exit 2; }
shift
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Each header's own text, preprocessed (comments gone, macros expanded), cut into file-scope
# statements; typedefs and type definitions name nothing that the library defines.
declared() {
    header=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
    echo "#include \"$header\"" | "$cc" -E -x c $cflags - |
    awk -v f="\"$header\"" '/^# [0-9]+ "/ { mine = ($3 == f); next } mine && !/^[ \t]*#/' |
    tr '\n' ' ' |
    awk '{
        for (i = 1; i <= length($0); i++) {
            c = substr($0, i, 1)
            depth += (c == "{") - (c == "}")
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
    }'
}
for header in "$@"; do declared "$header"; done | sort -u > "$scratch/declared"
[ "$(wc -l < "$scratch/declared")" -gt 50 ] || { echo "too few names read from $*" >&2; exit 1; }
# (AddressSanitizer adds an ODR indicator, __odr_asan.NAME, for each exported variable.)
"${NM:-nm}" -D --defined-only "$lib" | awk '{ print $NF }' | grep -v '^__odr_asan[._]' | sort -u > "$scratch/exported"
diff -u "$scratch/declared" "$scratch/exported" > "$scratch/diff" ||
    { echo "exports of $lib differ from $* (- declared only, + exported only):" >&2; grep '^[-+][^-+]' "$scratch/diff" >&2; exit 1; }
echo "$(wc -l < "$scratch/declared") names: the exports equal the declarations of $*"
