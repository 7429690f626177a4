#!/usr/bin/env bash
# corvane-cli's documentation agrees with the program: every option that
# --help names is in the man page and is offered by the bash completion,
# every option the completion offers is one --help names, the man page
# renders without warnings, and the completion completes options and
# formats.
# Usage: cli_docs_test.sh CORVANE_CLI PACKAGING_DIR
set -uo pipefail
cli=$1 dir=$2
man=$dir/corvane-cli.1 completion=$dir/corvane-cli.bash-completion
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

help=$("$cli" --help) || fail "--help exits with an error"
mapfile -t help_options < <(grep -oE '(^|[][ ,(])--?[a-z][a-z-]*' <<<"$help" |
                            sed -E 's/^[][ ,(]//' | sort -u)
[ ${#help_options[@]} -ge 10 ] || fail "found only ${#help_options[@]} options in --help"

for option in "${help_options[@]}"; do
    # In the man source "--format" is written "\-\-format"; a longer
    # option with the same start does not count.
    pattern=$(sed 's/-/\\\\-/g' <<<"$option")
    grep -qE -- "$pattern([^a-z\\]|\$)" "$man" || fail "$option (in --help) is not in the man page"
done

# shellcheck source=/dev/null
source "$completion"
complete_words() { # words... -> what the completion offers for the last one
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    _corvane_cli
    echo "${COMPREPLY[*]}"
}
read -ra offered <<<"$(complete_words corvane-cli -)"
for option in "${help_options[@]}"; do
    [[ " ${offered[*]} " == *" $option "* ]] || fail "$option (in --help) is not completed"
done
for option in "${offered[@]}"; do
    [[ " ${help_options[*]} " == *" $option "* ]] || fail "$option is completed but not in --help"
done

check() { # expected, words...
    local expected=$1; shift
    local got
    got=$(complete_words "$@")
    [ "$got" = "$expected" ] || fail "completing '$*': '$got', expected '$expected'"
}
check "--format" corvane-cli --fo
check "table csv json" corvane-cli --format ""
check "csv" corvane-cli --format c
check "json" corvane-cli --format = j
check "" corvane-cli --main ""
check "" corvane-cli --memory-limit ""

if command -v groff >/dev/null; then
    warnings=$(groff -man -ww -z -t "$man" 2>&1)
    [ -z "$warnings" ] || fail "the man page has warnings: $warnings"
else
    echo "groff is not installed: the man page is not rendered"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "corvane-cli's help, man page and completion agree (${#help_options[@]} options)"
