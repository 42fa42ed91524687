#!/usr/bin/env bash
# Figures of the real executable under a private Xvfb (docs/PERFORMANCE.md):
#   tests/soak/measure_app.sh BUILD startup [RUNS]  process start to the main window mapped
#   tests/soak/measure_app.sh BUILD hunt [MINUTES]  resident memory while hunting with
#       kestrel-sim on COM1 at line pace, GPS POS, DF BRG, automatic plots every minute and
#       a remote plot every 20 seconds
# Everything it starts ends with it (by process id).
set -euo pipefail

build=$(cd "${1:?build directory}" && pwd)
mode=${2:?startup or hunt}
app=$build/src/platform/qt/kestrelmap
sim=$build/tools/kestrel-sim/kestrel-sim
work=$build/measure
rm -rf "$work"
mkdir -p "$work/home/Kestrelmap"
folder=$work/home/Kestrelmap

pids=()
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
}
trap cleanup EXIT

# Xvfb picks a free display number itself and writes it on its -displayfd descriptor (the
# coprocess's pipe) once it accepts connections.
coproc xvfb { exec Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp -noreset 2>"$work/xvfb.log"; }
pids+=("$xvfb_PID")
number=""
read -r -t 10 number <&"${xvfb[0]}" || true
if [[ ! "$number" =~ ^[0-9]+$ ]]; then
    echo "Xvfb did not start; its log:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=:$number

# The simulator links COM1 first, so the start-up trial finds a free port and shows no message.
"$sim" --folder "$folder" --port 1 --wall-clock --seed 3 --plot-every 20 >"$work/sim.log" 2>&1 &
pids+=("$!")
for _ in $(seq 50); do
    [ -L "$folder/COM1" ] && break
    sleep 0.1
done

now_us() { echo $(($(date +%s%N) / 1000)); }
window() { xdotool search --onlyvisible --name '^Kestrelmap [0-9]' 2>/dev/null | head -1; }

if [ "$mode" = startup ]; then
    runs=${3:-10}
    times=()
    for ((r = 0; r < runs; r++)); do
        start=$(now_us)
        HOME=$work/home QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1 &
        app_pid=$!
        until [ -n "$(window)" ]; do
            kill -0 "$app_pid" 2>/dev/null || { echo "kestrelmap ended early" >&2; exit 1; }
        done
        end=$(now_us)
        times+=($(((end - start) / 1000)))
        kill "$app_pid"
        wait "$app_pid" 2>/dev/null || true
        sleep 0.5
    done
    sorted=$(printf '%s\n' "${times[@]}" | sort -n | tr '\n' ' ')
    median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
    echo "startup: $runs runs, process start to window mapped (ms): first ${times[0]}," \
        "median $median; all sorted: $sorted"
    exit 0
fi

minutes=${3:-60}
HOME=$work/home QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1 &
app_pid=$!
pids+=("$app_pid")
until [ -n "$(window)" ]; do sleep 0.1; done
win=$(window)
sleep 1
read -r wx wy < <(xdotool getwindowgeometry "$win" |
    sed -n 's/.*Position: \([0-9-]*\),\([0-9-]*\).*/\1 \2/p')
click() {
    xdotool mousemove --sync $((wx + $1)) $((wy + $2)) click 1
    sleep 0.3
}
click 36 56   # GPS POS
click 516 56  # DF BRG
click 744 40  # TMR 1M
rss() { awk '/^VmRSS/ {print $2}' "/proc/$app_pid/status"; }
echo "hunt: minute 0: resident $(rss) KiB"
for ((m = 1; m <= minutes; m++)); do
    sleep 60
    kill -0 "$app_pid" || { echo "kestrelmap ended" >&2; exit 1; }
    if ((m % 5 == 0 || m == 1)); then
        plots=$(grep -c '<Placemark>' "$folder/Current_Hunt.kml" || true)
        echo "hunt: minute $m: resident $(rss) KiB, $plots plots in Current_Hunt.kml"
    fi
done
