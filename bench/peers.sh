#!/usr/bin/env bash
# Compares corvane-cli with the peers a user would otherwise reach for (fd
# and GNU find) in one run, with hyperfine, on synthetic trees of 20 000 and
# 200 000 entries (2 000 000 with --big: it takes about 2 GB of inodes and a
# few minutes to make). For each tree it times
#
#   - the floor: the minimal 1-thread walker (getdents64 + fstatat per entry);
#   - the full listing: corvane-cli with every column but version to CSV,
#     find -printf with comparable fields, fd stat'ing every entry;
#   - the filtered query: *.log files above 100 KiB, in all three;
#   - select * against the same statement without version (the tree holds a
#     few files named like Windows executables, so version has work to do);
#
# and prints the medians, the ratios of corvane-cli to fd and to find, the
# ratio of the filtered query to the full listing, the cost per entry, and
# the peak resident memory of each command (from /usr/bin/time, one run).
#
#   bench/peers.sh [--big] [--runs N] [--cli PATH]
#
# --cli times another build of corvane-cli (for before/after figures).
# Installs hyperfine and fd-find with apt-get when they are missing. Trees
# are made once under bench/work/ (git-ignored); delete it to make them
# anew. Needs a Release build, which this script makes in build-bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=10
big=0
cli=""
while (($#)); do
    case "$1" in
    --big) big=1 ;;
    --runs) runs=$2; shift ;;
    --cli) cli=$(realpath "$2"); shift ;;
    *) echo "usage: bench/peers.sh [--big] [--runs N] [--cli PATH]" >&2; exit 2 ;;
    esac
    shift
done

need=()
command -v hyperfine >/dev/null || need+=(hyperfine)
command -v fdfind >/dev/null || command -v fd >/dev/null || need+=(fd-find)
[ -x /usr/bin/time ] || need+=(time)
if ((${#need[@]})); then
    sudo=""
    ((EUID == 0)) || sudo=sudo
    $sudo apt-get install -y "${need[@]}"
fi
fd=$(command -v fdfind || command -v fd)

work=bench/work
mkdir -p "$work"
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF \
    -DCORVANE_DESKTOP=OFF >/dev/null
cmake --build build-bench -j2 --target corvane-cli corvane-bench-walk corvane-bench-gentree >/dev/null
[ -n "$cli" ] || cli=$PWD/build-bench/cli/corvane-cli
walk=$PWD/build-bench/bench/corvane-bench-walk
gen=$PWD/build-bench/bench/corvane-bench-gentree

sizes=(20000 200000)
((big)) && sizes+=(2000000)

# A few files that look like Windows executables (a DOS stub, nothing
# more): version must open exactly these, whatever the letter case.
add_pe_files() {
    local dir=$1/pe
    mkdir -p "$dir"
    for i in $(seq 1 40); do
        for ext in exe DLL sys Ocx; do
            printf 'MZ%062d' 0 >"$dir/p$i.$ext"
        done
    done
}

cols_nover="path, filename, extension, shortname, creationtime, lastwritetime, lastaccesstime, size, attri, count, isdir, readOnly, hidden, data"
cols_all="$cols_nover, version"

median_ms() { jq -r ".results[$2].median * 1000" "$1"; }
peak_kb() { /usr/bin/time -f %M "${@}" >/dev/null 2>"$work/time.err" || true; tail -n 1 "$work/time.err"; }

for n in "${sizes[@]}"; do
    root=$PWD/$work/peer$n
    if [ ! -d "$root" ]; then
        "$gen" "$root" "$n" 42 >/dev/null
        add_pe_files "$root"
    fi
    entries=$("$walk" "$root")
    echo "== tree of $entries entries ($root)"
    labels=(
        "floor: walker 1 thread"
        "corvane-cli full listing (csv, no version)"
        "find -printf (path size mtime mode)"
        "fd (stats every entry)"
        "corvane-cli where extension='log' and size>102400"
        "find -name '*.log' -type f -size +100k"
        "fd -t f -e log -S +102401b"
        "corvane-cli select * (with version)"
    )
    cmds=(
        "$walk $root"
        "$cli --format csv \"select $cols_nover from '$root /s/all'\""
        "find $root -printf '%p %s %T@ %m\n'"
        "$fd -H -I -u --changed-before 2100-01-01 . $root"
        "$cli --format csv \"select $cols_nover from '$root /s' where extension = 'log' and size > 102400\""
        "find $root -name '*.log' -type f -size +100k"
        "$fd -H -I -u -t f -e log -S +102401b . $root"
        "$cli --format csv \"select $cols_all from '$root /s/all'\""
    )
    json=$work/peers$n.json
    hyperfine -N --style none --warmup 1 --runs "$runs" --export-json "$json" "${cmds[@]}" >/dev/null 2>&1 ||
        hyperfine --style none --warmup 1 --runs "$runs" --export-json "$json" "${cmds[@]}" >/dev/null
    printf '%-52s %8s %8s %8s %9s %8s\n' command "median" "×fd" "×find" "ns/entry" "peak KB"
    fdFull=$(median_ms "$json" 3)
    findFull=$(median_ms "$json" 2)
    fdFilt=$(median_ms "$json" 6)
    findFilt=$(median_ms "$json" 5)
    for i in "${!labels[@]}"; do
        ms=$(median_ms "$json" "$i")
        case $i in
        4 | 5 | 6) rf=$fdFilt rfi=$findFilt ;;
        *) rf=$fdFull rfi=$findFull ;;
        esac
        peak=$(eval "peak_kb $(printf '%s' "${cmds[$i]}")")
        awk -v l="${labels[$i]}" -v ms="$ms" -v rf="$rf" -v rfi="$rfi" -v n="$entries" -v peak="$peak" 'BEGIN {
            printf "%-52s %6.1fms %8.2f %8.2f %9.0f %8s\n", l, ms, ms / rf, ms / rfi, ms * 1e6 / n, peak }'
    done
    full=$(median_ms "$json" 1)
    filt=$(median_ms "$json" 4)
    star=$(median_ms "$json" 7)
    floor=$(median_ms "$json" 0)
    awk -v full="$full" -v filt="$filt" -v star="$star" -v floor="$floor" 'BEGIN {
        printf "filtered / full listing: %.2f   select * / without version: %.2f   full / 1-thread floor: %.2f\n",
            filt / full, star / full, full / floor }'
done
