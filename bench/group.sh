#!/usr/bin/env bash
# Grouping against listing: how much a GROUP BY adds to walking a tree.
#
#   bench/group.sh [RUNS] [ENTRIES]   (default 5 timed rounds, 2 000 000 entries)
#
# Grouping folds every row into its group as the listing produces it, so
# "select extension, count(*), sum(size) ... group by extension" should
# cost little more than "select extension ..." and hold almost nothing:
# the peak memory of the grouped statements stays near that of a
# count(*), while the listing of every extension to a CSV stream is the
# reference for time. Grouping by path makes one group per folder (tens of
# thousands), grouping by filename one per distinct name (most entries):
# there memory grows with the groups, as it must.
#
# The tree is made once under bench/work/ (git-ignored; a tree of two
# million entries takes a few minutes to make and about 2 million inodes,
# almost no disk space). Needs a Release build, which this script makes in
# build-bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
n=${2:-2000000}
work=bench/work
mkdir -p "$work"

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF \
    -DCORVANE_DESKTOP=OFF >/dev/null
cmake --build build-bench -j2 --target corvane-cli corvane-bench-gentree corvane-bench-time \
    >/dev/null
cli=$PWD/build-bench/cli/corvane-cli
gen=$PWD/build-bench/bench/corvane-bench-gentree
timeit=$PWD/build-bench/bench/corvane-bench-time

[ -d "$work/tree$n" ] || "$gen" "$work/tree$n" "$n" 42
root=$PWD/$work/tree$n
table="'$root /s/all'"

labels=("list: extension of every entry (csv)"
    "count(*) of every entry"
    "group by extension: count, sum, max"
    "group by extension, having, order, limit"
    "group by path: count, sum"
    "group by filename: count")
mapfile -t results < <("$timeit" "$runs" \
    "$cli" --format csv "select extension from $table" \
    --- "$cli" --format csv "select count(*) from $table" \
    --- "$cli" --format csv "select extension, count(*), sum(size), max(lastwritetime) from $table group by extension" \
    --- "$cli" --format csv "select extension, count(*) n, sum(size) s from $table group by extension having count(*) > 10 order by s desc limit 5" \
    --- "$cli" --format csv "select path, count(*), sum(size) from $table group by path" \
    --- "$cli" --format csv "select filename, count(*) from $table group by filename")
echo "-- tree of $n entries: $("$cli" --format csv "select count(*) from $table" | tail -n 1) listed"
read -r lw lc _ <<<"${results[0]}"
printf '%-44s %7s %7s %7s %7s %8s\n' "" "wall ms" "CPU ms" "wall×l" "CPU×l" "peak KB"
for i in "${!labels[@]}"; do
    read -r wall cpu _ _ peak <<<"${results[$i]}"
    awk -v l="${labels[$i]}" -v wall="$wall" -v cpu="$cpu" -v lw="$lw" -v lc="$lc" -v peak="$peak" 'BEGIN {
        printf "%-44s %7d %7d %7.2f %7.2f %8d\n", l, wall, cpu, (lw > 0 ? wall / lw : 0), (lc > 0 ? cpu / lc : 0), peak
    }'
done
