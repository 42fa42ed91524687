#!/bin/sh
# check_man_options.sh PROGRAM PAGE: every option (--name) that `PROGRAM --help` prints appears
# in the manual page PAGE, and every option the page names appears in the help. Comment lines
# of the page do not count. Every program answers --help at once: one that does not within
# five seconds fails.
set -u
program=$1
page=$2
name=$(basename "$program")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
HOME=$work QT_QPA_PLATFORM=offscreen timeout -k 2 5 "$program" --help >"$work/help" 2>"$work/err" ||
    status=$?
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "$name --help did not return within 5 s"
    exit 1
fi
if [ "$status" -ne 0 ]; then
    echo "$name --help ended with status $status:"
    cat "$work/err"
    exit 1
fi

# The options named in a text, one a line, sorted; "--cable-pull-*" names a group, no option.
options() { grep -o -- '--[a-z0-9][a-z0-9-]*' | grep -v -- '-$' | sort -u; }
options <"$work/help" >"$work/help.options"
# roff: drop comment lines, font changes (\fB ... \fR) and the escape of the minus sign (\-).
grep -v '^\.\\"' "$page" | sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' | options >"$work/page.options"

if [ ! -s "$work/help.options" ]; then
    echo "$name --help names no option at all"
    exit 1
fi
only_help=$(comm -23 "$work/help.options" "$work/page.options")
only_page=$(comm -13 "$work/help.options" "$work/page.options")
if [ -n "$only_help" ] || [ -n "$only_page" ]; then
    [ -z "$only_help" ] || echo "in $name --help, missing from $page:" $only_help
    [ -z "$only_page" ] || echo "in $page, not in $name --help:" $only_page
    exit 1
fi
echo "$name: $(wc -l <"$work/help.options") options, the same in --help and in $page"
