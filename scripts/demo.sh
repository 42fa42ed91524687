#!/usr/bin/env bash
# A hunt without hardware: `make demo` runs this as `scripts/demo.sh <builddir>`.
#
# It makes a scratch Kestrelmap folder under the build tree (never the user's own), starts
# kestrel-sim there on COM1, and starts Kestrelmap with HOME pointing at the scratch folder's
# parent. With a display the operator plays and the demo ends when Kestrelmap is closed.
# Without one (DISPLAY unset) the window runs under Xvfb and the script plays the operator:
# it clicks GPS POS and DF BRG, makes plots with the space bar while the simulator sends
# "@PLOT", saves a screenshot, answers the close question with OK and prints where the
# screenshot and the two map files are. That run ends by itself within a minute.
# DF=kraken takes the bearings from the simulated KrakenSDR on the network instead of the
# serial line: kestrel-sim serves them on a free loopback port (--kraken 0 --no-df) and
# Kestrelmap asks there (--df kraken:127.0.0.1:PORT).
set -euo pipefail

build=${1:-build}
if [ ! -d "$build" ]; then
    echo "demo: no build directory $build (run make demo)" >&2
    exit 1
fi
build=$(cd "$build" && pwd)
app=$build/src/platform/qt/kestrelmap
sim=$build/tools/kestrel-sim/kestrel-sim
for exe in "$app" "$sim"; do
    if [ ! -x "$exe" ]; then
        echo "demo: $exe is missing (run make demo, which builds it)" >&2
        exit 1
    fi
done

demo=$build/demo
home=$demo/home
folder=$home/Kestrelmap
rm -rf "$demo"
mkdir -p "$folder"

# Where kestrel-sim hides the transmitter in the run without a display.
tx_lat=34.4120
tx_lon=-119.7320
# The live map's port (MAP_PORT=0 runs the demo without it).
map_port=${MAP_PORT:-8421}
# Where the bearings come from: the serial line (DF unset or empty) or the Kraken (DF=kraken).
df=${DF:-}
sim_df_args=()
app_df_args=()
case $df in
    "") ;;
    kraken) sim_df_args=(--no-df --kraken 0) ;;
    *)
        echo "demo: DF=$df: expected DF=kraken, or no DF for the serial line" >&2
        exit 2
        ;;
esac

# shellcheck source=scripts/started_processes.sh
. "$(dirname "$0")/started_processes.sh"

alive() { kill -0 "$1" 2>/dev/null; }
gone() { ! kill -0 "$1" 2>/dev/null; }

start_sim() {
    # The transmitter hides 3.2 miles north-east of the start; the drive does not stop during
    # the short headless run, so every plot carries a bearing line.
    "$sim" --folder "$folder" --port 1 --wall-clock --seed 7 "${sim_df_args[@]}" "$@" \
        >"$demo/kestrel-sim.log" 2>&1 &
    sim_pid=$!
    pids+=("$sim_pid")
    if ! wait_for 50 test -L "$folder/COM1"; then
        echo "demo: kestrel-sim did not link $folder/COM1; its log:" >&2
        cat "$demo/kestrel-sim.log" >&2
        exit 1
    fi
    if [ "$df" = kraken ]; then
        # "kestrel-sim: Kraken on http://127.0.0.1:PORT/DOA_value.html", before the link.
        kraken_port=$(sed -n 's|^kestrel-sim: Kraken on http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' \
            "$demo/kestrel-sim.log" | head -1)
        if [ -z "$kraken_port" ]; then
            echo "demo: kestrel-sim told no Kraken port; its log:" >&2
            cat "$demo/kestrel-sim.log" >&2
            exit 1
        fi
        app_df_args=(--df "kraken:127.0.0.1:$kraken_port")
        echo "demo: kestrel-sim plays the KrakenSDR on http://127.0.0.1:$kraken_port/DOA_value.html"
    fi
}

