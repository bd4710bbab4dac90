#!/bin/sh
# Installs the build, moves it (it must not care where it lies) and builds against it through
# pkg-config and find_package: the desk's link run in the sandbox, the player's with no stand-in;
# each header alone as C99 and C++; the version; no time scale from the environment.  A cross
# build's copy is built against its root (KVN_SYSROOT, KVN_TOOLCHAIN) and run by KVN_EMULATOR.
set -eu
build=$(cd "$1" && pwd) cc=${2:-cc} src=$(cd "$(dirname "$0")/../.." && pwd)
san=""  # a sanitizer build of the library needs its runtime in the program
[ "${3:-}" = address ] && san="-fsanitize=address,undefined"
[ "${3:-}" = thread ] && san="-fsanitize=thread"
cxx=c++ cmake_cc=-DCMAKE_C_COMPILER="$cc" emulator=${KVN_EMULATOR:-}
if [ -n "${KVN_SYSROOT:-}" ]; then
    cxx="${cc%gcc}g++ --sysroot=$KVN_SYSROOT"
    cmake_cc="-DCMAKE_TOOLCHAIN_FILE=$KVN_TOOLCHAIN -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=BOTH"
    cc="$cc --sysroot=$KVN_SYSROOT"
fi
scratch=$(mktemp -d "$build/install-check.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/staged" >/dev/null
mv "$scratch/staged" "$scratch/moved"
pc=$(find "$scratch/moved" -name korvan_framework_lib.pc | grep .) || { echo "no korvan_framework_lib.pc installed" >&2; exit 1; }
export PKG_CONFIG_PATH="${pc%/*}"
libdir=$(pkg-config --variable=libdir korvan_framework_lib)
version=$(pkg-config --modversion korvan_framework_lib)
major=${version%%.*} number=$(echo "$version" | awk -F. '{ print $1 * 10000 + $2 * 100 + $3 }')
fail() { echo "$*" >&2; exit 1; }
# In the sandbox with the source tree (a sanitizer's suppressions; a tree under /tmp is hidden).
run() {
    out=$(cd "$scratch" && "$src/sandbox/kvn-sandbox" --ro-bind "$src" --bind "$scratch" ${KVN_SYSROOT:+--ro-bind "$KVN_SYSROOT"} -- $emulator "$1")
    [ "$out" = 'BROWSER focused: 1, default handler: 0, language 0' ] || fail "$1 printed \"$out\""
}
needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
stand_ins='^lib(kvn_host_stub|kvn_trace|flash_setting|osd_service|smpoutd_api|screensaver)\.so'
player_link() {
    needed "$1" | grep -qxF "libkorvan_framework_lib.so.$major" || fail "$1 does not need libkorvan_framework_lib.so.$major"
    ! needed "$1" | grep -E "$stand_ins" >&2 || fail "$1, linked the player's way, needs the stand-ins above"
}
# The platform libraries carry the soname's number, as the stand-ins in their place do.
! needed "$libdir/libkorvan_framework_lib.so" | grep -E "$stand_ins" | grep -vE "\.so\.$major\$" >&2 ||
    fail "the library needs the platform libraries above without the version $major"

# Each header alone (DirectFB's own headers still use `register`, which C++17 dropped).
for header in "$scratch/moved"/include/*.h; do
    printf '#include <%s>\nint main(void) { return 0; }\n' "${header##*/}" > "$scratch/h.c"
    for compile in "$cc -std=c99" "$cxx -x c++ -std=c++17 -Wno-register"; do
        $compile -Wall -Wextra -Werror -fsyntax-only $(pkg-config --cflags korvan_framework_lib) "$scratch/h.c"
    done
done

# Time runs at the player's speed whatever the environment says: only the explicit call changes it.
cat > "$scratch/clock.c" <<'C'
int main(void) {
    unsigned before = kvn_get_time_divisor();
    kvn_set_time_divisor(7);
    printf("%u %u %d %s\n", before, kvn_get_time_divisor(), kvn_get_version(), KVN_VERSION_STRING);
}
C
$cc -std=c99 $san -include stdio.h -include korvan_framework_lib.h -include korvan_framework_dev.h "$scratch/clock.c" \
    $(pkg-config --cflags --libs korvan_framework_lib korvan_stand_ins) -o "$scratch/clock" -Wl,-rpath,"$libdir"
[ "$(KVN_TIME_DIVISOR=50 $emulator "$scratch/clock")" = "1 7 $number $version" ] ||
    fail "a time divisor from the environment, or a version other than pkg-config's $version"

# The desk's link: a program of its own on the stand-ins; the player's: a plug-in, the library alone.
$cc -std=c99 -Wall -Wextra -Werror $san "$src/examples/minimal_host.c" \
    $(pkg-config --cflags --libs korvan_framework_lib korvan_stand_ins) -o "$scratch/app" -Wl,-rpath,"$libdir"
run "$scratch/app"
$cc -std=c99 -Wall -Wextra -Werror $san -shared -fPIC "$src/examples/sim_app.c" \
    $(pkg-config --cflags --libs korvan_framework_lib) -o "$scratch/app.so"
player_link "$scratch/app.so"
cmake -S "$src/tests/install/find_package" -B "$scratch/cmake-app" -DCMAKE_PREFIX_PATH="$scratch/moved" $cmake_cc \
    -DKVN_SYSROOT="${KVN_SYSROOT:-}" -DCMAKE_C_FLAGS="$san" -DCMAKE_EXE_LINKER_FLAGS="$san" >/dev/null
cmake --build "$scratch/cmake-app" >/dev/null
run "$scratch/cmake-app/minimal_host"
player_link "$scratch/cmake-app/sim_app.so"
