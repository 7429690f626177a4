#!/usr/bin/env bash
# Hashing throughput of the digest built-ins against the usual tools, and a
# duplicate search over a tree with a known set of duplicates.
#
#   bench/hash.sh [RUNS] [CLI]     (default 5 timed rounds after one warm-up;
#                                  CLI: a corvane-cli to use instead of the
#                                  Release build this script makes)
#
# 1. Throughput: 4 files of 64 MiB of random bytes, hashed by
#    corvane-cli "select sha256(path, filename) ..." (and md5, xxh128) and
#    by sha256sum / md5sum / xxhsum -H2 over the same files, every command
#    pinned to one core (taskset -c 0), the files in the page cache (the
#    warm-up round reads them). Prints median wall and CPU time, and the
#    throughput ratio corvane : tool (tool CPU time / ours; the goal: at
#    least 0.9), once for the whole processes and once net of each
#    program's fixed start-up (corvane-cli loads its libraries and settings
#    in some 25 ms of CPU, which 256 MiB do not amortise). On a shared
#    machine the CPU figures are the steadier ones. A ratio above 1 means
#    corvane-cli is the faster: sha256 is libcrypto's, which uses the SHA
#    instructions of the CPU where present, while coreutils' sha256sum is
#    portable C; `openssl dgst` is listed as a second reference for sha256
#    and md5 (the same library code as ours).
# 2. Duplicates: a generated tree of 3000 files of random bytes with 40
#    planted groups (25 pairs, 15 triples: 25 + 45 = 70 pairs of equal
#    files), searched with the join form and, when the CLI knows GROUP BY,
#    with the grouped report; the counts found are checked against the
#    planted ones.
#
# The data lives under bench/work/hash (git-ignored); delete it to make it
# anew. xxhsum comes with Debian's package xxhash (apt-get install xxhash).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
cli=${2:-}
work=bench/work/hash
mkdir -p "$work/files"

if [ -z "$cli" ]; then
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF \
        -DCORVANE_DESKTOP=OFF >/dev/null
    cmake --build build-bench -j2 --target corvane-cli corvane-bench-time >/dev/null
    cli=$PWD/build-bench/cli/corvane-cli
    timeit=$PWD/build-bench/bench/corvane-bench-time
else
    timeit=$(dirname "$cli")/../bench/corvane-bench-time
    [ -x "$timeit" ] || cmake --build "$(dirname "$cli")/.." --target corvane-bench-time >/dev/null
fi
command -v xxhsum >/dev/null || { echo "xxhsum missing: apt-get install xxhash" >&2; exit 1; }
pin=()
command -v taskset >/dev/null && pin=(taskset -c 0)

for i in 1 2 3 4; do
    f=$work/files/r$i.bin
    [ -f "$f" ] || head -c $((64 << 20)) /dev/urandom >"$f"
