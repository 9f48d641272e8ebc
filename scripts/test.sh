#!/bin/sh
# Sets up a fresh Debian 12 machine, builds everything with warnings as errors and the
# address and undefined-behaviour sanitizers, runs the whole test suite, then runs the
# fuzz targets for a bounded time.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-debian.sh"
"$top/scripts/build.sh" "$top/build-test" -DCMAKE_BUILD_TYPE=Debug -DQX_WERROR=ON \
    -DQX_SANITIZE=address,undefined
(cd "$top/build-test" && ctest --output-on-failure -j 2)
"$top/scripts/fuzz.sh" 60
