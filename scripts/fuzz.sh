#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a given time.
# Usage: scripts/fuzz.sh SECONDS [target...]   (default: every target)
# A finding stops with a non-zero exit; its input is left in
# tests/fuzz/findings/ (git-ignored) to be turned into a regression test.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}; shift || true

scripts/setup.sh clang libclang-rt-14-dev
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCORVANE_FUZZ=ON -DCORVANE_DESKTOP=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc 2>/dev/null || echo 2)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for f in tests/fuzz/fuzz_*.cpp; do t=$(basename "$f" .cpp); targets+=("${t#fuzz_}"); done
fi

mkdir -p tests/fuzz/findings
status=0
for t in "${targets[@]}"; do
    exe=build-fuzz/tests/fuzz/fuzz_$t
    if [ ! -x "$exe" ]; then  # fuzz_project_file needs Qt 6 Core
        echo "== fuzz $t: not built, skipped"
        continue
    fi
    corpus=tests/fuzz/corpus/$t
    work=$(mktemp -d)
    [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
    dict=tests/fuzz/$t.dict
    extra=()
    [ -f "$dict" ] && extra+=(-dict="$dict")
    echo "== fuzz $t for ${seconds}s"
    if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "$exe" "$work" "${extra[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="tests/fuzz/findings/${t}-" -print_final_stats=1 2>"$work.log"; then
        tail -n 60 "$work.log"
        echo "!! fuzz $t: finding (see tests/fuzz/findings/)"
        status=1
    else
        grep -E 'stat::number_of_executed_units|Done [0-9]+ runs' "$work.log" | tail -n 2 || true
    fi
    rm -rf "$work" "$work.log"
done
exit $status
