#!/bin/sh
# lintian_check.sh BUILD OUT: makes the Debian package from the build tree BUILD (whose
# programs and documents are built already; cpack only installs and packs them) into OUT and
# runs lintian on it, informational and pedantic tags shown. It fails on any tag at all (the
# stripped programs lose .comment and .note, the hardening flags give bindnow and fortified
# functions, and the pages and documents are all there); a tag that has to stay would be
# overridden in packaging/lintian with its reason. Skips (77) when lintian is not installed.
set -u
build=$1
out=$2

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

if grep -qE '^[EWIPX]: ' "$out/lintian.txt"; then
    echo "lintian: $deb carries the tags above"
    exit 1
fi
echo "lintian: $deb carries no tag"
