#!/bin/sh
# Configures and builds into the folder given as the first argument; further
# arguments go to CMake.
set -eu
build="$1"; shift
top=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$top" -B "$build" -G Ninja "$@"
cmake --build "$build" -j "$(nproc)"
