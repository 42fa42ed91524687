#!/bin/sh
# lintian_check.sh BUILD OUT: makes the Debian package from the build tree BUILD (whose
# programs and documents are built already; cpack only installs and packs them) into OUT and
# runs lintian on it. It fails on any error or warning and on any informational tag that is
# not listed below with its reason. Skips (77) when lintian is not installed.
set -u
build=$1
out=$2

# Informational and pedantic tags the package may carry, one a line, each with a comment on
# why it stays. None does today: the stripped programs lose .comment and .note, the hardening
# flags give bindnow and fortified functions, and the pages and documents are all there.
allowed_info=""

if ! command -v lintian >/dev/null 2>&1; then
    echo "lintian is not installed (make test installs it): skipped"
    exit 77
fi
rm -rf "$out"
mkdir -p "$out"
if ! (cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1); then
    cat "$out/cpack.log"
    exit 1
fi
deb=$(ls "$out"/kestrelmap_*.deb)
lintian --display-info --pedantic --tag-display-limit 0 "$deb" >"$out/lintian.txt" 2>&1
cat "$out/lintian.txt"

failed=0
while read -r severity package tag rest; do
    case $severity in
        E: | W:)
            echo "not allowed: $severity $tag $rest"
            failed=1
            ;;
        I: | P:)
            if ! printf '%s\n' "$allowed_info" | grep -qx "$tag"; then
                echo "not in the list of allowed informational tags: $severity $tag $rest"
                failed=1
            fi
            ;;
    esac
done <"$out/lintian.txt"
[ "$failed" -eq 0 ] && echo "lintian: $deb has no error, no warning and no unlisted tag"
exit "$failed"
