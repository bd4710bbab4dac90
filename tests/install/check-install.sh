#!/bin/sh
# Installs the build into a scratch prefix and builds a C99 program against
# the installed header and library through pkg-config.
set -eu
build=$1
cc=${2:-cc}
# A sanitizer build of the library needs the same runtime in the program.
case "${3:-}" in
    address) san="-fsanitize=address,undefined" ;;
    thread) san="-fsanitize=thread" ;;
    *) san="" ;;
esac
prefix=$(mktemp -d "$build/install-check.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
pc=$(find "$prefix" -name korvan_framework_lib.pc | head -n1)
[ -n "$pc" ] || { echo "no korvan_framework_lib.pc installed" >&2; exit 1; }
export PKG_CONFIG_PATH="$(dirname "$pc")"
cat > "$prefix/app.c" <<'C'
#include <korvan_framework_lib.h>
#include <stdio.h>
int main(void) {
    kvn_window w = {0};
    w.window_id = BROWSER;
    printf("%s %d %u\n", window_id_str[BROWSER], get_window_node(BROWSER) == NULL, (unsigned)KVN_WINDOW_MAGIC);
    return register_window(NULL) == -1 && w.window_id == BROWSER ? 0 : 1;
}
C
libdir=$(pkg-config --variable=libdir korvan_framework_lib)
# The host program supplies the functions the framework imports from it.
"$cc" -std=c99 -Wall -Wextra -Werror $san -o "$prefix/app" "$prefix/app.c" \
    $(pkg-config --cflags --libs korvan_framework_lib) -lkvn_host_stub -Wl,-rpath,"$libdir"
"$prefix/app" | grep -q '^BROWSER 1 1263947777$'
echo "installed header and library build and run a C99 program"
