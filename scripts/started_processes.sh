# shellcheck shell=bash
# Sourced by the scripts that start the program under a private Xvfb (scripts/demo.sh,
# tests/soak/measure_app.sh). Every process they start goes into `pids` and ends with the
# script, newest first, by process id: nothing of the user's is touched.
pids=()
stop_started_processes() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
    done
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        wait "${pids[i]}" 2>/dev/null || true
    done
}
trap stop_started_processes EXIT
trap 'exit 130' INT TERM

# start_private_xvfb LOG: starts Xvfb and points DISPLAY at it. Xvfb picks a free display
# number itself and writes it on the descriptor it is given (the coprocess's pipe) once it
# accepts connections: no number is guessed, so runs side by side never race for one. On
# failure it prints the log and ends the script.
start_private_xvfb() {
    local log=$1 number=""
    coproc xvfb { exec Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp -noreset 2>"$log"; }
    pids+=("$xvfb_PID")
    read -r -t 10 number <&"${xvfb[0]}" || true
    if [[ ! "$number" =~ ^[0-9]+$ ]]; then
        echo "Xvfb did not start; its log:" >&2
        cat "$log" >&2
        exit 1
    fi
    export DISPLAY=":$number"
    unset WAYLAND_DISPLAY
}
