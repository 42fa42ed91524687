#!/usr/bin/env bash
# The live map's figures (docs/PERFORMANCE.md, "Live map"), run by `make bench` after the
# Google Benchmark timings: bench/live_map/run_live_map_bench.sh BUILD [STEP...]
#   page-ready  the page with the big hunt (99 own plots, 3 vehicles x 99 plots, a 4-hour
#               track): navigation start to every feature drawn, in headless chromium
#   tiles       MBTiles tiles over loopback: one keep-alive client, then 8 for 10 s
#   latency     the panel's latency without map clients and while 8 load tiles and documents
#   plots       a plot (the space bar) to its line in an open page, 30 plots, 3 pages open
#   review      a plot left out of the fix from one open page, to its line and the new estimate
#               drawn in another, 20 times (left out and used again in turn), about 10 plots in
#   idle        the idle program: IDLE_PAGES (3) pages open for IDLE_SECONDS (60), the map off
#               for IDLE_OFF_SECONDS (30)
#   phones      the idle program shared, 3 pages and 3 phones (pages with the link's session)
#               open for IDLE_SECONDS, all in a network namespace of the step's own whose
#               only address besides loopback is a link-local one on a veth pair of its own
# All steps by default. Loopback only (the phones: inside their namespace); everything a step
# starts ends with it (by process id).
# About 6 minutes. The work files are in BUILD/bench/live_map/run/.
set -euo pipefail

build=$(cd "${1:?build directory (build-bench)}" && pwd)
shift
steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(page-ready tiles latency plots review idle phones)
here=$(cd "$(dirname "$0")" && pwd)
bin=$build/bench/live_map
app=$build/src/platform/qt/kestrelmap
sim=$build/tools/kestrel-sim/kestrel-sim
work=$bin/run
python=/usr/bin/python3  # Debian's, with python3-selenium
for exe in "$bin/kestrel_map_load" "$bin/kestrel_map_hunt_server" "$bin/kestrel_map_latency" \
    "$app" "$sim"; do
    [ -x "$exe" ] || { echo "live map bench: $exe is missing" >&2; exit 1; }
done
rm -rf "$work"
mkdir -p "$work/hunt/maps"

# The base map: 2,500 tiles of about 20 KiB, made once per build tree.
mbtiles=$bin/bench-area.mbtiles
if [ ! -s "$mbtiles" ] || [ "$here/make_mbtiles.py" -nt "$mbtiles" ]; then
    "$python" "$here/make_mbtiles.py" "$mbtiles"
fi
ln -s "$mbtiles" "$work/hunt/maps/bench-area.mbtiles"

pids=()
stop_started() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    pids=()
}
trap stop_started EXIT
trap 'exit 130' INT TERM

say() { echo "live map bench: $*"; }
load() { echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"; }

for step in "${steps[@]}"; do
    say "$step ($(load))"
    case $step in
        page-ready)
            "$python" "$here/browser_bench.py" "$work/page-ready" page-ready \
                "$bin/kestrel_map_hunt_server" "$work/hunt/"
            ;;
        tiles)
            "$bin/kestrel_map_hunt_server" --folder="$work/hunt/" --seconds=60 \
                >"$work/tiles-server.log" 2>&1 &
            pids+=("$!")
            port=""
            for _ in $(seq 300); do
                port=$(sed -n 's/^listening: //p' "$work/tiles-server.log")
                [ -n "$port" ] && break
                sleep 0.1
            done
            [ -n "$port" ] || { cat "$work/tiles-server.log" >&2; exit 1; }
            "$bin/kestrel_map_load" --port="$port" --clients=1 --requests=5000 --seconds=20
            "$bin/kestrel_map_load" --port="$port" --clients=8 --seconds=10
            stop_started
            ;;
        latency)
            QT_QPA_PLATFORM=offscreen "$bin/kestrel_map_latency" --load="$bin/kestrel_map_load" \
                --mbtiles="$mbtiles" --sentences=300 2>"$work/latency.log"
            ;;
        plots)
            "$python" "$here/browser_bench.py" "$work/plots" plots "$app" "$sim" 30
            ;;
        review)
            "$python" "$here/browser_bench.py" "$work/review" review "$app" "$sim" 20
            ;;
        idle)
            "$python" "$here/browser_bench.py" "$work/idle-on" idle "$app" "$sim" on \
                "${IDLE_SECONDS:-60}" "${IDLE_PAGES:-3}"
            "$python" "$here/browser_bench.py" "$work/idle-off" idle "$app" "$sim" off \
                "${IDLE_OFF_SECONDS:-30}"
            ;;
        phones)
            ns=km-bench-$$
            ip netns add "$ns"
            trap 'ip netns del "$ns" 2>/dev/null' EXIT
            ip -n "$ns" link set lo up
            ip -n "$ns" link add km-phones type veth peer name km-phones-b
            ip -n "$ns" link set km-phones-b up
            ip -n "$ns" addr add 169.254.79.1/24 dev km-phones
            ip -n "$ns" link set km-phones up
            ip netns exec "$ns" "$python" "$here/browser_bench.py" "$work/idle-phones" idle \
                "$app" "$sim" on "${IDLE_SECONDS:-60}" 3 3 169.254.79.1
            ip netns del "$ns"
            trap - EXIT
            ;;
        *)
            echo "live map bench: no step $step" >&2
            exit 2
            ;;
    esac
done
