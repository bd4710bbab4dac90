#!/bin/sh
# The desk's link: the smallest host program (minimal_host.c) built against
# an installed copy with the stand-ins of the player's platform, and run in
# the sandbox, which gives it DirectFB's headless system and keeps its
# named pipes and player programs away from the machine.  It prints
# "BROWSER focused: 1, default handler: 0, language 0".  Run it in the
# checkout's root.
set -eu
cc examples/minimal_host.c $(pkg-config --cflags --libs korvan_framework_lib korvan_stand_ins) -o app
kvn-sandbox ./app
