#!/bin/sh
# Installs the build into a scratch prefix, moves the installed tree
# elsewhere (it must not care where it lies), then builds the minimal host
# program against it twice, through pkg-config with the README's link line
# and through find_package, and runs both in the sandbox.  Also compiles the
# installed headers as C99 and as C++, and checks that the installed
# library takes no time scale from the environment.  A cross build's copy
# (KVN_SYSROOT, KVN_TOOLCHAIN and KVN_EMULATOR set by CTest) is compiled
# against its root, the host's DirectFB headers standing for the root's
# (the same version), and run through the emulator.
set -eu
build=$(cd "$1" && pwd)
cc=${2:-cc}
src=$(cd "$(dirname "$0")/../.." && pwd)
# A sanitizer build of the library needs the same runtime in the program.
case "${3:-}" in
    address) san="-fsanitize=address,undefined" ;;
    thread) san="-fsanitize=thread" ;;
    *) san="" ;;
esac
cxx=c++
cmake_cc=-DCMAKE_C_COMPILER="$cc"
emulator=${KVN_EMULATOR:-}
if [ -n "${KVN_SYSROOT:-}" ]; then
    cxx="${cc%gcc}g++ --sysroot=$KVN_SYSROOT"
    cmake_cc="-DCMAKE_TOOLCHAIN_FILE=$KVN_TOOLCHAIN -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=BOTH"
    cc="$cc --sysroot=$KVN_SYSROOT"
fi
scratch=$(mktemp -d "$build/install-check.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/staged" >/dev/null
mv "$scratch/staged" "$scratch/moved"
prefix=$scratch/moved
pc=$(find "$prefix" -name korvan_framework_lib.pc)
[ -n "$pc" ] || { echo "no korvan_framework_lib.pc installed" >&2; exit 1; }
export PKG_CONFIG_PATH="$(dirname "$pc")"
libdir=$(pkg-config --variable=libdir korvan_framework_lib)
expected='BROWSER focused: 1, default handler: 0, language 0'
run() {
    # The source tree too: a sanitizer's suppressions lie there, and a tree
    # under /tmp is hidden by the sandbox's private /tmp.
    out=$(cd "$scratch" && "$src/sandbox/kvn-sandbox" --ro-bind "$src" --bind "$scratch" ${KVN_SYSROOT:+--ro-bind "$KVN_SYSROOT"} -- $emulator "$1")
    [ "$out" = "$expected" ] || { echo "$1 printed \"$out\", not \"$expected\"" >&2; exit 1; }
}

for header in "$prefix"/include/*.h; do
    printf '#include <%s>\nint main(void) { return 0; }\n' "$(basename "$header")" > "$scratch/h.c"
    $cc -std=c99 -Wall -Wextra -Werror -fsyntax-only $(pkg-config --cflags korvan_framework_lib) "$scratch/h.c"
    # (DirectFB's own headers still use `register`, which C++17 dropped.)
    $cxx -x c++ -std=c++17 -Wall -Wextra -Werror -Wno-register -fsyntax-only $(pkg-config --cflags korvan_framework_lib) "$scratch/h.c"
done

# Time runs at the player's speed whatever the environment says: only the
# explicit call changes it.
cat > "$scratch/clock.c" <<'C'
#include <korvan_framework_lib.h>
#include <stdio.h>
int main(void) {
    unsigned before = kvn_get_time_divisor();
    kvn_set_time_divisor(7);
    printf("%u %u\n", before, kvn_get_time_divisor());
    return 0;
}
C
$cc -std=c99 $san "$scratch/clock.c" $(pkg-config --cflags --libs korvan_framework_lib) \
    -o "$scratch/clock" -Wl,-rpath,"$libdir"
[ "$(KVN_TIME_DIVISOR=50 $emulator "$scratch/clock")" = "1 7" ] || { echo "the time divisor came from the environment" >&2; exit 1; }

cp "$src/examples/minimal_host.c" "$scratch/app.c"
(cd "$scratch" && $cc -std=c99 -Wall -Wextra -Werror $san app.c \
    $(pkg-config --cflags --libs korvan_framework_lib) -o app -Wl,-rpath,"$libdir")
run ./app

cmake -S "$src/tests/install/find_package" -B "$scratch/cmake-app" -DCMAKE_PREFIX_PATH="$prefix" \
    $cmake_cc -DKVN_SYSROOT="${KVN_SYSROOT:-}" -DKVN_EXAMPLE="$src/examples/minimal_host.c" \
    -DCMAKE_C_FLAGS="$san" -DCMAKE_EXE_LINKER_FLAGS="$san" >/dev/null
cmake --build "$scratch/cmake-app" >/dev/null
run "$scratch/cmake-app/minimal_host"
echo "a moved install builds and runs the minimal host through pkg-config and find_package"
