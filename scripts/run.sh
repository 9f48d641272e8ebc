#!/bin/sh
# Sets up a fresh Debian 12 machine, builds the program and runs its main job on the
# sample profile shipped with the sources.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-debian.sh"
"$top/scripts/build.sh" "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_BUILD_TESTS=OFF -DQX_BUILD_BENCH=OFF
exec "$top/scripts/demo.sh" "$top/build"
