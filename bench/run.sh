#!/usr/bin/env bash
# Times whole processes side by side on a deterministic synthetic tree:
# corvane-cli, find -printf, sqlite3's fsdir() and a minimal C++ walker (the
# floor: readdir + fstatat per entry). Prints medians of wall and CPU time
# (user + system), ratios to the walker and to find, the peak memory of
# each command, a join of two directories, statements with computed
# expressions against the same with plain columns, and text appends in a
# script loop.
#
#   bench/run.sh [RUNS]        (default 7 timed rounds after one warm-up)
#
# The commands of one tree run interleaved, round by round
# (bench/timeit.cpp), so that load from elsewhere on a shared machine hits
# them alike; CPU time is the steadier figure there. The trees are made once
# under bench/work/ (git-ignored, never part of the test suite); delete that
# folder to make them anew. Needs a Release build, which this script makes
# in build-bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
work=bench/work
mkdir -p "$work"

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF \
    -DCORVANE_DESKTOP=OFF >/dev/null
cmake --build build-bench -j2 --target corvane-cli corvane-bench-walk corvane-bench-gentree \
    corvane-bench-time >/dev/null
cli=$PWD/build-bench/cli/corvane-cli
walk=$PWD/build-bench/bench/corvane-bench-walk
gen=$PWD/build-bench/bench/corvane-bench-gentree
timeit=$PWD/build-bench/bench/corvane-bench-time

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

columns="path, filename, extension, shortname, creationtime, lastwritetime, lastaccesstime, size, attri, count, isdir, readOnly, hidden, data"

printf '%-44s %7s %7s %6s %6s %7s %7s %7s %8s\n' \
    "command" "wall ms" "CPU ms" "user" "sys" "wall×w" "CPU×w" "CPU×find" "peak KB"
for n in 20000 200000; do
    root=$PWD/$work/tree$n
    echo "-- tree of $n entries ($("$walk" "$root") listed by the walker)"
    labels=("walker (readdir + fstatat)" "find -printf '%p %s %T@ %m'")
    cmds=("$walk" "$root" --- find "$root" -printf '%p %s %T@ %m\n')
    if ((have_sqlite)); then
        labels+=("sqlite3 fsdir() name, mode, mtime")
        cmds+=(--- sqlite3 :memory: "select name, mode, mtime from fsdir('$root')")
    fi
    labels+=("corvane-cli csv, all columns but version"
        "corvane-cli csv, where size>100000 and .log")
    cmds+=(--- "$cli" --format csv "select $columns from '$root /s/all'"
        --- "$cli" --format csv "select $columns from '$root /s/all' where size > 100000 and extension = 'log'")
    mapfile -t results < <("$timeit" "$runs" "${cmds[@]}")
    read -r ww wc _ <<<"${results[0]}"
    read -r _ fc _ <<<"${results[1]}"
    for i in "${!labels[@]}"; do
        read -r wall cpu user sys peak <<<"${results[$i]}"
        awk -v l="${labels[$i]}" -v wall="$wall" -v cpu="$cpu" -v user="$user" -v sys="$sys" \
            -v peak="$peak" -v ww="$ww" -v wc="$wc" -v fc="$fc" 'BEGIN {
                printf "%-44s %7d %7d %6d %6d %7.2f %7.2f %7.2f %8d\n", l, wall, cpu, user, sys,
                    (ww > 0 ? wall / ww : 0), (wc > 0 ? cpu / wc : 0), (fc > 0 ? cpu / fc : 0), peak
            }'
    done
done

echo "-- join of two directories of 5000 files on a.filename = b.filename"
read -r wall cpu _ _ peak < <("$timeit" "$runs" "$cli" --format csv \
    "select a.filename, b.size from '$PWD/$work/join1' a, '$PWD/$work/join2' b where a.filename = b.filename")
printf '%-44s %7d %7d %44d\n' "corvane-cli join" "$wall" "$cpu" "$peak"
echo "rows: $("$cli" --format csv "select a.filename from '$PWD/$work/join1' a, '$PWD/$work/join2' b where a.filename = b.filename" | tail -n +2 | wc -l)"

# Computed expressions: the same listing and filter written with plain
# columns and with expressions. The expression of each operand is compiled
# once per statement and run per row; the target is at most 1.5x.
echo "-- computed expressions over the tree of 200000 entries (csv to /dev/null)"
root=$PWD/$work/tree200000
mapfile -t results < <("$timeit" "$runs" \
    "$cli" --format csv "select filename, size from '$root /s' where size > 10240" \
    --- "$cli" --format csv "select filename, size*2+1 from '$root /s' where size div 1024 > 10" \
    --- "$cli" --format csv "select filename, copy(filename,1,3), (yearof(lastwritetime)) from '$root /s' where (length(filename)) > 5")
read -r pw pc _ <<<"${results[0]}"
labels=("plain: filename, size where size > 10240" "expr: size*2+1 where size div 1024 > 10"
    "calls: copy, yearof where length > 5")
printf '%-44s %7s %7s %7s %7s\n' "" "wall ms" "CPU ms" "wall×p" "CPU×p"
for i in "${!labels[@]}"; do
    read -r wall cpu _ <<<"${results[$i]}"
    awk -v l="${labels[$i]}" -v wall="$wall" -v cpu="$cpu" -v pw="$pw" -v pc="$pc" 'BEGIN {
        printf "%-44s %7d %7d %7.2f %7.2f\n", l, wall, cpu, (pw > 0 ? wall / pw : 0), (pc > 0 ? cpu / pc : 0)
    }'
done

# Text appends in a script loop (s := s + 10 bytes): the text grows in
# place, so ten times the appends should take about ten times as long, not a
# hundred times. Before the append became amortised, 80 000 appends took
# about 1.6 s.
echo "-- script: s := s + 'abcdefghij' in a loop (corvane-cli --script)"
cat > "$work/append.pas" <<'PAS'
interface
function app(n: integer): integer;
implementation
function app(n: integer): integer;
var s: string; i: integer;
begin
  s := '';
  for i := 1 to n do
    s := s + 'abcdefghij';
  result := length(s);
end;
end.
PAS
mapfile -t results < <("$timeit" "$runs" \
    "$cli" --script "$work/append.pas" --main app --arg n=80000 \
    --- "$cli" --script "$work/append.pas" --main app --arg n=800000)
labels=("80 000 appends (800 KB)" "800 000 appends (8 MB)")
printf '%-44s %7s %7s %8s\n' "" "wall ms" "CPU ms" "peak KB"
for i in "${!labels[@]}"; do
    read -r wall cpu _ _ peak <<<"${results[$i]}"
    printf '%-44s %7d %7d %8d\n' "${labels[$i]}" "$wall" "$cpu" "$peak"
done
