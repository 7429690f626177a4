#!/usr/bin/env bash
# Installs the Debian package that scripts/package.sh made with apt-get, as
# a user would, and checks the installed program: the files are where the
# desktop looks for them, every library the programs load directly comes
# from a package the package depends on, corvane-cli prints its version and
# answers a query over a folder from /usr/bin, and the desktop program,
# shown on a virtual X display (Xvfb; Qt's offscreen platform when xvfb-run
# is missing), opens a project given as its argument with config.ini in the
# user's configuration directory (not in /usr/bin, which root may write).
# The package is removed again afterwards unless it was installed before.
# Needs root (or sudo).
# Usage: scripts/package-check.sh [corvane_<version>_<arch>.deb]
# With CORVANE_CHECK_SCREEN=FILE, the virtual screen showing the desktop
# program is saved to FILE (XWD format, e.g. convert xwd:FILE shot.png).
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
pid=   # the desktop program's display (xvfb-run) or the program
# Ends the desktop program; xvfb-run then stops its X server itself.
stop_desktop() {
    [ -n "$pid" ] || return 0
    if [ -s "$work/corvane.pid" ]; then
        kill "$(cat "$work/corvane.pid")" 2>/dev/null || true
    else
        kill "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
    pid=
}

cleanup() {
    stop_desktop
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

# What the package holds, and what is on disk after installing it (a slim
# image may tell dpkg to leave out /usr/share/man and /usr/share/doc).
files=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -E 's|^\./|/|; s|/$||')
excluded=$(cat /etc/dpkg/dpkg.cfg /etc/dpkg/dpkg.cfg.d/* 2>/dev/null |
           sed -nE 's/^path-exclude[= ]+//p') || true
has() { # file... : in the package and installed
    local f p skip
    for f in "$@"; do
        if ! grep -qxF "$f" <<<"$files"; then
            fail "the package does not hold $f"
            continue
        fi
        skip=no
        while read -r p; do
            # shellcheck disable=SC2053  # the pattern is a glob
            [ -n "$p" ] && [[ $f == $p ]] && skip=yes
        done <<<"$excluded"
        [ -e "$f" ] || [ "$skip" = yes ] || fail "$f is not installed"
    done
}
has /usr/bin/corvane-cli /usr/share/man/man1/corvane-cli.1.gz /usr/share/corvane/readme.html \
    /usr/share/bash-completion/completions/corvane-cli
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
if command -v man >/dev/null && [ -f /usr/share/man/man1/corvane-cli.1.gz ]; then
    man -w corvane-cli >/dev/null 2>&1 || fail "man does not find corvane-cli(1)"
fi

if [ "$desktop" = yes ]; then
    echo "== the installed desktop program"
    corvane --version || fail "corvane --version failed"
    has /usr/bin/corvane /usr/share/applications/corvane.desktop \
        /usr/share/mime/packages/corvane.xml /usr/share/icons/hicolor/scalable/apps/corvane.svg \
        /usr/share/icons/hicolor/48x48/apps/corvane.png
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
    mkdir -p "$work/home" "$work/screen"
    display=(env QT_QPA_PLATFORM=offscreen)
    if command -v xvfb-run >/dev/null; then
        display=(xvfb-run -a -s "-screen 0 1280x800x24 -fbdir $work/screen" env QT_QPA_PLATFORM=xcb)
    else
        echo "xvfb-run is not installed (xvfb): the desktop program runs on Qt's offscreen platform"
    fi
    # The started program writes its process id, which ends it later.
    (cd "$work/data" && HOME=$work/home XDG_CONFIG_HOME= exec "${display[@]}" \
        sh -c 'echo $$ >"$0" && exec corvane query.cvq' "$work/corvane.pid" \
        >"$work/corvane.log" 2>&1) &
    pid=$!
    ini=$work/home/.config/Corvane/config.ini
    for _ in $(seq 1 300); do
        [ -f "$ini" ] && grep -q "query.cvq" "$ini" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -f "$ini" ] && grep -qxF "file1=$project" "$ini"; then
        echo "opened $project; settings in ~/${ini#"$work/home/"}"
    else
        fail "corvane did not open the project with ~/.config/Corvane/config.ini"
        find "$work/home" -name config.ini
        cat "$work/corvane.log"
    fi
    if [ -e /usr/bin/config.ini ]; then fail "corvane wrote /usr/bin/config.ini"; fi
    sleep 1   # the window is drawn; an early end shows here
    kill -0 "$pid" 2>/dev/null || { fail "corvane ended early"; cat "$work/corvane.log"; }
    if [ -n "${CORVANE_CHECK_SCREEN:-}" ] && [ -f "$work/screen/Xvfb_screen0" ]; then
        cp "$work/screen/Xvfb_screen0" "$CORVANE_CHECK_SCREEN"
    fi
    stop_desktop
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "== the package installs and works"
