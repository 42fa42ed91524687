#!/usr/bin/env bash
# tls_share.sh KESTRELMAP: the shared map over TLS, between two network namespaces this script
# makes (a car and a phone joined by a veth pair, link-local addresses that exist only inside
# them, nothing routed anywhere else). The program in the car namespace has a certificate for
# its address made here by openssl; curl in the phone namespace checks it against that
# certificate. Then a private key others may read: the map is not shared at all.
# Fails (exit 1) when network namespaces cannot be made; exit 77 without curl or openssl.
set -u

program=${1:?usage: tls_share.sh KESTRELMAP}
for tool in curl openssl ip; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool is not installed"
        exit 77
    fi
done

readonly car=km-tls-car-$$
readonly phone=km-tls-phone-$$
readonly car_ip=169.254.78.1
readonly phone_ip=169.254.78.2
readonly port=18431
work=$(mktemp -d)
app=""

finish() {
    if [ -n "$app" ]; then
        kill "$app" 2>/dev/null
        wait "$app" 2>/dev/null
    fi
    ip netns del "$car" 2>/dev/null
    ip netns del "$phone" 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT
trap 'exit 130' INT TERM

fail() {
    echo "FAILED: $*"
    [ -f "$work/app.log" ] && sed 's/^/  app: /' "$work/app.log" | tail -20
    exit 1
}

if ! ip netns add "$car" || ! ip netns add "$phone"; then
    echo "FAILED: this machine cannot make network namespaces (ip netns add; run as root)"
    exit 1
fi
ip link add "km-c$$" type veth peer name "km-p$$" || fail "no veth pair"
ip link set "km-c$$" netns "$car"
ip link set "km-p$$" netns "$phone"
ip -n "$car" addr add "$car_ip/24" dev "km-c$$"
ip -n "$phone" addr add "$phone_ip/24" dev "km-p$$"
for ns in "$car" "$phone"; do
    ip -n "$ns" link set lo up
done
ip -n "$car" link set "km-c$$" up
ip -n "$phone" link set "km-p$$" up

home=$work/home
folder=$home/Kestrelmap
mkdir -p "$folder"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=kestrelmap test car" \
    -addext "subjectAltName=IP:$car_ip" -keyout "$folder/tls.key" -out "$folder/tls.crt" \
    >/dev/null 2>&1 || fail "openssl made no certificate"
chmod 600 "$folder/tls.key"
cat >"$folder/Kestrelmap.conf" <<EOF
[map]
port=$port
share=true
address=$car_ip
certificate=$folder/tls.crt
private_key=$folder/tls.key
EOF

start_app() {
    HOME=$home QT_QPA_PLATFORM=offscreen ip netns exec "$car" "$program" >"$work/app.log" 2>&1 &
    app=$!
    for _ in $(seq 50); do
        ip netns exec "$car" curl -s -o /dev/null "http://127.0.0.1:$port/" && return
        sleep 0.1
    done
    fail "the map did not answer on the car's loopback"
}
stop_app() {
    kill "$app" && wait "$app" 2>/dev/null
    app=""
}
phone_curl() {
    ip netns exec "$phone" curl -s --max-time 5 --cacert "$folder/tls.crt" "$@"
}

start_app
link=$(HOME=$home "$program" --map-link 2>/dev/null)
key=$(cat "$folder/map.key")
[ "$link" = "https://$car_ip:$port/?key=$key" ] || fail "--map-link printed '$link'"
site=https://$car_ip:$port

# status | what the phone sends
checks=(
    "401|$site/"
    "401|$site/hunt.geojson"
    "401|$site/?key=0000000000000000000000000000000${key: -1}"
    "403|-H Host:evil.example:$port $site/"
    "303|$link"
)
for check in "${checks[@]}"; do
    want=${check%%|*}
    # shellcheck disable=SC2086  # the request's words are split on purpose
    got=$(phone_curl -o /dev/null -w '%{http_code}' ${check#*|})
    [ "$got" = "$want" ] || fail "${check#*|}: $got, expected $want"
done
cookie=$(phone_curl -D - -o /dev/null "$link" | tr -d '\r' | sed -n 's/^Set-Cookie: //Ip')
case $cookie in
    kestrelmap_session=*"; HttpOnly; SameSite=Strict; Secure") ;;
    *) fail "the session cookie is '$cookie'" ;;
esac
session=${cookie%%;*}
snapshot=$(phone_curl -H "Cookie: $session" "$site/hunt.geojson")
case $snapshot in
    *'"token"'*) ;;
    *) fail "the snapshot with the session: '${snapshot:0:200}'" ;;
esac
# Plain HTTP on the network gets no answer; loopback stays plain HTTP.
if ip netns exec "$phone" curl -s --max-time 3 -o /dev/null "http://$car_ip:$port/"; then
    fail "plain HTTP from the phone was answered"
fi
got=$(ip netns exec "$car" curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/")
[ "$got" = 200 ] || fail "loopback in plain HTTP: $got"
stop_app

# A private key others may read: refused, and the map stays on the car's loopback.
chmod 644 "$folder/tls.key"
start_app
if phone_curl -o /dev/null "$site/"; then
    fail "the map was shared with a private key others can read"
fi
stop_app
echo "TLS sharing: 5 answers from the phone, the Secure session cookie, no plain HTTP on the" \
    "network, a readable private key refused"
