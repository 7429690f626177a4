#!/usr/bin/env bash
# Checks that every #include of the sources runs down the layer graph of
# layers.txt: a file of a layer may include headers of its own layer and of
# the layers it builds on, directly or through others, and nothing above or
# beside it. Each include against the graph is printed as
#     <file>:<line>: layer <L> must not include "<header>" (layer <M>)
# and the script exits 1; 0 when all agree, 2 for a malformed layers.txt.
# Includes that name no layer folder (system headers, the generated version
# header) are not checked. Tests and benchmarks are no layer.
#
# Usage: scripts/check-layers.sh [SOURCE_ROOT]   (default: this checkout)
# With STAMP=<file> in the environment the file is touched on success (the
# build's custom step uses it).
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

files=()
while IFS= read -r layer; do
    [ -d "$layer" ] || continue
    while IFS= read -r -d '' f; do files+=("$f"); done \
        < <(find "$layer" -maxdepth 1 -type f \( -name '*.h' -o -name '*.cpp' \) -print0)
done < <(awk -F: '!/^[ \t]*(#|$)/ { gsub(/[ \t]/, "", $1); print $1 }' layers.txt)

awk '
    # Reads layers.txt (the first file), then checks every source file.
    FNR == NR {
        if ($0 ~ /^[ \t]*(#|$)/) next
        if (index($0, ":") == 0) { print "layers.txt:" FNR ": no \":\" after the layer name"; bad = 2; next }
        name = $0; sub(/:.*/, "", name); gsub(/[ \t]/, "", name)
        rest = $0; sub(/^[^:]*:/, "", rest)
        n = split(rest, below, /[ \t]+/)
        layers[name] = 1; order[++count] = name
        for (i = 1; i <= n; i++) if (below[i] != "") {
            if (!(below[i] in layers)) { print "layers.txt:" FNR ": \"" below[i] "\" is not a layer listed above \"" name "\""; bad = 2 }
            direct[name, below[i]] = 1
        }
        next
    }
    FNR == 1 && !closed { close_graph(); closed = 1 }
    /^[ \t]*#[ \t]*include[ \t]*"/ {
        header = $0; sub(/^[^"]*"/, "", header); sub(/".*$/, "", header)
        to = layer_of(header); if (to == "") next
        from = layer_of(FILENAME)
        if (from == to || allowed[from, to]) next
        printf "%s:%d: layer %s must not include \"%s\" (layer %s)\n", FILENAME, FNR, from, header, to
        failures++
    }
    # A path belongs to the layer with the longest folder that starts it.
    function layer_of(path,    best, l) {
        best = ""
        for (l in layers)
            if (index(path, l "/") == 1 && length(l) > length(best)) best = l
        return best
    }
    # allowed[a, b]: a builds on b, directly or through other layers. Lower
    # layers are listed first, so one pass in file order closes the graph.
    function close_graph(    i, j, a, b, c) {
        for (i = 1; i <= count; i++) {
            a = order[i]
            for (j = 1; j <= count; j++) {
                b = order[j]
                if (!direct[a, b]) continue
                allowed[a, b] = 1
                for (c in layers) if (allowed[b, c]) allowed[a, c] = 1
            }
        }
    }
    END {
        if (bad) exit bad
        if (failures) { printf "%d include(s) against the layers of layers.txt\n", failures; exit 1 }
    }
' layers.txt "${files[@]}"

if [ -n "${STAMP:-}" ]; then touch "$STAMP"; fi
