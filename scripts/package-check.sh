#!/usr/bin/env bash
# Installs the Debian package that scripts/package.sh made with apt-get, as
# a user would, and checks the installed program: the files are where the
# desktop looks for them, every library the programs load directly comes
# from a package the package depends on, corvane-cli prints its version and
# answers a query over a folder from /usr/bin, and the desktop program
# (on Qt's offscreen platform) opens a project given as its argument with
# config.ini in the user's configuration directory (not in /usr/bin, which
# root may write). The package is removed again afterwards unless it was
# installed before. Needs root (or sudo).
# Usage: scripts/package-check.sh [corvane_<version>_<arch>.deb]
set -euo pipefail
cd "$(dirname "$0")/.."
deb=${1:-}
if [ -z "$deb" ]; then
    debs=(corvane_*.deb)
    deb=${debs[0]}
fi
[ -f "$deb" ] || { echo "no package $deb: run scripts/package.sh first"; exit 1; }
case $deb in /* | ./*) ;; *) deb=./$deb ;; esac

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
installed_before=no
dpkg-query -W -f='${Status}' corvane 2>/dev/null | grep -q "install ok installed" &&
    installed_before=yes
work=$(mktemp -d)
pid=
cleanup() {
    if [ -n "$pid" ]; then { kill "$pid"; wait "$pid"; } 2>/dev/null || true; fi
    rm -rf "$work"
    if [ "$installed_before" = no ]; then
        $SUDO apt-get remove -y -qq corvane >/dev/null 2>&1 || true
    fi
}
trap cleanup EXIT

echo "== apt-get install $deb"
# Recommends (a CJK font, xdg-utils) are left out: this checks what the
# package needs, and keeps the machine as it was.
$SUDO apt-get install -y -qq --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

files=$(dpkg -L corvane)
for f in /usr/bin/corvane-cli /usr/share/man/man1/corvane-cli.1.gz /usr/share/corvane/readme.html \
         /usr/share/bash-completion/completions/corvane-cli; do
    grep -qxF "$f" <<<"$files" || fail "the package does not install $f"
done
desktop=no
grep -qxF /usr/bin/corvane <<<"$files" && desktop=yes

# Libraries: every DT_NEEDED of the programs belongs to a package in Depends.
depends=$(dpkg-query -W -f='${Depends}' corvane | tr ',|' '\n\n' | sed -E 's/^ *([^ (]+).*/\1/')
for program in /usr/bin/corvane-cli /usr/bin/corvane; do
    [ -x "$program" ] || continue
    # (The dynamic loader, ld-linux, is libc6's and has no "=>" line.)
    for lib in $(objdump -p "$program" | awk '/NEEDED/ && $2 !~ /^ld-linux/ {print $2}'); do
        path=$(ldd "$program" | awk -v lib="$lib" '$1 == lib && $2 == "=>" {print $3}')
        [ -n "$path" ] || { fail "$program: $lib is not found"; continue; }
        owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "$(readlink -f "$path")" 2>/dev/null ||
                dpkg -S "/usr$path" 2>/dev/null || true)
        owner=${owner%%:*}
        [ -n "$owner" ] || { fail "$program: no package owns $path ($lib)"; continue; }
        grep -qxF "$owner" <<<"$depends" ||
            fail "$program needs $lib from $owner, which is not in Depends"
    done
done

echo "== the installed corvane-cli"
out=$(cd / && corvane-cli --version) || fail "corvane-cli --version failed"
echo "$out"
[[ $out =~ ^corvane-cli\ [0-9]+\.[0-9]+\.[0-9]+ ]] || fail "corvane-cli --version printed '$out'"
[ "$(command -v corvane-cli)" = /usr/bin/corvane-cli ] || fail "corvane-cli is not /usr/bin's"
mkdir -p "$work/data/sub"
printf 'hello\n' >"$work/data/a.txt"
printf 'hi\n' >"$work/data/sub/b.log"
out=$(cd / && corvane-cli --format csv \
      "select filename, size from '$work/data /s' where isdir = false order by filename") ||
    fail "corvane-cli failed a query"
printf '%s\n' "$out"
[ "$out" = $'filename,size\r\na.txt,6\r\nb.log,3\r' ] || fail "the query printed the wrong rows"
if command -v man >/dev/null; then
    man -w corvane-cli >/dev/null 2>&1 || fail "man does not find corvane-cli(1)"
fi

if [ "$desktop" = yes ]; then
    echo "== the installed desktop program"
    corvane --version || fail "corvane --version failed"
    for f in /usr/share/applications/corvane.desktop /usr/share/mime/packages/corvane.xml \
             /usr/share/icons/hicolor/scalable/apps/corvane.svg \
             /usr/share/icons/hicolor/48x48/apps/corvane.png; do
        grep -qxF "$f" <<<"$files" || fail "the package does not install $f"
    done
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate /usr/share/applications/corvane.desktop ||
            fail "desktop-file-validate"
    fi
    if [ -f /usr/share/mime/globs2 ]; then
        grep -q ':application/x-corvane-project:\*\.cvq' /usr/share/mime/globs2 ||
            fail "the mime database (updated by the package's trigger) does not know *.cvq"
    fi
    project=$work/data/query.cvq
    printf '%s' "<?xml version=\"1.0\" encoding=\"GB2312\" ?><corvane><dirlist><dir alias='a'><![CDATA[\"$work/data\"]]></dir></dirlist><sql><![CDATA[select a.filename from \"$work/data\" a]]></sql></corvane>" >"$project"
    mkdir -p "$work/home"
    (cd "$work/data" && HOME=$work/home XDG_CONFIG_HOME= QT_QPA_PLATFORM=offscreen \
        exec corvane query.cvq >"$work/corvane.log" 2>&1) &
    pid=$!
    ini=
    for _ in $(seq 1 300); do
        ini=$(find "$work/home/.config" -name config.ini 2>/dev/null | head -n 1) || true
        [ -n "$ini" ] && grep -q "query.cvq" "$ini" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -n "$ini" ] && grep -qxF "file1=$project" "$ini"; then
        echo "opened $project; settings in ${ini#"$work/home/"} (home)"
    else
        fail "corvane did not open the project with config.ini under ~/.config"
        cat "$work/corvane.log"
    fi
    if [ -e /usr/bin/config.ini ]; then fail "corvane wrote /usr/bin/config.ini"; fi
    { kill "$pid"; wait "$pid"; } 2>/dev/null || true
    pid=
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "== the package installs and works"