done
files=("$PWD/$work/files"/r*.bin)
total_mib=$((${#files[@]} * 64))
dir=$PWD/$work/files

echo "-- throughput: ${#files[@]} files, $total_mib MiB, one core, page cache warm"
echo "   (net: less each program's start-up, measured on the same folder without"
echo "   hashing for corvane-cli and on an empty file for the tools)"
: >"$work/empty"
echo "   ratio = corvane-cli's throughput / the tool's (above 1: corvane-cli faster)"
printf '%-34s %8s %8s %10s %10s %10s\n' "command" "wall ms" "CPU ms" "MiB/s net" "ratio CPU" "ratio net"
mapfile -t base < <("$timeit" "$runs" "${pin[@]}" "$cli" --format csv "select filename from '$dir'")
read -r _ bc _ <<<"${base[0]}"
for algo in sha256 md5 xxh128; do
    case $algo in
        sha256) tool=(sha256sum) ref=(openssl dgst -sha256) ;;
        md5) tool=(md5sum) ref=(openssl dgst -md5) ;;
        xxh128) tool=(xxhsum -H2) ref=() ;;
    esac
    mapfile -t results < <("$timeit" "$runs" \
        "${pin[@]}" "$cli" --format csv "select $algo(path, filename) from '$dir'" \
        --- "${pin[@]}" "${tool[@]}" "${files[@]}" \
        --- "${pin[@]}" "${tool[@]}" "$work/empty")
    read -r cw cc _ <<<"${results[0]}"
    read -r tw tc _ <<<"${results[1]}"
    read -r _ ec _ <<<"${results[2]}"
    awk -v a="$algo" -v t="${tool[*]}" -v cw="$cw" -v cc="$cc" -v tw="$tw" -v tc="$tc" \
        -v bc="$bc" -v ec="$ec" -v mib="$total_mib" 'BEGIN {
            cn = cc - bc; tn = tc - ec
            printf "%-34s %8d %8d %10.0f %10.2f %10.2f\n", "corvane-cli " a "(path, filename)", cw, cc,
                (cn > 0 ? mib * 1000 / cn : 0), (cc > 0 ? tc / cc : 0), (cn > 0 ? tn / cn : 0)
            printf "%-34s %8d %8d %10.0f\n", t, tw, tc, (tn > 0 ? mib * 1000 / tn : 0)
        }'
    if [ ${#ref[@]} -gt 0 ] && command -v openssl >/dev/null; then
        mapfile -t results < <("$timeit" "$runs" "${pin[@]}" "${ref[@]}" "${files[@]}" \
            --- "${pin[@]}" "${ref[@]}" "$work/empty")
        read -r rw rc _ <<<"${results[0]}"
        read -r _ rec _ <<<"${results[1]}"
        awk -v t="${ref[*]}" -v rw="$rw" -v rc="$rc" -v rec="$rec" -v cc="$cc" -v bc="$bc" \
            -v mib="$total_mib" 'BEGIN {
                cn = cc - bc; rn = rc - rec
                printf "%-34s %8d %8d %10.0f %10.2f %10.2f  (corvane-cli : openssl)\n", t, rw, rc,
                    (rn > 0 ? mib * 1000 / rn : 0), (cc > 0 ? rc / cc : 0), (cn > 0 ? rn / cn : 0)
            }'
    fi
done
printf '%-34s %8s %8d\n' "corvane-cli start-up (no hashing)" "" "$bc"
# The digests agree with the tools'.
for f in "${files[@]}"; do
    want=$(sha256sum "$f" | cut -d' ' -f1)
    got=$("$cli" --format csv "select sha256(path, filename) from '$dir' where filename = '$(basename "$f")'" | tail -n 1 | tr -d '\r')
    [ "$want" = "$got" ] || { echo "sha256 of $f differs: $got, sha256sum $want" >&2; exit 1; }
done

# ---- duplicates
tree=$PWD/$work/tree
if [ ! -d "$tree" ]; then
    mkdir -p "$tree"
    for ((i = 0; i < 3000; i++)); do
        d=$tree/d$((i % 30))
        mkdir -p "$d"
        head -c $((1 + (i * 7919) % 65536)) /dev/urandom >"$d/f$i.bin"
    done
    # 25 pairs and 15 triples: copies of existing files in other folders.
    for ((g = 0; g < 40; g++)); do
        src=$tree/d$((g % 30))/f$g.bin
        copies=$((g < 25 ? 1 : 2))
        for ((c = 1; c <= copies; c++)); do
            cp "$src" "$tree/d$(((g + c * 7) % 30))/copy${g}_$c.bin"
        done
    done
fi
echo "-- duplicates: $(find "$tree" -type f | wc -l) files in $tree, planted 40 groups, 70 pairs"
join="select a.path, a.filename, b.path, b.filename from '$tree /s' a, '$tree /s' b where a.size = b.size and a.size > 0 and fullname(a.path, a.filename) < fullname(b.path, b.filename) and xxh128(a.path, a.filename) = xxh128(b.path, b.filename)"
pairs=$("$cli" --format csv "$join" | tail -n +2 | wc -l)
read -r wall cpu _ _ peak < <("$timeit" 1 "$cli" --format csv "$join")
printf '%-34s %8d %8d   pairs found: %d (planted 70)   peak %d KB\n' "join form" "$wall" "$cpu" "$pairs" "$peak"
[ "$pairs" -eq 70 ] || { echo "the join form found $pairs pairs, not 70" >&2; exit 1; }
report="select xxh128(path, filename) h, count(*) n, sum(size) bytes from '$tree /s' where size > 0 group by h having n > 1 order by bytes desc"
if "$cli" --check "$report" >/dev/null 2>&1; then
    groups=$("$cli" --format csv "$report" | tail -n +2 | wc -l)
    read -r wall cpu _ _ peak < <("$timeit" 1 "$cli" --format csv "$report")
    printf '%-34s %8d %8d   groups found: %d (planted 40)   peak %d KB\n' "group by report" "$wall" "$cpu" "$groups" "$peak"
    [ "$groups" -eq 40 ] || { echo "the report found $groups groups, not 40" >&2; exit 1; }
else
    echo "group by report: this corvane-cli has no GROUP BY"
fi
