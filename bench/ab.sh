#!/usr/bin/env bash
# Times this tree's corvane-cli against the one of an earlier revision, side
# by side in one run, on the statements whose speed a change must keep: the
# full and the filtered listing of the 200 000-entry tree and the computed
# expression statements of bench/run.sh. Both binaries are Release builds;
# the commands run interleaved, round by round (bench/timeit.cpp), so load
# from elsewhere hits both alike. Prints the medians and the ratio of this
# tree to the old one (below 1: faster now).
#
#   bench/ab.sh REVISION [RUNS]      (default 9 rounds after one warm-up)
#
# The old revision is checked out under bench/work/ab-<rev>/ (git-ignored)
# and built in its own build-bench/; delete that folder to rebuild it.
set -euo pipefail
cd "$(dirname "$0")/.."
rev=${1:?usage: bench/ab.sh REVISION [RUNS]}
runs=${2:-9}
work=bench/work
mkdir -p "$work"
short=$(git rev-parse --short "$rev")
old=$work/ab-$short

build() { # source dir
    cmake -S "$1" -B "$1/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF \
        -DCORVANE_DESKTOP=OFF >/dev/null
    cmake --build "$1/build-bench" -j2 --target corvane-cli >/dev/null
}
[ -d "$old" ] || git worktree add --detach "$old" "$rev" >/dev/null 2>&1
build "$old"
build .
cmake --build build-bench -j2 --target corvane-bench-gentree corvane-bench-time >/dev/null
new_cli=$PWD/build-bench/cli/corvane-cli
old_cli=$PWD/$old/build-bench/cli/corvane-cli
gen=$PWD/build-bench/bench/corvane-bench-gentree
timeit=$PWD/build-bench/bench/corvane-bench-time
[ -d "$work/tree200000" ] || "$gen" "$work/tree200000" 200000 42
root=$PWD/$work/tree200000

columns="path, filename, extension, shortname, creationtime, lastwritetime, lastaccesstime, size, attri, count, isdir, readOnly, hidden, data"
labels=("full listing, csv"
    "filtered: size > 100000 and .log"
    "plain: filename, size where size > 10240"
    "expr: size*2+1 where size div 1024 > 10"
    "calls: copy, yearof where length > 5")
statements=("select $columns from '$root /s/all'"
    "select $columns from '$root /s/all' where size > 100000 and extension = 'log'"
    "select filename, size from '$root /s' where size > 10240"
    "select filename, size*2+1 from '$root /s' where size div 1024 > 10"
    "select filename, copy(filename,1,3), (yearof(lastwritetime)) from '$root /s' where (length(filename)) > 5")
cmds=()
for s in "${statements[@]}"; do
    [ ${#cmds[@]} -gt 0 ] && cmds+=(---)
    cmds+=("$old_cli" --format csv "$s" --- "$new_cli" --format csv "$s")
done
mapfile -t results < <("$timeit" "$runs" "${cmds[@]}")
echo "corvane-cli of $short (old) against this tree (new), medians of $runs rounds, $(nproc) cores"
printf '%-44s %8s %8s %8s %8s %7s %7s\n' "" "old wall" "new wall" "old CPU" "new CPU" "wall×" "CPU×"
for i in "${!labels[@]}"; do
    read -r ow oc _ <<<"${results[$((2 * i))]}"
    read -r nw nc _ <<<"${results[$((2 * i + 1))]}"
    awk -v l="${labels[$i]}" -v ow="$ow" -v nw="$nw" -v oc="$oc" -v nc="$nc" 'BEGIN {
        printf "%-44s %8d %8d %8d %8d %7.3f %7.3f\n", l, ow, nw, oc, nc,
            (ow > 0 ? nw / ow : 0), (oc > 0 ? nc / oc : 0)
    }'
done
