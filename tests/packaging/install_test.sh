#!/usr/bin/env bash
# The install tree: `cmake --install` into a scratch prefix lays out every
# file a Linux desktop expects, the desktop entry and the project file type
# pass their validators and agree with each other, the icons have the sizes
# their folders say, the installed programs print the version and
# corvane-cli answers a query; the installed desktop program opens a
# project named on its command line and keeps config.ini in the user's
# configuration directory, not beside the program (whose folder is writable
# here, as /usr/bin is for root).
# Usage: install_test.sh BUILD_DIR VERSION DESKTOP(ON|OFF)
set -uo pipefail
build=$1 version=$2 desktop=$3
work=$(mktemp -d)
pid=
cleanup() {
    if [ -n "$pid" ]; then { kill "$pid"; wait "$pid"; } 2>/dev/null; fi
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures failed"
        exit 1
    fi
    echo "install tree complete"
    exit 0
}

prefix=$work/usr
if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    fail "cmake --install failed"
    finish
fi

sizes=(16 24 32 48 64 128 256)
expected=(bin/corvane-cli share/man/man1/corvane-cli.1.gz
          share/bash-completion/completions/corvane-cli share/corvane/readme.html
          share/doc/corvane/copyright share/doc/corvane/changelog.gz)
if [ "$desktop" = ON ]; then
    expected+=(bin/corvane share/man/man1/corvane.1.gz share/applications/corvane.desktop
               share/mime/packages/corvane.xml share/icons/hicolor/scalable/apps/corvane.svg)
    for s in "${sizes[@]}"; do expected+=("share/icons/hicolor/${s}x${s}/apps/corvane.png"); done
fi
for f in "${expected[@]}"; do
    [ -f "$prefix/$f" ] || fail "$f is not installed"
done
for f in bin/corvane-cli bin/corvane; do
    [ -e "$prefix/$f" ] && { [ -x "$prefix/$f" ] || fail "$f is not executable"; }
done

# The package's change log names this version in its newest entry.
top=$(gzip -dc "$prefix/share/doc/corvane/changelog.gz" 2>/dev/null | head -n 1)
[ "$top" = "corvane ($version) unstable; urgency=medium" ] ||
    fail "packaging/changelog begins '$top', not with version $version"

# Every picture the manual shows is installed beside it.
while read -r src; do
    [ -f "$prefix/share/corvane/$src" ] || fail "the manual shows $src, which is not installed"
done < <(grep -oE "src=[\"'][^\"':]+[\"']" "$prefix/share/corvane/readme.html" |
         sed -E "s/^src=[\"']//; s/[\"']$//")

# The versions, and a query over a folder.
version_re="^corvane-cli ${version//./\\.}( \(commit [0-9a-f]{4,}\))?$"
out=$("$prefix/bin/corvane-cli" --version) || fail "corvane-cli --version exits with an error"
[[ $out =~ $version_re ]] || fail "corvane-cli --version printed '$out'"
mkdir -p "$work/data/sub"
printf 'hello\n' >"$work/data/a.txt"
out=$("$prefix/bin/corvane-cli" --format csv \
      "select filename, size from '$work/data' where isdir = false") ||
    fail "the installed corvane-cli failed a query"
[ "$out" = $'filename,size\r\na.txt,6\r' ] || fail "the installed corvane-cli printed '$out'"

if command -v groff >/dev/null; then
    for page in "$prefix"/share/man/man1/*.gz; do
        warnings=$(gzip -dc "$page" | groff -man -ww -z -t 2>&1)
        [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
    done
fi

[ "$desktop" = ON ] || finish

out=$("$prefix/bin/corvane" --version) || fail "corvane --version exits with an error"
[[ $out =~ ${version_re/corvane-cli/corvane} ]] || fail "corvane --version printed '$out'"

# PNG: width and height are the big-endian words at bytes 16 and 20.
for s in "${sizes[@]}"; do
    png=$prefix/share/icons/hicolor/${s}x${s}/apps/corvane.png
    read -ra b < <(od -An -tu1 -j16 -N8 "$png")
    w=$(((b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3]))
    h=$(((b[4] << 24) | (b[5] << 16) | (b[6] << 8) | b[7]))
    [ "$w" = "$s" ] && [ "$h" = "$s" ] || fail "the ${s}x${s} icon is ${w}x${h}"
done

entry=$prefix/share/applications/corvane.desktop
if command -v desktop-file-validate >/dev/null; then
    out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"
    [ -z "$out" ] || fail "desktop-file-validate: $out"
else
    echo "desktop-file-validate is not installed (desktop-file-utils): the entry is not validated"
fi
grep -qx 'Exec=corvane %f' "$entry" || fail "the desktop entry does not pass the file to corvane"
grep -qx 'Icon=corvane' "$entry" || fail "the desktop entry does not name the installed icon"
grep -q '^Name\[zh_CN\]=' "$entry" || fail "the desktop entry has no Chinese name"
grep -qx 'Categories=Utility;FileTools;' "$entry" || fail "the desktop entry's categories"
type=$(sed -nE 's/^MimeType=([^;]+);$/\1/p' "$entry")
grep -qF "<mime-type type=\"$type\">" "$prefix/share/mime/packages/corvane.xml" ||
    fail "the desktop entry's MimeType '$type' is not the one the definition gives"
if command -v update-mime-database >/dev/null; then
    if update-mime-database "$prefix/share/mime" >"$work/mime.log" 2>&1; then
        grep -q ":$type:\*\.cvq" "$prefix/share/mime/globs2" ||
            fail "the mime database does not map *.cvq to $type"
        grep -q "corvane $type" "$prefix/share/mime/XMLnamespaces" ||
            fail "the mime database does not know the root element corvane"
    else
        fail "update-mime-database: $(cat "$work/mime.log")"
    fi
fi

# The installed desktop program opens the project given as its argument;
# opening puts the project on the recent list, which writes config.ini.
project=$work/data/query.cvq
printf '%s' "<?xml version=\"1.0\" encoding=\"GB2312\" ?><corvane><dirlist><dir alias='a'><![CDATA[\"$work/data\"]]></dir></dirlist><sql><![CDATA[select a.filename from \"$work/data\" a]]></sql></corvane>" >"$project"
mkdir -p "$work/home" "$work/config"
(cd "$work/data" && HOME=$work/home XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen \
    exec "$prefix/bin/corvane" query.cvq >"$work/corvane.log" 2>&1) &
pid=$!
ini=$work/config/Corvane/config.ini
for _ in $(seq 1 300); do
    [ -f "$ini" ] && grep -q "query.cvq" "$ini" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if [ ! -f "$ini" ]; then
    fail "the installed corvane wrote no config.ini in the user's configuration directory" \
         "(XDG_CONFIG_HOME/Corvane): $(find "$work" -name config.ini)"
    cat "$work/corvane.log"
elif ! grep -qxF "file1=$project" "$ini"; then
    fail "the installed corvane did not open $project: $(cat "$ini")"
fi
[ -e "$prefix/bin/config.ini" ] && fail "the installed corvane wrote config.ini beside itself"
kill -0 "$pid" 2>/dev/null || fail "the installed corvane ended early: $(cat "$work/corvane.log")"
finish
