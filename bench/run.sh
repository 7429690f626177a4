#!/usr/bin/env bash
# Times whole processes side by side on a deterministic synthetic tree:
# corvane-cli, find -printf, sqlite3's fsdir() and a minimal C++ walker (the
# floor: readdir + fstatat per entry). Prints medians and ratios to the
# walker, peak memory of the big listing, a join of two directories, and
# statements with computed expressions against the same with plain columns.
#
#   bench/run.sh [RUNS]        (default 5 timed runs after one warm-up)
#
# The trees are made once under bench/work/ (git-ignored, never part of the
# test suite); delete that folder to make them anew. Needs a Release build,
# which this script makes in build-bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
work=bench/work
mkdir -p "$work"

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target corvane-cli corvane-bench-walk corvane-bench-gentree >/dev/null
cli=$PWD/build-bench/cli/corvane-cli
walk=$PWD/build-bench/bench/corvane-bench-walk
gen=$PWD/build-bench/bench/corvane-bench-gentree

for n in 20000 200000; do
    [ -d "$work/tree$n" ] || "$gen" "$work/tree$n" "$n" 42
done
for j in 1 2; do
    if [ ! -d "$work/join$j" ]; then
        mkdir -p "$work/join$j"
        # 5 000 files each; every second name exists in both directories.
        for ((i = 0; i < 5000; i++)); do
            if ((j == 1)); then name=f$((i * 2)); else name=f$i; fi
            : > "$work/join$j/$name.dat"
        done
    fi
done

have_sqlite=1
if ! command -v sqlite3 >/dev/null || ! sqlite3 :memory: "select count(*) from fsdir('.')" >/dev/null 2>&1; then
    have_sqlite=0
fi

# median_ms CMD...: runs the command once to warm up, then $runs times;
# prints the median wall time in milliseconds.
median_ms() {
    "$@" >/dev/null 2>&1 || true
    local times=()
    for ((r = 0; r < runs; r++)); do
        local t0 t1
        t0=$(date +%s%N)
        "$@" >/dev/null 2>&1 || true
        t1=$(date +%s%N)
        times+=($(((t1 - t0) / 1000000)))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}

columns="path, filename, extension, shortname, creationtime, lastwritetime, lastaccesstime, size, attri, count, isdir, readOnly, hidden, data"

printf '%-46s %10s %8s\n' "command" "median ms" "× walker"
for n in 20000 200000; do
    root=$PWD/$work/tree$n
    echo "-- tree of $n entries ($("$walk" "$root") listed by the walker)"
    w=$(median_ms "$walk" "$root")
    report() { printf '%-46s %10s %8s\n' "$1" "$2" "$(awk -v a="$2" -v b="$w" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}')"; }
    report "walker (readdir + fstatat)" "$w"
    report "find -printf '%p %s %T@ %m'" "$(median_ms find "$root" -printf '%p %s %T@ %m\n')"
    if ((have_sqlite)); then
        report "sqlite3 fsdir() name, mode, mtime" \
            "$(median_ms sqlite3 :memory: "select name, mode, mtime from fsdir('$root')")"
    fi
    report "corvane-cli csv, all columns but version" \
        "$(median_ms "$cli" --format csv "select $columns from '$root /s/all'")"
    report "corvane-cli csv, where size>100000 and .log" \
        "$(median_ms "$cli" --format csv "select $columns from '$root /s/all' where size > 100000 and extension = 'log'")"
done

echo "-- peak memory, corvane-cli csv listing of 200000 entries"
/usr/bin/time -f '%M KB' "$cli" --format csv "select $columns from '$PWD/$work/tree200000 /s/all'" 2>&1 >/dev/null | tail -1

echo "-- join of two directories of 5000 files on a.filename = b.filename"
printf '%-46s %10s\n' "corvane-cli join" \
    "$(median_ms "$cli" --format csv "select a.filename, b.size from '$PWD/$work/join1' a, '$PWD/$work/join2' b where a.filename = b.filename")"
echo "rows: $("$cli" --format csv "select a.filename from '$PWD/$work/join1' a, '$PWD/$work/join2' b where a.filename = b.filename" | tail -n +2 | wc -l)"

# Computed expressions: the same listing and filter written with plain
# columns and with expressions. The expression of each operand is compiled
# once per statement and run per row; the target is at most 1.5x.
echo "-- computed expressions over the tree of 200000 entries (csv to /dev/null)"
root=$PWD/$work/tree200000
plain=$(median_ms "$cli" --format csv "select filename, size from '$root /s' where size > 10240")
expr=$(median_ms "$cli" --format csv "select filename, size*2+1 from '$root /s' where size div 1024 > 10")
calls=$(median_ms "$cli" --format csv "select filename, copy(filename,1,3), (yearof(lastwritetime)) from '$root /s' where (length(filename)) > 5")
printf '%-46s %10s\n' "plain: filename, size where size > 10240" "$plain"
printf '%-46s %10s %8s\n' "expr: size*2+1 where size div 1024 > 10" "$expr" \
    "$(awk -v a="$expr" -v b="$plain" 'BEGIN {printf "%.2fx", (b > 0 ? a / b : 0)}')"
printf '%-46s %10s %8s\n' "calls: copy, yearof where length > 5" "$calls" \
    "$(awk -v a="$calls" -v b="$plain" 'BEGIN {printf "%.2fx", (b > 0 ? a / b : 0)}')"
