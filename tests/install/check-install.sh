#!/bin/sh
# Installs the build into a scratch prefix, moves the installed tree
# elsewhere (it must not care where it lies), then builds against it through
# pkg-config and through find_package, both ways: the minimal host program
# with the desk's link, run in the sandbox, and the example plug-in with the
# player's link, which must need no stand-in.  Also compiles the installed
# headers as C99 and as C++, and checks the installed library's version and
# that it takes no time scale from the environment.
# A cross build's copy (KVN_SYSROOT, KVN_TOOLCHAIN and KVN_EMULATOR set by
# CTest) is compiled against its root, the host's DirectFB headers standing
# for the root's (the same version), and run through the emulator.
set -eu
build=$(cd "$1" && pwd)
cc=${2:-cc}
src=$(cd "$(dirname "$0")/../.." && pwd)
# A sanitizer build of the library needs the same runtime in the program.
san=""
[ "${3:-}" = address ] && san="-fsanitize=address,undefined"
[ "${3:-}" = thread ] && san="-fsanitize=thread"
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
pc=$(find "$prefix" -name korvan_framework_lib.pc | grep .) || { echo "no korvan_framework_lib.pc installed" >&2; exit 1; }
export PKG_CONFIG_PATH="${pc%/*}"
libdir=$(pkg-config --variable=libdir korvan_framework_lib)
version=$(pkg-config --modversion korvan_framework_lib)
major=${version%%.*}
expected='BROWSER focused: 1, default handler: 0, language 0'
run() {
    # The source tree too: a sanitizer's suppressions lie there, and a tree
    # under /tmp is hidden by the sandbox's private /tmp.
    out=$(cd "$scratch" && "$src/sandbox/kvn-sandbox" --ro-bind "$src" --bind "$scratch" ${KVN_SYSROOT:+--ro-bind "$KVN_SYSROOT"} -- $emulator "$1")
    [ "$out" = "$expected" ] || { echo "$1 printed \"$out\", not \"$expected\"" >&2; exit 1; }
}
# What a program or library needs at run time: its NEEDED entries.
needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
stand_ins='^lib(kvn_host_stub|kvn_trace|flash_setting|osd_service|smpoutd_api|screensaver)\.so'
# A player has the library and its own platform, none of the stand-ins.
player_link() {
    needed "$1" | grep -qxF "libkorvan_framework_lib.so.$major" || { echo "$1 does not need libkorvan_framework_lib.so.$major" >&2; exit 1; }
    ! needed "$1" | grep -E "$stand_ins" >&2 || { echo "$1, linked the player's way, needs the stand-ins above" >&2; exit 1; }
}
# The platform libraries the library needs carry the soname's number, as
# the stand-ins that a development machine gives in their place do.
! needed "$libdir/libkorvan_framework_lib.so" | grep -E "$stand_ins" | grep -vE "\.so\.$major\$" >&2 ||
    { echo "the library needs the platform libraries above without the version $major" >&2; exit 1; }

# Each header alone, as C99 and as C++17 (DirectFB's own headers still use `register`, which C++17
# dropped).
for header in "$prefix"/include/*.h; do
    printf '#include <%s>\nint main(void) { return 0; }\n' "${header##*/}" > "$scratch/h.c"
    for compile in "$cc -std=c99" "$cxx -x c++ -std=c++17 -Wno-register"; do
        $compile -Wall -Wextra -Werror -fsyntax-only $(pkg-config --cflags korvan_framework_lib) "$scratch/h.c"
    done
done

# Time runs at the player's speed whatever the environment says: only the
# explicit call changes it.
cat > "$scratch/clock.c" <<'C'
#include <korvan_framework_dev.h>
#include <korvan_framework_lib.h>
#include <stdio.h>
int main(void) {
    unsigned before = kvn_get_time_divisor();
    kvn_set_time_divisor(7);
    printf("%u %u %d.%d.%d %s\n", before, kvn_get_time_divisor(), kvn_get_version() / 10000,
           kvn_get_version() / 100 % 100, kvn_get_version() % 100, KVN_VERSION_STRING);
    return 0;
}
C
$cc -std=c99 $san "$scratch/clock.c" $(pkg-config --cflags --libs korvan_framework_lib korvan_stand_ins) \
    -o "$scratch/clock" -Wl,-rpath,"$libdir"
case "$(KVN_TIME_DIVISOR=50 $emulator "$scratch/clock")" in
    "1 7 $version $version") ;;
    "1 7 "*) echo "library, header and pkg-config disagree on the version ($version): $($emulator "$scratch/clock")" >&2; exit 1 ;;
    *) echo "the time divisor came from the environment" >&2; exit 1 ;;
esac

# The desk's link: a program of its own on the stand-ins.
cp "$src/examples/minimal_host.c" "$scratch/app.c"
(cd "$scratch" && $cc -std=c99 -Wall -Wextra -Werror $san app.c \
    $(pkg-config --cflags --libs korvan_framework_lib korvan_stand_ins) -o app -Wl,-rpath,"$libdir")
run ./app
# The player's link: an application for the host process, the library alone.
$cc -std=c99 -Wall -Wextra -Werror $san -shared -fPIC "$src/examples/sim_app.c" \
    $(pkg-config --cflags --libs korvan_framework_lib) -o "$scratch/app.so"
player_link "$scratch/app.so"

cmake -S "$src/tests/install/find_package" -B "$scratch/cmake-app" -DCMAKE_PREFIX_PATH="$prefix" \
    $cmake_cc -DKVN_SYSROOT="${KVN_SYSROOT:-}" -DKVN_EXAMPLE="$src/examples/minimal_host.c" \
    -DKVN_PLUGIN_EXAMPLE="$src/examples/sim_app.c" \
    -DCMAKE_C_FLAGS="$san" -DCMAKE_EXE_LINKER_FLAGS="$san" >/dev/null
cmake --build "$scratch/cmake-app" >/dev/null
run "$scratch/cmake-app/minimal_host"
player_link "$scratch/cmake-app/sim_app.so"
echo "a moved install builds the desk's and the player's link through pkg-config and find_package"
