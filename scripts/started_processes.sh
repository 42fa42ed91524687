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

# wait_for TENTHS COMMAND...: waits up to TENTHS tenths of a second for COMMAND to succeed.
wait_for() {
    local tenths=$1
    shift
    local n
    for ((n = 0; n < tenths; n++)); do
        if "$@" >/dev/null 2>&1; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# The main window's title is "Kestrelmap " and the hunt stamp; message boxes are "Kestrelmap".
main_window() { xdotool search --onlyvisible --name '^Kestrelmap [0-9]' 2>/dev/null | head -1; }
main_window_up() { [ -n "$(main_window)" ]; }

# window_origin WINDOW: sets client_x and client_y to the window's position on the screen.
window_origin() {
    read -r client_x client_y < <(xdotool getwindowgeometry "$1" |
        sed -n 's/.*Position: \([0-9-]*\),\([0-9-]*\).*/\1 \2/p')
}

# click X Y: clicks at a point of the window window_origin measured, in the designed
# coordinates of its client area.
click() {
    xdotool mousemove --sync $((client_x + $1)) $((client_y + $2)) click 1
    sleep 0.3
}