print_files() {
    local hunt
    echo "demo: Kestrelmap folder:  $folder"
    for hunt in "$folder"/*.kml; do
        [ -e "$hunt" ] || continue
        if [ "$(basename "$hunt")" = Live_Hunt.kml ]; then
            echo "demo: live map link:      $hunt"
        elif [[ $hunt == *_estimate.kml || $hunt == */Current_Estimate.kml ]]; then
            echo "demo: estimate map:       $hunt"
        else
            echo "demo: map file:           $hunt ($(grep -c '<Placemark>' "$hunt" || true) plots)"
        fi
    done
}

# The transmitter estimate from the hunt's plot log, and how far it lies from where kestrel-sim
# hid the transmitter (great-circle distance, good to a few metres at this range).
print_estimate() {
    local estimate=$build/tools/kestrel-estimate/kestrel-estimate
    [ -x "$estimate" ] && [ -f "$folder/Current_Plots.csv" ] || return 0
    echo "demo: plot log:           $folder/Current_Plots.csv"
    echo "demo: transmitter:        $tx_lat, $tx_lon (where kestrel-sim hid it)"
    "$estimate" "$folder/Current_Plots.csv" | sed 's/^/demo:   /'
    "$estimate" --json "$folder/Current_Plots.csv" | awk -v tlat="$tx_lat" -v tlon="$tx_lon" '
        function num(key,   m) {
            if (match($0, "\"" key "\": *-?[0-9.eE+-]+")) {
                m = substr($0, RSTART, RLENGTH); sub(/^[^:]*: */, "", m); return m + 0
            }
            return ""
        }
        /"shown": *true/ {
            r = 6371008.8; d = atan2(0, -1) / 180
            a = sin((num("lat") - tlat) * d / 2) ^ 2 + \
                cos(num("lat") * d) * cos(tlat * d) * sin((num("lon") - tlon) * d / 2) ^ 2
            printf "demo: estimate error:     %.0f m from the simulated transmitter " \
                   "(95%% ellipse %.0f x %.0f m, major axis %.0f deg)\n",
                   2 * r * atan2(sqrt(a), sqrt(1 - a)), num("semi_major_m"),
                   num("semi_minor_m"), num("major_azimuth_deg")
        }'
}

if [ -n "${DISPLAY:-}" ]; then
    start_sim --plot-every 60
    if [ "$df" = kraken ]; then
        echo "demo: kestrel-sim plays a GPS on $folder/COM1"
    else
        echo "demo: kestrel-sim plays a GPS and a direction finder on $folder/COM1"
    fi
    echo "demo: click GPS POS and DF BRG, press the space bar to plot; EXIT ends the demo"
    if [ "$map_port" != 0 ]; then
        echo "demo: live map:           http://127.0.0.1:$map_port/ (opens in the web browser)"
        HOME=$home "$app" "${app_df_args[@]}" --map-port "$map_port" --open-map \
            >"$demo/kestrelmap.log" 2>&1 &
    else
        HOME=$home "$app" "${app_df_args[@]}" --map-port 0 >"$demo/kestrelmap.log" 2>&1 &
    fi
    app_pid=$!
    pids+=("$app_pid")
    wait "$app_pid" || true
    print_files
    exit 0
fi

# --- headless: Xvfb and xdotool play the operator ------------------------------------------
for tool in Xvfb xdotool import; do
    if ! command -v "$tool" >/dev/null; then
        echo "demo: $tool is missing (make demo installs xvfb, xdotool and imagemagick)" >&2
        exit 1
    fi
done
deadline=$((SECONDS + 85))
check_time() {
    if ((SECONDS > deadline)); then
        echo "demo: giving up: $1" >&2
        exit 1
    fi
}

start_private_xvfb "$demo/xvfb.log"
display=$DISPLAY

# A short hunt that still gives the estimate a fair view: the transmitter a few hundred metres
# from the start, where the seeded drive goes round it
# (tx_lat/tx_lon), a brisk drive with turns and no stops, a plot every four seconds.
start_sim --duration 120 --plot-every 4 --no-stops --speed 60 --df-wild 0 \
    --tx-lat "$tx_lat" --tx-lon "$tx_lon"
