#!/usr/bin/env bash
# A listing that honours ignore files ("/gitignore") against fd, which
# honours them by default, over a real source tree with build folders.
#
#   bench/gitignore.sh [RUNS] [COPIES]   (default 7 timed rounds after one
#                                        warm-up; 12 copies of the tree)
#
# The tree: COPIES copies of this repository's committed files (git
# archive HEAD), each with a copy of the Release build folder this script
# makes (hard links, so the copies cost no space) under build-bench/, which
# the repository's .gitignore leaves out ("/build*/"), inside one git
# repository, so that .gitignore counts for both programs. Both list every
# entry that is not ignored and print one line per entry:
#
#   corvane-cli --format csv "select path, filename from 'TREE /s /all /gitignore'"
#   fdfind -H -E '**/.*/*' . TREE
#
# -H: fd lists hidden entries, as the listing does; -E '**/.*/*': what lies
# inside hidden directories is left out, as "/s" never enters them (the
# hidden directories themselves are listed by both). Before timing, the
# script checks that both print the same number of entries. Both run with
# their default threads (the number of cores) and then with one thread.
# Prints median wall and CPU time (bench/timeit.cpp, interleaved rounds)
# and the ratio corvane-cli : fd (below 1: corvane-cli faster; the goal is
# at most 1.0).
#
# The tree lives under bench/work/gitignore (git-ignored); delete it to
# make it anew. fd comes with Debian's package fd-find (scripts/setup.sh
# installs it).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
copies=${2:-12}
work=bench/work/gitignore
command -v fdfind >/dev/null || { echo "fdfind missing: apt-get install fd-find" >&2; exit 1; }

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF \
    -DCORVANE_DESKTOP=OFF >/dev/null
cmake --build build-bench -j2 --target corvane-cli corvane-bench-time >/dev/null
cli=$PWD/build-bench/cli/corvane-cli
timeit=$PWD/build-bench/bench/corvane-bench-time

tree=$PWD/$work/tree
if [ ! -d "$tree" ] || [ "$(cat "$work/copies" 2>/dev/null)" != "$copies" ]; then
    rm -rf "$work"
    mkdir -p "$tree"
    git -C "$tree" init -q .
    # The build folder as it is now, frozen: later builds must not change
    # what the copies hold.
    cp -al build-bench "$work/build-frozen"
    for ((i = 1; i <= copies; i++)); do
        mkdir -p "$tree/c$i"
        git archive HEAD | tar -x -C "$tree/c$i"
        cp -al "$work/build-frozen" "$tree/c$i/build-bench"
    done
    echo "$copies" >"$work/copies"
fi

sql="select path, filename from '$tree /s /all /gitignore'"
fd=(fdfind -H -E '**/.*/*' . "$tree")
ours=$("$cli" --format csv "$sql" | tail -n +2 | wc -l)
theirs=$("${fd[@]}" | wc -l)
all=$("$cli" --format csv "select count(*) n from '$tree /s /all'" | tail -n 1 | tr -d '\r')
echo "-- $copies copies of the repository with build folders: $all entries, of them"
echo "   $ours listed by corvane-cli /gitignore and $theirs by fd"
if [ "$ours" != "$theirs" ]; then
    echo "the two list different numbers of entries" >&2
    exit 1
fi

printf '%-34s %8s %8s %8s %8s\n' "command" "wall ms" "CPU ms" "wall×fd" "CPU×fd"
for threads in default 1; do
    if [ "$threads" = default ]; then
        a=("$cli" --format csv "$sql")
        b=("${fd[@]}")
    else
        a=("$cli" --threads 1 --format csv "$sql")
        b=(fdfind -j 1 -H -E '**/.*/*' . "$tree")
    fi
    mapfile -t r < <("$timeit" "$runs" "${a[@]}" --- "${b[@]}")
    read -r cw cc _ <<<"${r[0]}"
    read -r fw fc _ <<<"${r[1]}"
    printf '%-34s %8s %8s %8s %8s\n' "corvane-cli /gitignore ($threads)" "$cw" "$cc" \
        "$(awk -v a="$cw" -v b="$fw" 'BEGIN { printf "%.2f", a / b }')" \
        "$(awk -v a="$cc" -v b="$fc" 'BEGIN { printf "%.2f", a / b }')"
    printf '%-34s %8s %8s\n' "fdfind -H ($threads)" "$fw" "$fc"
done
