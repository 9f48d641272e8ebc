#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for the given number of
# seconds (default 60) on its seed corpus.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
seconds="${1:-60}"
build="$top/build-fuzz"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQX_FUZZ_ONLY=ON -DQX_WERROR=ON
cmake --build "$build" -j "$(nproc)"
for target in "$build"/fuzz/*_fuzzer; do
    name=$(basename "$target" _fuzzer)
    corpus=$(mktemp -d)
    cp "$top/fuzz/corpus/$name"/* "$corpus"/
    echo "== fuzzing $name for $seconds s"
    if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
            -artifact_prefix="$build/$name-" "$corpus" "$top/fuzz/corpus/$name" \
            >"$build/$name.log" 2>&1; then
        tail -n 60 "$build/$name.log"
        echo "fuzzing $name found a fault; the input is in $build/$name-*" >&2
        exit 1
    fi
    tail -n 2 "$build/$name.log"
    rm -rf "$corpus"
done
