#!/usr/bin/env bash
# Figures of the real executable under a private Xvfb (docs/PERFORMANCE.md):
#   tests/soak/measure_app.sh BUILD startup [RUNS]  process start to the main window mapped
#   tests/soak/measure_app.sh BUILD hunt [MINUTES]  resident memory while hunting with
#       kestrel-sim on COM1 at line pace, GPS POS, DF BRG, automatic plots every minute and
#       a remote plot every 20 seconds
#   tests/soak/measure_app.sh BUILD team-idle [SECONDS]  CPU of the idle program with a team
#       link connected to a mosquitto broker of its own on loopback (default 30 s)
# Everything it starts ends with it (by process id).
set -euo pipefail

build=$(cd "${1:?build directory}" && pwd)
mode=${2:?startup, hunt or team-idle}
app=$build/src/platform/qt/kestrelmap
sim=$build/tools/kestrel-sim/kestrel-sim
work=$build/measure
rm -rf "$work"
mkdir -p "$work/home/Kestrelmap"
folder=$work/home/Kestrelmap

# shellcheck source=scripts/started_processes.sh
. "$(dirname "$0")/../../scripts/started_processes.sh"

start_private_xvfb "$work/xvfb.log"

# The simulator links COM1 first, so the start-up trial finds a free port and shows no message.
# For the idle figure it sends nothing at all.
if [ "$mode" = team-idle ]; then
    sim_args=(--no-gps --no-df)
else
    sim_args=(--wall-clock --seed 3 --plot-every 20)
fi
"$sim" --folder "$folder" --port 1 "${sim_args[@]}" >"$work/sim.log" 2>&1 &
pids+=("$!")
for _ in $(seq 50); do
    [ -L "$folder/COM1" ] && break
    sleep 0.1
done

now_us() { echo $(($(date +%s%N) / 1000)); }
# The program's window within 15 s, or the script ends with its log.
await_window() {
    wait_for 150 main_window_up && return 0
    echo "the Kestrelmap window did not appear; its log:" >&2
    cat "$work/app.log" >&2
    exit 1
}

if [ "$mode" = startup ]; then
    runs=${3:-10}
    times=()
    for ((r = 0; r < runs; r++)); do
        start=$(now_us)
        HOME=$work/home QT_QPA_PLATFORM=xcb "$app" --map-port 0 >"$work/app.log" 2>&1 &
        app_pid=$!
        until main_window_up; do  # no sleep: the figure is the time to the window
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

if [ "$mode" = team-idle ]; then
    seconds=${3:-30}
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    mosquitto_passwd -c -b "$work/passwd" car1 pw-car1
    printf '%s\n' "listener $port 127.0.0.1" "allow_anonymous false" \
        "password_file $work/passwd" "log_dest file $work/broker.log" "log_type all" \
        >"$work/mosquitto.conf"
    [ "$(id -u)" = 0 ] && echo "user root" >>"$work/mosquitto.conf"
    "$(command -v mosquitto || echo /usr/sbin/mosquitto)" -c "$work/mosquitto.conf" &
    pids+=("$!")
    printf '[team]\nname=red\nvehicle=car1\nhunt=idle\nbroker=127.0.0.1:%s\npassword_file=team.pw\n' \
        "$port" >"$folder/Kestrelmap.conf"
    echo pw-car1 >"$folder/team.pw"
    HOME=$work/home QT_QPA_PLATFORM=xcb "$app" --map-port 0 >"$work/app.log" 2>&1 &
    app_pid=$!
    pids+=("$app_pid")
    await_window
    for _ in $(seq 100); do
        grep -q 'as kestrelmap/red/idle/car1' "$work/broker.log" 2>/dev/null && break
        sleep 0.1
    done
    grep -q 'as kestrelmap/red/idle/car1' "$work/broker.log" || { echo "no team link" >&2; exit 1; }
    sleep 5  # start-up settles
    ticks() { awk '{print $14 + $15}' "/proc/$app_pid/stat"; }
    on_cpu_ns() { cat /proc/"$app_pid"/task/*/schedstat | awk '{n += $1} END {print n}'; }
    t0=$(ticks) n0=$(on_cpu_ns) w0=$(now_us)
    sleep "$seconds"
    t1=$(ticks) n1=$(on_cpu_ns) w1=$(now_us)
    kill -0 "$app_pid" || { echo "kestrelmap ended" >&2; exit 1; }
    grep -q 'kestrelmap/red/idle/car1 disconnected\|Client kestrelmap/red/idle/car1 .*closed' \
        "$work/broker.log" && { echo "the team link dropped" >&2; exit 1; }
    awk -v t=$((t1 - t0)) -v hz="$(getconf CLK_TCK)" -v ns=$((n1 - n0)) -v us=$((w1 - w0)) \
        'BEGIN { printf "team-idle: %.1f s connected and idle: %d ticks of utime + stime " \
                 "(%.3f %% of a core); all threads %.1f ms on a CPU (%.4f %%)\n", \
                 us / 1e6, t, 100 * t / hz / (us / 1e6), ns / 1e6, 100 * ns / 1e3 / us }'
    exit 0
fi

minutes=${3:-60}
HOME=$work/home QT_QPA_PLATFORM=xcb "$app" --map-port 0 >"$work/app.log" 2>&1 &
app_pid=$!
pids+=("$app_pid")
await_window
sleep 1
window_origin "$(main_window)"
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
