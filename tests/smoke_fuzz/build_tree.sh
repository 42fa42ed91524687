#!/bin/sh
# build_tree.sh CMAKE TREE: builds the clang tree of the fuzz targets. On failure the targets
# are removed, so that the smoke tests fail with the build log's name instead of the whole
# build stopping over a compiler difference.
cmake=$1 tree=$2
if ! "$cmake" --build "$tree" -j 2 >"$tree/build.log" 2>&1; then
    rm -f "$tree"/fuzz/*_fuzz
    echo "fuzz targets: the clang build failed (see $tree/build.log); the fuzz smoke tests will fail"
fi
exit 0
