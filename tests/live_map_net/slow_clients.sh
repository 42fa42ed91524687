#!/usr/bin/env bash
# slow_clients.sh KESTRELMAP: the live map server while slowhttptest holds 500 slowloris
# connections from 127.0.0.1: the page, the snapshot and Leaflet must still load from
# 127.0.0.2 within a second each, ten times over the attack, and the program must still run
# and answer at the end. Everything it starts ends with it; it talks to loopback only.
# Exit 77 (skipped) when slowhttptest, curl or python3 is missing.
set -u

program=${1:?usage: slow_clients.sh KESTRELMAP}
for tool in slowhttptest curl python3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool is not installed"
        exit 77
    fi
done

readonly kConnections=500
readonly kAttackSeconds=20
readonly kRounds=10
readonly kPaths="/ /hunt.geojson /leaflet/leaflet.js"

work=$(mktemp -d)
pids=()
# Ends what the script started, newest first, by process id: SIGTERM, and SIGKILL to what
# is still there 3 s later.
finish() {
    local i n
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        for ((n = 0; n < 30; n++)); do
            kill -0 "${pids[i]}" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap finish EXIT
trap 'exit 130' INT TERM

port=$(python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
base="http://127.0.0.1:$port"

mkdir -p "$work/home/Kestrelmap"
HOME="$work/home" QT_QPA_PLATFORM=offscreen "$program" --map-port "$port" \
    >"$work/program.log" 2>&1 &
program_pid=$!
pids+=("$program_pid")

# fetch FROM PATH: prints "<status> <seconds>" for one request from loopback address FROM.
fetch() {
    curl --interface "$1" --max-time 5 -s -o /dev/null -w '%{http_code} %{time_total}' \
        "$base$2" || true
}

started=0
for ((n = 0; n < 100; n++)); do
    if [[ "$(fetch 127.0.0.1 /)" == "200 "* ]]; then
        started=1
        break
    fi
    if ! kill -0 "$program_pid" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
if [ "$started" != 1 ]; then
    echo "FAIL: the program did not answer on $base/ within 10 s; its output:"
    cat "$work/program.log"
    exit 1
fi

# A header line every 15 s: longer than the program's 10 s head timer, so only that timer
# ends the connections it admits (16 from one address; the rest it turns away at once).
slowhttptest -H -c "$kConnections" -r 500 -i 15 -x 24 -p 3 -l "$kAttackSeconds" \
    -u "$base/" >"$work/slowhttptest.log" 2>&1 &
attack_pid=$!
pids+=("$attack_pid")
sleep 1.5  # the connections opened (500 a second)

failures=0
for ((round = 1; round <= kRounds; round++)); do
    line="round $round:"
    for path in $kPaths; do
        read -r status seconds <<<"$(fetch 127.0.0.2 "$path")"
        line+=" $path $status ${seconds}s"
        if [ "$status" != 200 ] || ! awk -v t="$seconds" 'BEGIN { exit !(t < 1.0) }'; then
            line+=" (FAILED)"
            failures=$((failures + 1))
        fi
    done
    echo "$line"
    sleep 0.7  # the rounds within the 10 s the program gives the connections it admitted
done

# slowhttptest ends by itself after its test length.
for ((n = 0; n < 150; n++)); do
    kill -0 "$attack_pid" 2>/dev/null || break
    sleep 0.1
done
# slowhttptest's reports without the terminal's carriage returns and colours.
attack_log() { tr '\r' '\n' <"$work/slowhttptest.log" | sed 's/\x1b\[[0-9;]*[A-Za-z]//g'; }
# Its status, one line a report: the connections it holds and the ones the program closed.
echo "slowhttptest ($kConnections connections from 127.0.0.1):"
attack_log | awk '
    /status on/ { line = "  " $6 " second:" }
    /^(pending|connected|error|closed):/ { line = line " " $1 " " $2 }
    /service available:/ { print line " available: " $3 }
    /Test ended|Exit status/ { print "  " $0 }'

held=$(attack_log | awk '/^connected:/ && $2 > most { most = $2 } END { print most + 0 }')
if [ "$held" -eq 0 ]; then
    echo "FAIL: slowhttptest held no connection: no attack took place"
    failures=$((failures + 1))
elif [ "$held" -gt 16 ]; then
    echo "FAIL: the program held $held connections from one address (at most 16)"
    failures=$((failures + 1))
fi

if ! kill -0 "$program_pid" 2>/dev/null; then
    echo "FAIL: the program ended during the attack; its output:"
    cat "$work/program.log"
    exit 1
fi
read -r status seconds <<<"$(fetch 127.0.0.1 /)"
echo "after the attack: / from 127.0.0.1 $status ${seconds}s"
if [ "$status" != 200 ]; then
    failures=$((failures + 1))
fi
if [ "$failures" != 0 ]; then
    echo "FAIL: $failures checks failed (see above)"
    exit 1
fi
echo "PASS"
