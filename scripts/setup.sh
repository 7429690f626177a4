#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing.
# Usage: scripts/setup.sh [extra package...]
set -euo pipefail

packages=(cmake ninja-build g++ make libgtest-dev libgmock-dev
          # Regular expressions (regexp, regexp_like and the like).
          libre2-dev pkg-config
          # File contents: digests (libcrypto, xxHash) and content types
          # (libmagic).
          libssl-dev libxxhash-dev libmagic-dev
          # The desktop program: Qt 6 Widgets, QScintilla for the SQL editor,
          # Qt's own Chinese texts for the standard dialogs, a virtual
          # display for screenshots and a font with CJK glyphs (without it
          # every Chinese caption is a box).
          qt6-base-dev libqscintilla2-qt6-dev qt6-translations-l10n libgl-dev xvfb xauth
          fonts-wqy-microhei
          # The Debian package (scripts/package.sh): dpkg-shlibdeps and file
          # for CPack, and the checkers of the installed desktop entry,
          # project file type and man pages.
          dpkg-dev file desktop-file-utils shared-mime-info groff-base
          # The ignore-file tests compare the listing with git check-ignore;
          # bench/gitignore.sh times /gitignore against fd.
          git fd-find
          "$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