HOME=$home QT_QPA_PLATFORM=xcb "$app" "${app_df_args[@]}" --map-port "$map_port" \
    >"$demo/kestrelmap.log" 2>&1 &
app_pid=$!
if [ "$map_port" != 0 ]; then
    echo "demo: live map:           http://127.0.0.1:$map_port/ (while the hunt runs)"
fi
pids+=("$app_pid")

if ! wait_for 150 main_window_up; then
    echo "demo: the Kestrelmap window did not appear; its log:" >&2
    cat "$demo/kestrelmap.log" >&2
    exit 1
fi
win=$(main_window)
sleep 0.5
window_origin "$win"
echo "demo: Kestrelmap window $win at $client_x,$client_y on $display"
if [ "$(xdotool search --pid "$app_pid" --onlyvisible --name . 2>/dev/null | wc -l)" -gt 1 ]; then
    echo "demo: warning: a message box is open (COM port not available?)" >&2
fi

plots() {
    local n
    n=$(grep -c '<Placemark>' "$folder/Current_Hunt.kml" 2>/dev/null) || true
    echo "${n:-0}"
}
three_plots() { [ "$(plots)" -ge 3 ]; }
space() {
    xdotool windowfocus --sync "$win" 2>/dev/null || true
    xdotool key space
}

click 36 56   # CmdButton_POSIT_SOURCE: Frame_POSITION (8,8) + (8,24), 41x49
click 516 56  # CmdButton_DF_SOURCE: Frame_DF (488,8) + (8,24), 41x49
sleep 3       # a few RMC sentences and bearing lines: fresh digits

# Plots: the space bar now and then, and the simulator's "@PLOT" every four seconds. Each plot
# keeps the ADD PLOT button busy for three seconds, so the presses are spread out. Plotting goes
# on until the status line can show a fix (at most 40 s).
for pause in 4 4 5 4; do
    check_time "plotting"
    space
    sleep "$pause"
done
if ! wait_for 100 three_plots; then
    echo "demo: warning: only $(plots) plots reached the map file" >&2
fi
fix_shown() { grep -q '<Point>' "$folder/Current_Estimate.kml" 2>/dev/null; }
wait_for 230 fix_shown || echo "demo: warning: no fix shown after $(plots) plots" >&2
sleep 1
shot=$demo/kestrelmap-demo.png
import -window "$win" "$shot" 2>/dev/null || import -window root "$shot"

# EXIT asks "This will close Kestrelmap... Are you SURE ?" with Cancel as the default: choose
# OK explicitly.
close_program() {
    local box tries
    for tries in 1 2 3; do
        alive "$app_pid" || return 0
        click 848 80  # CmdButton_EXIT: Frame_CONTROL (792,8) + (8,56), 97x33
        box=""
        for _ in $(seq 30); do
            box=$(xdotool search --onlyvisible --name '^Close Kestrelmap Program$' 2>/dev/null | head -1)
            [ -n "$box" ] && break
            sleep 0.1
        done
        if [ -z "$box" ]; then
            continue
        fi
        xdotool windowfocus --sync "$box" 2>/dev/null || true
        # The box opens with the focus on Cancel, OK just before it in the focus chain; space
        # presses the focused button (Return would press the default, Cancel).
        case $tries in
            1) xdotool key --delay 200 shift+Tab space ;;
            *) xdotool key --delay 200 Tab space ;;
        esac
        if wait_for 30 gone "$app_pid"; then
            echo "demo: answered the close question with OK (attempt $tries)"
            return 0
        fi
    done
    return 1
}
check_time "closing"
if ! close_program; then
    echo "demo: Kestrelmap did not close after OK; stopping it" >&2
    kill "$app_pid" 2>/dev/null || true
fi
wait "$app_pid" 2>/dev/null || true
kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true

echo "demo: screenshot:         $shot"
print_files
print_estimate
echo "demo: settings file:      $folder/Kestrelmap.ini"
echo "demo: logs:               $demo/*.log"
if [ "$(plots)" -lt 3 ]; then
    echo "demo: fewer than three plots were made" >&2
    exit 1
fi
