#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs every libFuzzer target for a bounded time each: scripts/fuzz.sh [SECONDS] [TARGET...]
# (60 s, every target in fuzz/). Builds into build-fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer), starts each target from its seed corpus fuzz/corpus/NAME with its
# dictionary fuzz/dict/NAME.dict, keeps what it finds in build-fuzz/fuzz-corpus/NAME, and exits
# non-zero when a target fails (the input is kept in build-fuzz/fuzz-artifacts/).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds == 0)); then
    echo "usage: $0 [SECONDS] [TARGET...]   (a positive whole number, default 60)" >&2
    exit 2
fi
shift $(($# > 0 ? 1 : 0))
targets=("$@")
if ((${#targets[@]} == 0)); then
    for seeds in fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi
# Memory per target: the bound the targets must stay under. About 80 MB of it is the sanitizers'
# and libFuzzer's own; an input of a few KB may take the rest only through a fault.
rss_limit_mb=128

scripts/install-deps.sh clang libclang-rt-14-dev
build="build-fuzz"
generator=()
if command -v ninja >/dev/null && [[ ! -f $build/CMakeCache.txt ]]; then generator=(-G Ninja); fi
CC=clang CXX=clang++ cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKV_BUILD_FUZZERS=ON -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCHMARKS=OFF -DKV_WERROR=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]/#/fuzz_}"

# A small quarantine keeps AddressSanitizer's freed memory within the bound.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16}
mkdir -p "$build/fuzz-artifacts"
failed=()
for name in "${targets[@]}"; do
    fuzzer=$(find "$build" -type f -name "fuzz_$name" -perm -u+x | head -n 1)
    [[ -n $fuzzer ]] || { echo "fuzz_$name was not built" >&2; exit 1; }
    mkdir -p "$build/fuzz-corpus/$name"
    echo "== fuzz_$name for ${seconds} s"
    # The first directory collects new inputs; the seeds are only read.
    if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb="$rss_limit_mb" \
        -dict="fuzz/dict/$name.dict" -print_final_stats=1 \
        -artifact_prefix="$build/fuzz-artifacts/$name-" \
        "$build/fuzz-corpus/$name" "fuzz/corpus/$name" 2>"$build/fuzz-$name.log"; then
        tail -n 40 "$build/fuzz-$name.log" >&2
        failed+=("$name")
        continue
    fi
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^#[0-9]+ +DONE' \
        "$build/fuzz-$name.log" || true
done
if ((${#failed[@]} > 0)); then
    echo "failed: ${failed[*]}; reproducers in $build/fuzz-artifacts/" >&2
    exit 1
fi
echo "every target ran ${seconds} s without a finding"
