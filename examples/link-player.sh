#!/bin/sh
# The player's link: an application for the player's host process
# (sim_app.c), built against an installed copy, the library alone, as on the
# player; it needs none of the stand-ins.  On the desk the simulator plays
# the host process: the application runs there as the photo player, through
# its script.  Run it in the checkout's root.
set -eu
cc -shared -fPIC examples/sim_app.c $(pkg-config --cflags --libs korvan_framework_lib) -o app.so
korvan-sim --quiet --app PHOTO_PLAYER=./app.so --script examples/sim_app.kvs --shots shots --time-divisor 10
